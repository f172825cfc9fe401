// The main window: the program's one long-lived window and the owner of its
// run-time objects (the port library's initialisation, the reader port, the
// standard and user profiles, the language object and the settings). It
// shows the last card, edits formats, picks the port and the profile, and
// lives in the notification area when hidden.
//
// The window's code is split by topic: MainForm.cpp (creation, start-up,
// window and tray behaviour, control states, destruction), MainCards.cpp
// (the card road bound to the controls), MainFormats.cpp (format lists and
// editor), MainProfiles.cpp, MainPorts.cpp, MainActions.cpp (pages,
// languages, help).
#pragma once

#include <QDeadlineTimer>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "AppLanguage.h"
#include "CardPipeline.h"
#include "Profiles.h"
#include "ylvane.h"

class IAppDialogs;
class QAction;
class QCheckBox;
class QComboBox;
class QContextMenuEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTabWidget;
class QTableWidget;
class QTextEdit;
class QToolButton;
class QTranslator;
class TAppConfig;
class TMyCmdLineInfo;
class TPageControl;
class TPort;
class TTransfer;

// Position of a window being moved: snapped to the edges of the work area
// when it comes within 10 pixels of one (left before right, top before
// bottom).
QPoint SnapToWorkArea(const QPoint& APos, const QSize& ASize, const QRect& AWorkArea);

class TfmMain : public QWidget, private ICardView, private ICardDelivery, private ICardFormats {
  Q_OBJECT

 public:
  // Runs the new-profile dialog modally on AProfile, which it creates (and
  // binds to its file) on OK; true when the dialog ended with OK.

  // The window's class name, which a second instance looks for.
  static constexpr const char* kWindowClass = "Sorvex";

  // Creates the window as the program's start does: it initialises the port
  // library, loads the formats, opens nothing yet, and queues the deferred
  // start-up. Takes the settings (held in an update by the caller) and the
  // command line. Check InitFailed() before going on.
  TfmMain(std::unique_ptr<TAppConfig> AConfig, std::unique_ptr<TMyCmdLineInfo> ACmdLine,
          IAppDialogs& ADialogs, QWidget* AParent = nullptr);
  ~TfmMain() override;

  // The port library did not start: the error has been shown and the
  // program must end.
  bool InitFailed() const { return m_fInitFailed; }
  TAppConfig& Config() { return *m_config; }

  // "Show yourself" from a second instance (CD_SHOWAPP): the tray icon is
  // made anew and the window comes to the front.
  void WMCopyData(uint32_t AData);
  void ShowAppForm();
  // A click on the tray icon: hides a window in plain view, brings a
  // hidden or covered one to the front.
  void TrayIcon1Click();
  // Ends the program (the action Exit): the one way to close the window.
  void Exit();

  void UpdateControls();

  // The port list (refreshed on device arrival and removal) and switching.
  void UpdatePortList();
  void DoEnableCvt(bool AEnable);
  // Posted by the port library's notifier thread; runs on the GUI thread.
  // AArrival: a device arrived, which may be the pulled-out reader back.
  void WMUpdatePorts(bool AArrival = false);

  // Format lists and the current format of each class.
  void FillFmtCombo(TCvtFmtType ATip, QComboBox* AList);
  void ShowFmtInEditor(const TCvtFmt* AFmt, bool AReadOnly, bool AClear);
  void SetCurFmtName(TCvtFmtType ATip, const QString& AFmtName, bool AUpdate);
  void SetCurFmtStd(TCvtFmtType ATip, bool AShowStd, bool AUpdate);
  void SetCurFmt(TCvtFmtType ATip, const QString& AFmtName, bool AShowStd, bool AUpdate);
  void SetCurMULFmtName(const QString& AFmtName, bool AUpdate) { SetCurFmtName(cft_MUL, AFmtName, AUpdate); }
  void SetCurM1KFmtName(const QString& AFmtName, bool AUpdate) { SetCurFmtName(cft_M1K, AFmtName, AUpdate); }
  void SetCurHidFmtName(const QString& AFmtName, bool AUpdate) { SetCurFmtName(cft_Hid, AFmtName, AUpdate); }
  void SetCurEmmFmtName(const QString& AFmtName, bool AUpdate) { SetCurFmtName(cft_Emm, AFmtName, AUpdate); }
  void SetCurICFmtName(const QString& AFmtName, bool AUpdate) { SetCurFmtName(cft_iCode, AFmtName, AUpdate); }
  void SetCurExFmtName(const QString& AFmtName, bool AUpdate) { SetCurFmtName(cft_Ex, AFmtName, AUpdate); }
  void SetCurMULFmtStd(bool AShowStd, bool AUpdate) { SetCurFmtStd(cft_MUL, AShowStd, AUpdate); }
  void SetCurM1KFmtStd(bool AShowStd, bool AUpdate) { SetCurFmtStd(cft_M1K, AShowStd, AUpdate); }
  void SetCurHidFmtStd(bool AShowStd, bool AUpdate) { SetCurFmtStd(cft_Hid, AShowStd, AUpdate); }
  void SetCurEmFmtStd(bool AShowStd, bool AUpdate) { SetCurFmtStd(cft_Emm, AShowStd, AUpdate); }
  void SetCurICFmtStd(bool AShowStd, bool AUpdate) { SetCurFmtStd(cft_iCode, AShowStd, AUpdate); }
  void SetCurExFmtStd(bool AShowStd, bool AUpdate) { SetCurFmtStd(cft_Ex, AShowStd, AUpdate); }
  void SetCurMULFmt(const QString& AName, bool AStd, bool AUpdate) { SetCurFmt(cft_MUL, AName, AStd, AUpdate); }
  void SetCurM1kFmt(const QString& AName, bool AStd, bool AUpdate) { SetCurFmt(cft_M1K, AName, AStd, AUpdate); }
  void SetCurHidFmt(const QString& AName, bool AStd, bool AUpdate) { SetCurFmt(cft_Hid, AName, AStd, AUpdate); }
  void SetCurEmmFmt(const QString& AName, bool AStd, bool AUpdate) { SetCurFmt(cft_Emm, AName, AStd, AUpdate); }
  void SetCurICFmt(const QString& AName, bool AStd, bool AUpdate) { SetCurFmt(cft_iCode, AName, AStd, AUpdate); }
  void SetCurExFmt(const QString& AName, bool AStd, bool AUpdate) { SetCurFmt(cft_Ex, AName, AStd, AUpdate); }
  // Deletes a custom format of the class by name, after the user said yes.
  void DoDeleteUsrFmt(TCvtFmtType ATip, const QString& AFmtName);
  void ShowFmtPan(bool AShow);
  static TCvtFmtType GetPageCvtTip(int APageN);
  static int GetCvtTipPage(TCvtFmtType ACvtTip);

  // The tray menu's format submenus (standard or custom, per class). A
  // submenu is built at the next tray popup once its bit in
  // m_nMenuInitFlags is clear.
  void UpdateFmtSubmenu(TCvtFmtType ATip, bool AStd);
  static QString GetCheckedItemCaption(const QMenu* ASubmenu);
  QMenu* FmtSubmenu(TCvtFmtType ATip, bool AStd) const;
  static int FmtSubmenuBit(TCvtFmtType ATip, bool AStd);
  // Asks for the class's custom submenu to be built again at the next popup.
  void RebuildCustomSubmenu(TCvtFmtType ATip);
  uint32_t MenuInitFlags() const { return m_nMenuInitFlags; }

  // Profiles.
  void FillProfileCombo();
  void SetCurUsrProfile(const QString& AProfileName, bool AUpdate);
  // Deletes the current profile's file after asking; with no file open,
  // empties the formats held instead.
  void DeleteUsrProfile();

  // Pages, languages, help.
  void SetCurPage(int APageN, bool AUpdate);
  void UpdateLangMenu();
  void SetLang(int AIdx);
  void ShowHelp();

  // The card road, entered by the reader port's hand-over.
  CardPipeline& Pipeline() { return m_pipeline; }
  TPort& Port() { return *m_port; }
  TStdProfile& StdProfile() { return *m_oStdProfile; }
  TUsrProfile& UsrProfile() { return *m_oUsrProfile; }
  TAppLanguage& Language() { return m_oLanguage; }
  const TALangs& Langs() const { return m_aLangs; }
  // The window position changed since start-up and is stored at the end.
  bool FormPosChanged() const { return m_fFormPosChg; }
  bool TopMost() const { return FTopMost; }
  void SetTopMost(bool AValue);
  void SetTransLog(bool AValue);
  QSystemTrayIcon* TrayIcon() const { return TrayIcon1; }
  bool ActiveIcon() const { return m_fActiveIcon; }

 protected:
  void closeEvent(QCloseEvent* AEvent) override;
  void changeEvent(QEvent* AEvent) override;
  void moveEvent(QMoveEvent* AEvent) override;
  void keyPressEvent(QKeyEvent* AEvent) override;
  void contextMenuEvent(QContextMenuEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  // Raises the control-update count for a scope: change handlers ignore the
  // program's own changes while it is above 0.
  class CtrlUpdate {
   public:
    explicit CtrlUpdate(TfmMain& AForm) : m_form(AForm) { ++m_form.m_nCtrlUpdate; }
    ~CtrlUpdate() { --m_form.m_nCtrlUpdate; }

   private:
    TfmMain& m_form;
  };

  // The controls of one format class.
  struct ClassControls {
    QWidget* tab = nullptr;
    QLabel* label = nullptr;
    QComboBox* list = nullptr;
    QCheckBox* std = nullptr;
    QToolButton* del = nullptr;
    QAction* tabItem = nullptr;  // in the page menu
    void (TfmMain::*keyPress)(char16_t) = nullptr;  // the list's key handler
  };

  void CreateControls();
  // Places the controls whose texts decide their size (labels and their
  // fields, check boxes, the rows of tabs): again whenever the texts change.
  void ArrangeControls();
  // Problems that come back at every card or change while they last: each
  // is told once when it begins, in the window's status line (which the
  // window grows for) and on standard error, and leaves the status line
  // when it is over. An empty text: over.
  enum TProblem { probTransferLog, probSettings, kProblemCount };
  void SetProblem(TProblem AKind, const QString& AText);
  // The status line under the two halves, as high as its text needs at the
  // window's width; none while there is nothing to tell.
  void ArrangeStatus();
  void CreateMenus();
  void FormCreate();
  void WMDelayedInit();
  void HideToTray();
  void SetIcon(bool AActive);
  // Qt's own texts (standard buttons, edit menus) in the loaded language.
  void LoadQtTranslation();

  // ICardView
  void ShowPortText(const QString& ALine) override;
  void ShowCardBytes(const QStringList& ACells) override;
  void ShowCardType(const QString& AName) override;
  void ShowLastFmt(const QString& AText) override;
  void ShowTrans(const TransDisplay& AShown) override;
  void ShowWindow(const QString& ATitle) override;
  void ShowClassPage(TCvtFmtType AClass) override;
  // ICardDelivery
  QString TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow) override;
  void TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow) override;
  void WriteLog(TovkCardType ACardType, bool AStd, const QString& AFmtName, const QString& AShown,
                const QString& AWindow, const QString& ANotTyped) override;
  // ICardFormats
  const TCvtFmt* CurCvtFmt(TCvtFmtType AClass, bool& AStd) override;

  void PortReceive();
  void RegisterReader();
  // Opens the port of a pulled-out reader again when the port list holds
  // its name and the device behind it is the reader. The kernel tells of the
  // reader before udev has given its node the group, mode and access list
  // that let this user in: a refused open is tried again for a while (on a
  // timer), and the user is told when the port still does not open.
  void ReopenLostPort();
  void RetryReopenLostPort();

  // Change handlers of the controls.
  void cbPortsChange();
  void chkEnabledClick();
  void miEnable2Click();
  void rgTranMethodClick();
  void FmtListChange(TCvtFmtType ATip);
  void FmtListKeyPress(TCvtFmtType ATip, char16_t AKey);
  void FmtStdClick(TCvtFmtType ATip);
  // Stores the class's current format: its name and whether it is a
  // standard one, always together.
  void StoreCurFmt(TCvtFmtType ATip);
  void FmtDelClick(TCvtFmtType ATip);
  void FmtEditChange();
  void FmtEditChanged();
  void btnApplyFmtClick();
  // Stores the editor's format into the class: a new one, or the one of the
  // same name. False when nothing was stored.
  bool ApplyEditedFmt(TCvtFmtType ATip, const QString& AName, const QString& AHint, const QString& ATempl,
                      const QString& ARepl);
  // The handlers of each class's controls.
  void cbMULFmtChange() { FmtListChange(cft_MUL); }
  void cbM1kFmtChange() { FmtListChange(cft_M1K); }
  void cbHidFmtChange() { FmtListChange(cft_Hid); }
  void cbEmFmtChange() { FmtListChange(cft_Emm); }
  void cbICFmtChange() { FmtListChange(cft_iCode); }
  void cbExFmtChange() { FmtListChange(cft_Ex); }
  void cbMULFmtKeyPress(char16_t AKey) { FmtListKeyPress(cft_MUL, AKey); }
  void cbM1kFmtKeyPress(char16_t AKey) { FmtListKeyPress(cft_M1K, AKey); }
  void cbHidFmtKeyPress(char16_t AKey) { FmtListKeyPress(cft_Hid, AKey); }
  void cbEmFmtKeyPress(char16_t AKey) { FmtListKeyPress(cft_Emm, AKey); }
  void cbICFmtKeyPress(char16_t AKey) { FmtListKeyPress(cft_iCode, AKey); }
  void cbExFmtKeyPress(char16_t AKey) { FmtListKeyPress(cft_Ex, AKey); }
  void btnDelMULFmtClick() { FmtDelClick(cft_MUL); }
  void btnDelM1kFmtClick() { FmtDelClick(cft_M1K); }
  void btnDelHidFmtClick() { FmtDelClick(cft_Hid); }
  void btnDelEmFmtClick() { FmtDelClick(cft_Emm); }
  void btnDelICFmtClick() { FmtDelClick(cft_iCode); }
  void btnDelExFmtClick() { FmtDelClick(cft_Ex); }
  void chkMULFmtStdClick() { FmtStdClick(cft_MUL); }
  void chkM1KFmtStdClick() { FmtStdClick(cft_M1K); }
  void chkHidFmtStdClick() { FmtStdClick(cft_Hid); }
  void chkEmFmtStdClick() { FmtStdClick(cft_Emm); }
  void chkICFmtStdClick() { FmtStdClick(cft_iCode); }
  void chkExFmtStdClick() { FmtStdClick(cft_Ex); }
  void edtNameChange() { FmtEditChange(); }
  void edtHintChange() { FmtEditChange(); }
  void edtTemplateChange() { FmtEditChange(); }
  void edtReplacesChange() { FmtEditChange(); }
  void cbDefCmtChange();
  void btnShowFmtPanClick();
  void cbUsrProfileChange();
  void btnDelProfileClick();
  void btnNewProfileClick();
  void ShowProfileStdFlags();
  // The new-profile dialog, run modally on the user profile: true on OK,
  // with the profile made stored as the one the next start opens.
  bool RunNewProfileDialog();
  void actSettingsExecute();
  void DoAbout();
  void cbUsrProfileKeyPress(char16_t AKey);
  void PageControl1Change(int AIndex);
  void TabItemClick(TCvtFmtType ATip);
  void miLangClick(int ATag);
  void menuContextPopup();
  void labMenuLinkClick();
  // A menu asked for at APos (the window's coordinates) by the mouse or by
  // the keyboard, which the control there or the focused one left to the
  // window.
  void FormContextPopup(const QPoint& APos, bool AKeyboard);
  // Asks the focused control for its menu as the Menu key does.
  void RequestKeyboardMenu();
  void menuTrayPopup();
  void menuTabsPopup();
  void FillFmtSubmenu(QMenu* ASubmenu, const char* APrefix, int ABit, TCvtFmtType ATip, bool AStd);
  void FmtItemClick(TCvtFmtType ATip, bool AStd);
  void actAutorunExecute();
  void actTopMostExecute();
  void actOnlyOneInstanceExecute();
  void actShowTransFmtParExecute();
  void actTransLogExecute();

  QComboBox* FmtList(TCvtFmtType ATip) const { return m_classes[ValidTip(ATip)].list; }
  static TCvtFmtType ValidTip(TCvtFmtType ATip) { return ATip < kCvtFmtTypeCount ? ATip : cft_MUL; }
  // The format an item of a class list carries.
  const TCvtFmt* ItemFmt(TCvtFmtType ATip, int AIndex) const;
  const TCvtFmt* RefillClass(TCvtFmtType ATip, bool AShowStd);
  int ActivePage() const;
  bool PageVisible(int APageN) const;
  void SetPageVisible(int APageN, bool AVisible);
  void StartupError(QString& AErrors, const QString& AText);
  QString OpenError(HRESULT AResult, const QString& APort) const;

  // Settings, command line and services.
  std::unique_ptr<TAppConfig> m_config;
  std::unique_ptr<TMyCmdLineInfo> m_cmdLine;
  IAppDialogs& m_dialogs;
  bool m_fInitFailed = false;
  bool m_fLibInit = false;
  bool m_fExiting = false;

  // Fields of the window.
  bool FAutoRun = false;
  bool FTopMost = false;
  bool FOnlyOneInst = false;
  QString m_sLogDir;
  std::unique_ptr<TStdProfile> m_oStdProfile;
  std::unique_ptr<TUsrProfile> m_oUsrProfile;
  std::unique_ptr<TTransfer> m_transfer;
  std::unique_ptr<TPort> m_port;
  QTimer m_reopenTimer;             // the next try of a refused reopen
  QDeadlineTimer m_reopenDeadline;  // when the tries end
  CardPipeline m_pipeline;
  TAppLanguage m_oLanguage;
  TALangs m_aLangs;
  std::unique_ptr<QTranslator> m_qtTranslation;  // installed while a language is loaded
  bool m_fActiveIcon = false;
  bool m_fShowFmtPan = true;
  bool m_fFormPosChg = false;
  int m_nCtrlUpdate = 0;
  bool m_fApplyChg = false;
  uint32_t m_nMenuInitFlags = 0;
  QMenu* m_fmtSubmenus[2][kCvtFmtTypeCount] = {};  // [custom, standard][class]
  QPoint m_startPos;  // where the window was placed at start-up
  bool m_fStarted = false;
  std::array<QString, kProblemCount> m_problems;  // what the status line tells

  // Controls, under the names language files address them by.
  QGroupBox* grMain = nullptr;
  QCheckBox* chkEnabled = nullptr;
  QComboBox* cbPorts = nullptr;
  QToolButton* btnUpdPortsList = nullptr;
  QLabel* labMenu = nullptr;
  QPushButton* btnShowFmtPan = nullptr;
  QGroupBox* rgTranMethod = nullptr;
  std::array<QRadioButton*, 2> m_tranItems{};
  QGroupBox* grLastTrans = nullptr;
  QLabel* labCardTip = nullptr;
  QLabel* labLastFmt = nullptr;
  QLabel* labTrans = nullptr;
  QLabel* labWindow = nullptr;
  QLineEdit* edtCardTip = nullptr;
  QTableWidget* gridBytes = nullptr;
  QLineEdit* edtLastFmt = nullptr;
  QTextEdit* edtTrans = nullptr;
  QLineEdit* edtWindow = nullptr;
  QGroupBox* grPortData = nullptr;
  QLineEdit* edtPortOutput = nullptr;
  QGroupBox* grFmtPan = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  TPageControl* PageControl1 = nullptr;
  std::array<ClassControls, kCvtFmtTypeCount> m_classes{};
  QWidget* panFmtEdit = nullptr;
  QLabel* labName = nullptr;
  QLabel* labHint = nullptr;
  QLabel* labTemplate = nullptr;
  QLabel* labReplaces = nullptr;
  QLineEdit* edtName = nullptr;
  QPlainTextEdit* edtHint = nullptr;
  QLineEdit* edtTemplate = nullptr;
  QLineEdit* edtReplaces = nullptr;
  QPushButton* btnApplyFmt = nullptr;
  QLabel* labDefCmt = nullptr;
  QLabel* labProfile = nullptr;
  QComboBox* cbDefCmt = nullptr;
  QComboBox* cbUsrProfile = nullptr;
  QToolButton* btnNewProfile = nullptr;
  QToolButton* btnDelProfile = nullptr;
  QLabel* labStatus = nullptr;
  QSystemTrayIcon* TrayIcon1 = nullptr;
  QMenu* menuTray = nullptr;
  QMenu* menuContext = nullptr;
  QMenu* menuTabs = nullptr;
  QMenu* miLanguages = nullptr;
  QAction* miLangDefault = nullptr;
  QAction* miEnable = nullptr;
  QAction* miEnable2 = nullptr;
  QAction* actAutorun = nullptr;
  QAction* actTopMost = nullptr;
  QAction* actOnlyOneInstance = nullptr;
  QAction* actShowTransFmtPar = nullptr;
  QAction* actTransLog = nullptr;
  QAction* actSettings = nullptr;
  QAction* actHelpContent = nullptr;
  QAction* actHelpAbout = nullptr;
  QAction* actExit = nullptr;
};
