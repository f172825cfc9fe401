// The main window: creation, the deferred start-up, window and tray
// behaviour, control states and destruction.
#include "MainForm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDebug>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTranslator>
#include <QWindow>

#include "AppConfig.h"
#include "AppDialogs.h"
#include "AppMessages.h"
#include "AppUtils.h"
#include "CommandLine.h"
#include "MainInternal.h"
#include "ProgramIcon.h"
#include "ReaderPort.h"
#include "Transfer.h"
#include "XDesktop.h"
#include "ylvane.h"

bool WindowStandsAt(const QWidget& AWindow, const QPoint& APos) {
  x11::XDesktop* desktop = WindowDesktop();
  int x = 0, y = 0;
  return !desktop || !desktop->TopLevelPosition(CurrentWindowId(AWindow), x, y) || QPoint(x, y) == APos;
}

QPoint SnapToWorkArea(const QPoint& APos, const QSize& ASize, const QRect& AWorkArea) {
  const int L = AWorkArea.left(), T = AWorkArea.top();
  // QRect's right and bottom are the last pixel inside; the window's right
  // edge may lie one past it.
  const int R = AWorkArea.left() + AWorkArea.width(), B = AWorkArea.top() + AWorkArea.height();
  const int R1 = R - ASize.width(), B1 = B - ASize.height();
  int x = APos.x(), y = APos.y();
  if (std::abs(L - x) <= 10) x = L;
  if (std::abs(R1 - x) <= 10) x = R1;
  if (std::abs(T - y) <= 10) y = T;
  if (std::abs(B1 - y) <= 10) y = B1;
  return QPoint(x, y);
}

TfmMain::TfmMain(std::unique_ptr<TAppConfig> AConfig, std::unique_ptr<TMyCmdLineInfo> ACmdLine,
                 IAppDialogs& ADialogs, QWidget* AParent)
    // A window of one size: no maximise button. The minimise button stays,
    // which hides the window to the tray; so does the close box.
    : QWidget(AParent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_config(std::move(AConfig)),
      m_cmdLine(std::move(ACmdLine)),
      m_dialogs(ADialogs),
      m_pipeline(*this, *this, *this, &SystemBeep()) {
  setObjectName(QStringLiteral("fmMain"));
  setWindowTitle(QStringLiteral("Sorvex"));
  // Its dialogs and message boxes take it over from it.
  setWindowIcon(ProgramIcon());
  m_reopenTimer.callOnTimeout(this, &TfmMain::RetryReopenLostPort);
  CreateControls();
  CreateMenus();
  // The settings are stored from many places; whichever meets a failure,
  // the user hears of it here.
  m_config->SetOnStoreErrorChanged([this] {
    const QString& why = m_config->StoreError();
    SetProblem(probSettings, why.isEmpty() ? QString() : FormatAppMsg(msgSettingsNotSaved, {why}));
  });
  FormCreate();
}

void TfmMain::FormCreate() {
  FAutoRun = FTopMost = FOnlyOneInst = false;
  m_pipeline.SetTransMethod(tm_Keyboard);
  m_pipeline.SetTransLog(false);

  m_config->BeginUpdate(true);
  const HRESULT init = YV_Initialize(m_config->GetDebugMode() ? YV_INIT_DEBUG : 0);
  if (init != S_OK) {
    m_config->EndUpdate();
    m_fInitFailed = true;
    m_dialogs.ShowError(this, QStringLiteral("YV_Initialize error: 0x%1").arg(QString::number(uint32_t(init), 16).toUpper().rightJustified(8, u'0')));
    return;
  }
  m_fLibInit = true;
  RegisterReader();

  m_oLanguage.AddForm(this);
  QStringList excludes{QStringLiteral("*-N*-Caption")};
  for (QWidget* w : std::initializer_list<QWidget*>{cbPorts, FmtList(cft_MUL), FmtList(cft_M1K), FmtList(cft_Hid),
                                                    FmtList(cft_Emm), FmtList(cft_iCode), FmtList(cft_Ex),
                                                    edtReplaces, edtTemplate, edtName})
    excludes.append(QStringLiteral("*-%1-Text").arg(w->objectName()));
  // The status line shows the program's messages, not a text of the form.
  excludes.append(QStringLiteral("*-%1-Caption").arg(labStatus->objectName()));
  m_oLanguage.SetComponentExcludes(m_oLanguage.ComponentExcludes() + excludes);
  m_oLanguage.SetComponentIncludes(m_oLanguage.ComponentIncludes() +
                                   QStringList{QStringLiteral("*-%1-Items.Strings*").arg(rgTranMethod->objectName())});

  m_nCtrlUpdate = 0;
  m_nMenuInitFlags = 0;
  m_fFormPosChg = false;

  for (int i = 0; i < gridBytes->columnCount(); ++i)
    gridBytes->item(0, i)->setText(QString::number(i, 16).toUpper());

  m_oStdProfile = std::make_unique<TStdProfile>();
  m_oStdProfile->LoadFromRes(QStringLiteral("STDFMTS"));
  m_oUsrProfile = std::make_unique<TUsrProfile>(m_oStdProfile.get());

  m_fActiveIcon = false;
  TrayIcon1->setIcon(WindowImage(imgDisabled));
  m_fShowFmtPan = true;

  m_transfer = std::make_unique<TTransfer>();
  m_port = std::make_unique<TPort>();
  m_port->SetOnReceive([this](TPort*) { PortReceive(); });
  edtPortOutput->clear();

  FAutoRun = GetAutorun();

  {
    CtrlUpdate hold(*this);
    for (int c = 0; c < kCvtFmtTypeCount; ++c) SetCurFmtStd(TCvtFmtType(c), true, true);
    UpdatePortList();
    if (cbPorts->currentIndex() < 0 && cbPorts->count() > 0 && cbPorts->currentText().isEmpty())
      cbPorts->setCurrentIndex(0);
    FillProfileCombo();
    UpdateLangMenu();
    const QPoint pos = m_config->GetMainFormPos();
    if (pos != QPoint(-1, -1)) {
      move(pos);
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - rect().center());
    }
    m_startPos = pos;
    if (m_config->GetTopMost()) SetTopMost(true);
    cbDefCmt->setCurrentIndex(m_config->GetDefFormat());
    m_pipeline.SetDefCmt(std::max(0, cbDefCmt->currentIndex()));
  }

  m_config->EndUpdate();
  TrayIcon1->setVisible(true);
  QMetaObject::invokeMethod(this, &TfmMain::WMDelayedInit, Qt::QueuedConnection);
}

void TfmMain::StartupError(QString& AErrors, const QString& AText) {
  if (!AErrors.isEmpty()) AErrors += QStringLiteral("\r\n");
  AErrors += AText;
}

void TfmMain::WMDelayedInit() {
  QString errors;
  {
    CtrlUpdate hold(*this);
    m_config->BeginUpdate(true);
    // The panel first, so that the window is shown at its final width. A
    // window resized after it is shown but before the window manager has
    // framed it is placed with its stored position (the frame's) taken for
    // the inside's, one frame further up and left at every start.
    ShowFmtPan(m_config->GetShowFmtPan());
    if ((m_cmdLine && m_cmdLine->m_fAutorun && QSystemTrayIcon::isSystemTrayAvailable()) || isMinimized())
      HideToTray();
    else
      show();
    // Start-up's own placing and panel are no move of the user's.
    m_fFormPosChg = false;

    SetCurPage(m_config->GetActivePageN(), false);
    FOnlyOneInst = m_config->GetSingleInstance();
    m_pipeline.SetTransLog(m_config->GetTransLog());
    m_pipeline.SetShowTransFmtPar(m_config->GetTransFmtPar());
    m_sLogDir = m_config->GetLogDir();
    if (m_sLogDir.isEmpty()) m_sLogDir = GetAppDataDir(true, false);
    m_pipeline.SetTransMethod(m_config->GetTransMethod());
    m_transfer->SetPressKeyDelay(m_config->GetPressKeyDelay());
    m_transfer->SetReleaseKeyDelay(m_config->GetReleaseKeyDelay());
    m_port->SetAltWorkPort(m_config->GetAltWorkPort());

    // The profile: from the command line, else the stored one.
    const QString cmdProfile = m_cmdLine ? m_cmdLine->m_sFileName : QString();
    if (!cmdProfile.isEmpty()) {
      const QString path = TProfile::GetProfilePath(cmdProfile, false);
      if (!path.isEmpty() && QFileInfo::exists(path))
        SetCurUsrProfile(cmdProfile, false);
      else if (isVisible())
        StartupError(errors, FormatAppMsg(msgOpenProfileFailed, {cmdProfile}));
    } else if (const QString stored = m_config->GetUserProfile(); !stored.isEmpty()) {
      SetCurUsrProfile(stored, false);
    }

    // The current format of each class.
    const bool cmdProfileMissing = !cmdProfile.isEmpty() && !m_oUsrProfile->Opened();
    if (!cmdProfileMissing) {
      for (int c = 0; c < kCvtFmtTypeCount; ++c) {
        const auto tip = TCvtFmtType(c);
        if (m_cmdLine && !m_cmdLine->m_sFmt[c].isEmpty()) {
          SetCurFmt(tip, m_cmdLine->m_sFmt[c], m_cmdLine->m_fFmtStd[c], true);
        } else if (!m_oUsrProfile->Opened()) {
          const QString stored = m_config->GetFormat(tip);
          if (!stored.isEmpty()) SetCurFmt(tip, stored, m_config->GetFormatStd(tip), false);
        }
      }
    }

    // The port: from the command line, else the stored one when it was
    // switched on last time.
    const QString cmdPort = m_cmdLine ? m_cmdLine->m_sPort : QString();
    if (!cmdPort.isEmpty()) {
      m_port->SetPort(cmdPort);
      if (const HRESULT hr = m_port->Open(); hr != S_OK) StartupError(errors, OpenError(hr, cmdPort));
      cbPorts->setCurrentText(cmdPort);
    } else if (const QString stored = m_config->GetPort(); !stored.isEmpty()) {
      // The stored port is the user's choice whether or not it was on:
      // it is shown (and taken by the next switch-on), and opened only
      // when the last switch turned it on.
      m_port->SetPort(stored);
      if (m_config->GetPortEnable()) m_port->Open();
      cbPorts->setCurrentText(stored);
    }

    // The language: the stored one, else the user's own when a file has it.
    int lang = FindLangIndex(m_aLangs, m_config->GetLanguage());
    if (lang < 0) lang = FindLangIndex(m_aLangs, SystemLangId() & 0xFFFF);
    if (lang >= 0) SetLang(lang);

    // Hiding the active page's tab makes another page the active one: the
    // editor must then show that page's format.
    const int page = ActivePage();
    for (int c = 0; c < kCvtFmtTypeCount; ++c) SetPageVisible(c, m_config->GetTabVis(TCvtFmtType(c)));
    if (ActivePage() != page) SetCurPage(ActivePage(), true);

    m_config->EndUpdate();
    m_cmdLine.reset();
    UpdateControls();
  }
  m_startPos = pos();
  m_fStarted = true;
  if (!errors.isEmpty()) m_dialogs.ShowError(this, errors);
}

QString TfmMain::OpenError(HRESULT AResult, const QString& APort) const {
  if (AResult == YV_E_PORT_BUSY) return FormatAppMsg(msgPortBusy, {APort});
  if (AResult == YV_E_PORT_NOT_EXISTS) return FormatAppMsg(msgPortNotExists, {APort});
  // Any other failure (on Linux mostly a port the user may not open): the
  // port and why, in the window's language.
  return FormatAppMsg(msgPortOpenFailed,
                      {APort, PortOpenReason(AResult, APort, m_oLanguage.Loaded() ? m_oLanguage.LangId() : 1033)});
}

TfmMain::~TfmMain() {
  // Nothing may reach the window from the library's thread once it goes.
  DetachPortNotify();
  if (!m_fLibInit) return;
  if (m_fFormPosChg) m_config->SetMainFormPos(pos());
  if (m_port) m_port->Close();
  m_oLanguage.RemoveForm(this);
  m_port.reset();
  m_oUsrProfile.reset();
  m_oStdProfile.reset();
  m_config.reset();
  YV_Finalyze();
}

void TfmMain::SetProblem(TProblem AKind, const QString& AText) {
  QString& told = m_problems[AKind];
  if (told == AText) return;
  if (told.isEmpty()) qWarning().noquote() << QStringLiteral("Sorvex: ") + AText;
  told = AText;
  QStringList lines;
  for (const QString& problem : m_problems)
    if (!problem.isEmpty()) lines << problem;
  labStatus->setText(lines.join(u'\n'));
  labStatus->setVisible(!lines.isEmpty());
  ArrangeStatus();
}

void TfmMain::HideToTray() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    hide();
    TrayIcon1->setVisible(true);
  } else {
    // Without a tray a hidden window could not be reached again.
    showMinimized();
  }
}

void TfmMain::WMCopyData(uint32_t AData) {
  if (AData != CD_SHOWAPP) return;
  TrayIcon1->hide();
  TrayIcon1->show();
  ShowAppForm();
}

void TfmMain::ShowAppForm() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void TfmMain::TrayIcon1Click() {
  if (isVisible() && !isMinimized() && !WindowCornerCovered(*this))
    HideToTray();
  else
    ShowAppForm();
}

void TfmMain::Exit() {
  m_fExiting = true;
  close();
  QApplication::quit();
}

void TfmMain::closeEvent(QCloseEvent* AEvent) {
  if (m_fExiting) {
    AEvent->accept();
    return;
  }
  // The close box hides the window; only Exit ends the program.
  AEvent->ignore();
  HideToTray();
}

void TfmMain::changeEvent(QEvent* AEvent) {
  QWidget::changeEvent(AEvent);
  if (AEvent->type() == QEvent::WindowStateChange && isMinimized() && QSystemTrayIcon::isSystemTrayAvailable())
    QMetaObject::invokeMethod(this, &TfmMain::HideToTray, Qt::QueuedConnection);
}

void TfmMain::moveEvent(QMoveEvent* AEvent) {
  QWidget::moveEvent(AEvent);
  // X11 reports moves late, also for the placement at start; and while a
  // window manager frames a window it maps, the window passes through
  // places it has not settled on (snapping to one of them would make it
  // real). Only a move to where the window now stands on the screen, away
  // from where start-up put it, counts.
  if (m_nCtrlUpdate > 0 || !m_fStarted || pos() == m_startPos || !WindowStandsAt(*this, pos())) return;
  m_fFormPosChg = true;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QPoint snapped = SnapToWorkArea(pos(), frameGeometry().size(), screen->availableGeometry());
    if (snapped != pos()) {
      CtrlUpdate hold(*this);
      move(snapped);
    }
  }
}

void TfmMain::keyPressEvent(QKeyEvent* AEvent) {
  if (AEvent->key() == Qt::Key_F1) {
    if (QFileInfo::exists(GetAppDir() + QStringLiteral("/Sorvex.chm"))) ShowHelp();
    return;
  }
  // Shift+F10 is the other key for a menu; the window system makes a
  // request of the Menu key only.
  if (AEvent->key() == Qt::Key_F10 && AEvent->modifiers() == Qt::ShiftModifier) {
    RequestKeyboardMenu();
    return;
  }
  QWidget::keyPressEvent(AEvent);
}

void TfmMain::SetIcon(bool AActive) {
  m_fActiveIcon = AActive;
  TrayIcon1->setIcon(WindowImage(AActive ? imgEnabled : imgDisabled));
}

void TfmMain::SetTopMost(bool AValue) {
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, AValue);
  if (visible) show();  // changing the flags hides the window
  FTopMost = AValue;
  m_transfer->SetTopMost(AValue);
}

void TfmMain::UpdateControls() {
  CtrlUpdate hold(*this);
  const bool opened = m_port->Opened();
  chkEnabled->setChecked(opened);
  cbPorts->setEnabled(!opened);
  btnUpdPortsList->setEnabled(!opened);

  const bool active = opened && cbPorts->findText(m_port->Port(), Qt::MatchExactly) >= 0;
  if (active != m_fActiveIcon) SetIcon(active);

  FTopMost = windowFlags().testFlag(Qt::WindowStaysOnTopHint);

  const bool applyReady = m_fApplyChg && !edtName->text().isEmpty();
  const int page = ActivePage();
  if (page >= 0 && page < kCvtFmtTypeCount)
    btnApplyFmt->setEnabled(applyReady && !m_oUsrProfile->GetCurFmtStd(TCvtFmtType(page)));

  for (int c = 0; c < kCvtFmtTypeCount; ++c)
    m_classes[c].del->setEnabled(!m_oUsrProfile->GetCurFmtStd(TCvtFmtType(c)) &&
                                 m_classes[c].list->currentIndex() >= 0);

  const int method = m_pipeline.TransMethod();
  for (int i = 0; i < int(m_tranItems.size()); ++i)
    if (m_tranItems[i]->isChecked() != (i == method)) m_tranItems[i]->setChecked(i == method);
}
