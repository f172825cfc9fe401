// The main window's pages, its language menu, help and the preparation of
// its menus.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLibraryInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTranslator>
#include <QUrl>

#include "About.h"
#include "AppConfig.h"
#include "AppDialogs.h"
#include "AppMessages.h"
#include "AppUtils.h"
#include "MainForm.h"
#include "PageTabs.h"
#include "ReaderPort.h"
#include "SettingsDialog.h"
#include "Transfer.h"

bool TfmMain::PageVisible(int APageN) const { return PageControl1->isTabVisible(APageN); }

void TfmMain::SetPageVisible(int APageN, bool AVisible) {
  // Hiding the active tab makes Qt pick another page; that is no choice of
  // the user's and is not stored.
  CtrlUpdate hold(*this);
  PageControl1->setTabVisible(APageN, AVisible);
  // Fewer tabs may need fewer rows.
  ArrangeControls();
}

void TfmMain::SetCurPage(int APageN, bool AUpdate) {
  if (APageN == ActivePage() && !AUpdate) return;
  {
    CtrlUpdate hold(*this);
    PageControl1->setCurrentIndex(APageN);
  }
  if (APageN >= 0 && APageN < kCvtFmtTypeCount) {
    const auto tip = TCvtFmtType(APageN);
    ShowFmtInEditor(ItemFmt(tip, FmtList(tip)->currentIndex()), m_oUsrProfile->GetCurFmtStd(tip), AUpdate);
  } else {
    ShowFmtInEditor(nullptr, true, AUpdate);
  }
  UpdateControls();
}

void TfmMain::PageControl1Change(int AIndex) {
  if (m_nCtrlUpdate > 0) return;
  SetCurPage(AIndex, true);
  m_config->SetActivePageN(AIndex);
}

void TfmMain::TabItemClick(TCvtFmtType ATip) {
  const bool visible = !PageVisible(ATip);
  SetPageVisible(ATip, visible);
  m_config->SetTabVis(ATip, visible);
  SetCurPage(ActivePage(), true);
}

void TfmMain::menuTabsPopup() {
  for (int c = 0; c < kCvtFmtTypeCount; ++c) m_classes[c].tabItem->setChecked(PageVisible(c));
}

void TfmMain::UpdateLangMenu() {
  EnumLanguages(m_aLangs);
  const QList<QAction*> items = miLanguages->actions();
  for (qsizetype i = items.size() - 1; i >= 1; --i) delete items[i];
  QActionGroup* group = miLangDefault->actionGroup();
  for (int n = 0; n < int(m_aLangs.size()); ++n) {
    auto* item = new QAction(m_aLangs[n].sTitle, miLanguages);
    item->setObjectName(QStringLiteral("miLang%1").arg(n));
    item->setCheckable(true);
    item->setData(n);
    group->addAction(item);
    miLanguages->addAction(item);
    connect(item, &QAction::triggered, this, [this, n] { miLangClick(n); });
  }
}

// The built-in language's item passes -1.
void TfmMain::miLangClick(int ATag) {
  SetLang(ATag);
  m_config->SetLanguage(m_oLanguage.Loaded() ? m_oLanguage.LangId() : 0);
}

void TfmMain::SetLang(int AIdx) {
  if (AIdx == -1 && !m_oLanguage.Loaded()) return;
  const bool visible = isVisible();
  if (visible) setUpdatesEnabled(false);
  CtrlUpdate hold(*this);
  const int defCmt = cbDefCmt->currentIndex();
  m_oLanguage.SetLoaded(false);
  // The standard formats follow the language: its own file when it names
  // one, else (also for the built-in language) the built-in ones, never
  // those of the language before it.
  QString stdFile;
  if (AIdx >= 0 && AIdx < int(m_aLangs.size())) {
    m_oLanguage.SetFileName(MakeLangPath(m_aLangs[AIdx].sFileName));
    if (m_oLanguage.SetLoaded(true)) stdFile = m_oLanguage.StdProfileFile();
  }
  if (stdFile.isEmpty() || !m_oStdProfile->LoadFromIni(stdFile)) m_oStdProfile->LoadFromRes(QStringLiteral("STDFMTS"));
  LoadQtTranslation();
  for (int c = 0; c < kCvtFmtTypeCount; ++c) FillFmtCombo(TCvtFmtType(c), FmtList(TCvtFmtType(c)));
  const int page = ActivePage();
  if (page >= 0 && page < kCvtFmtTypeCount) {
    const auto tip = TCvtFmtType(page);
    ShowFmtInEditor(ItemFmt(tip, FmtList(tip)->currentIndex()), m_oUsrProfile->GetCurFmtStd(tip), true);
    m_fApplyChg = !m_oUsrProfile->GetCurFmtStd(tip) && !edtName->text().isEmpty();
    btnApplyFmt->setEnabled(m_fApplyChg);
  }
  cbDefCmt->setCurrentIndex(defCmt);
  // The new texts need room of their own.
  ArrangeControls();
  if (visible) {
    setUpdatesEnabled(true);
    update();
  }
}

void TfmMain::LoadQtTranslation() {
  // Qt's texts come from the system's translations of Qt; without a file for
  // the language they stay English.
  if (m_qtTranslation) QCoreApplication::removeTranslator(m_qtTranslation.get());
  m_qtTranslation.reset();
  if (!m_oLanguage.Loaded()) return;
  auto translation = std::make_unique<QTranslator>();
  if (!translation->load(LangIdToLocale(m_oLanguage.LangId()), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return;
  QCoreApplication::installTranslator(translation.get());
  m_qtTranslation = std::move(translation);
}

// Opens the help file with the desktop's viewer. There is no way to find a
// viewer window opened before (no help window class to look for), so each
// call opens the file anew.
void TfmMain::ShowHelp() {
  const QString file = GetAppDir() + QStringLiteral("/Sorvex.chm");
  if (!QFileInfo::exists(file) || !QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
    m_dialogs.ShowError(this, AppMsg(msgHelpFailed));
}

void TfmMain::labMenuLinkClick() { menuContext->popup(labMenu->mapToGlobal(labMenu->rect().bottomLeft())); }

// Qt offers a request for a menu first to the control under the pointer (a
// right click) or to the focused one (a key), and passes it on to the window
// only when the control has no menu of its own: here no control has shown one.
void TfmMain::contextMenuEvent(QContextMenuEvent* AEvent) {
  FormContextPopup(AEvent->pos(), AEvent->reason() == QContextMenuEvent::Keyboard);
  AEvent->accept();
}

void TfmMain::FormContextPopup(const QPoint& APos, bool AKeyboard) {
  // A right click on an input control (one that a click gives the keyboard
  // to) is left to it; on the window's margins, labels, the menu link and
  // the byte grid it opens the window's menu. A key asks on behalf of the
  // focused control, which has no menu of its own.
  if (!AKeyboard) {
    const QWidget* under = childAt(APos);
    if (under && (under->focusPolicy() & Qt::ClickFocus) && !qobject_cast<const QGroupBox*>(under)) return;
  }
  menuContext->popup(mapToGlobal(APos));
}

void TfmMain::RequestKeyboardMenu() {
  QWidget* focused = QApplication::focusWidget();
  if (!focused || focused->window() != this) focused = this;
  // Where Qt puts the menu of the Menu key: at the control's text cursor, or
  // its middle.
  const QPoint at = focused->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
  QContextMenuEvent request(QContextMenuEvent::Keyboard, at, focused->mapToGlobal(at));
  QApplication::sendEvent(focused, &request);
}

void TfmMain::menuContextPopup() {
  miEnable->setText(AppMsg(chkEnabled->isChecked() ? msgDisable : msgEnable));
  const QList<QAction*> items = miLanguages->actions();
  if (m_oLanguage.Loaded()) {
    for (int i = 0; i < int(m_aLangs.size()); ++i) {
      if (m_aLangs[i].nLangId == m_oLanguage.LangId()) {
        if (i + 1 < items.size()) items[i + 1]->setChecked(true);
        break;
      }
    }
  } else {
    miLangDefault->setChecked(true);
  }
  // The actions' check marks follow the window's state.
  actAutorun->setChecked(FAutoRun);
  actTopMost->setChecked(FTopMost);
  actOnlyOneInstance->setChecked(FOnlyOneInst);
  actShowTransFmtPar->setChecked(m_pipeline.ShowTransFmtPar());
  actTransLog->setChecked(m_pipeline.TransLog());
}


// ---- the actions -------------------------------------------------------------

void TfmMain::actAutorunExecute() {
  // The autostart entry may have been made or removed from outside: it is
  // written only when it differs from what is asked, and the check mark
  // follows the entry as it now is, so the next click can undo it.
  const bool wanted = !FAutoRun;
  if (wanted != GetAutorun()) SetAutorun(wanted);
  FAutoRun = GetAutorun();
  actAutorun->setChecked(FAutoRun);
}

void TfmMain::actTopMostExecute() {
  SetTopMost(!FTopMost);
  m_config->SetTopMost(FTopMost);
  actTopMost->setChecked(FTopMost);
}

void TfmMain::actOnlyOneInstanceExecute() {
  FOnlyOneInst = !FOnlyOneInst;
  m_config->SetSingleInstance(FOnlyOneInst);
  actOnlyOneInstance->setChecked(FOnlyOneInst);
}

void TfmMain::actShowTransFmtParExecute() {
  if (m_nCtrlUpdate <= 0) {
    m_pipeline.SetShowTransFmtPar(!m_pipeline.ShowTransFmtPar());
    m_config->SetTransFmtPar(m_pipeline.ShowTransFmtPar());
  }
  actShowTransFmtPar->setChecked(m_pipeline.ShowTransFmtPar());
}

void TfmMain::SetTransLog(bool AValue) { m_pipeline.SetTransLog(AValue); }

void TfmMain::actTransLogExecute() {
  if (m_nCtrlUpdate <= 0) {
    SetTransLog(!m_pipeline.TransLog());
    m_config->SetTransLog(m_pipeline.TransLog());
  }
  actTransLog->setChecked(m_pipeline.TransLog());
}

void TfmMain::actSettingsExecute() {
  TfmSettingsDlg dlg(m_oLanguage, m_aLangs, [this](int AIdx) { SetLang(AIdx); }, this);
  dlg.FAutorun = FAutoRun;
  dlg.FAlwaysOnTop = FTopMost;
  dlg.FOneInstance = FOnlyOneInst;
  dlg.FShowTransFmtPar = m_pipeline.ShowTransFmtPar();
  dlg.FTransLog = m_pipeline.TransLog();
  dlg.FPressKeyDelay = m_transfer->PressKeyDelay();
  dlg.FReleaseKeyDelay = m_transfer->ReleaseKeyDelay();
  dlg.FLogDir = m_sLogDir;
  dlg.FAltWorkPort = m_port->AltWorkPort();
  m_config->BeginUpdate(true);
  dlg.FDebugMode = m_config->GetDebugMode();
  m_config->EndUpdate();
  if (dlg.exec() != QDialog::Accepted) return;

  // The autostart entry is written even when it did not change.
  SetAutorun(dlg.FAutorun);
  FAutoRun = GetAutorun();
  SetTopMost(dlg.FAlwaysOnTop);
  FOnlyOneInst = dlg.FOneInstance;
  m_pipeline.SetShowTransFmtPar(dlg.FShowTransFmtPar);
  // Letter case counts: folder names are case-sensitive.
  const bool logDirChanged = m_sLogDir != dlg.FLogDir;
  if (logDirChanged) m_sLogDir = dlg.FLogDir;
  SetTransLog(dlg.FTransLog);
  m_transfer->SetPressKeyDelay(dlg.FPressKeyDelay);
  m_transfer->SetReleaseKeyDelay(dlg.FReleaseKeyDelay);
  m_port->SetAltWorkPort(dlg.FAltWorkPort);  // wakes the reading thread when switched on
  dlg.StoreSettings(*m_config, logDirChanged);
}

void TfmMain::DoAbout() {
  TAboutBox box(m_oLanguage, this);
  box.exec();
}
