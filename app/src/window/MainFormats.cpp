// The format lists of the main window, the current format of each class and
// the format editor's fields.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>

#include "AppConfig.h"
#include "AppDialogs.h"
#include "AppMessages.h"
#include "CardEngine.h"
#include "MainForm.h"
#include "PageTabs.h"

namespace {

// The tray's submenu of a class's own formats is rebuilt at its next
// opening once its bit is clear.

// The message for an error of the parameter check.
int ParamErrorMsg(int AError) {
  switch (AError) {
    case perr_Specifier:
      return msgParamBadSpecifier;
    case perr_ByteCount:
      return msgParamBadByteCount;
    default:
      return msgParamTooManyBytes;
  }
}

// The check reads the parameters without the blanks (and control
// characters) they begin with; its positions count from after them, the
// user's from the start of the field.
int LeadingBlanks(const QString& AText) {
  int n = 0;
  while (n < AText.size() && AText[n].unicode() <= ' ') ++n;
  return n;
}

}  // namespace

TCvtFmtType TfmMain::GetPageCvtTip(int APageN) {
  return APageN >= 0 && APageN < kCvtFmtTypeCount ? TCvtFmtType(APageN) : cft_MUL;
}

int TfmMain::GetCvtTipPage(TCvtFmtType ACvtTip) { return ACvtTip < kCvtFmtTypeCount ? int(ACvtTip) : 0; }

int TfmMain::ActivePage() const { return PageControl1->currentIndex(); }

const TCvtFmt* TfmMain::ItemFmt(TCvtFmtType ATip, int AIndex) const {
  // An item carries the id of its format in the list the class shows.
  const QComboBox* list = FmtList(ATip);
  if (AIndex < 0 || AIndex >= list->count()) return nullptr;
  const TUIntKeyObjectList& formats = m_oUsrProfile->GetCurFmtList(ATip);
  return formats.Items(formats.IndexOf(list->itemData(AIndex).toUInt()));
}

void TfmMain::FillFmtCombo(TCvtFmtType ATip, QComboBox* AList) {
  CtrlUpdate hold(*this);
  AList->clear();
  for (const auto& fmt : m_oUsrProfile->GetCurFmtList(ATip)) AList->addItem(fmt->m_sName, fmt->m_nFmtId);
  AList->setCurrentIndex(AList->findText(m_oUsrProfile->GetCurFmtName(ATip), Qt::MatchFixedString));
}

void TfmMain::ShowFmtInEditor(const TCvtFmt* AFmt, bool AReadOnly, bool AClear) {
  CtrlUpdate hold(*this);
  if (AFmt) {
    edtName->setText(AFmt->m_sName);
    edtHint->setPlainText(AFmt->m_sHint);
    edtTemplate->setText(AFmt->m_sTemplate);
    edtReplaces->setText(AFmt->m_sReplaces);
  } else if (AReadOnly || AClear) {
    edtName->clear();
    edtHint->clear();
    edtTemplate->clear();
    edtReplaces->clear();
  }
  edtName->setReadOnly(AReadOnly);
  edtHint->setReadOnly(AReadOnly);
  edtTemplate->setReadOnly(AReadOnly);
  edtReplaces->setReadOnly(AReadOnly);
}

void TfmMain::SetCurFmtName(TCvtFmtType ATip, const QString& AFmtName, bool AUpdate) {
  ATip = ValidTip(ATip);
  if (!AUpdate && m_oUsrProfile->GetCurFmtName(ATip).compare(AFmtName, Qt::CaseInsensitive) == 0) return;
  m_oUsrProfile->SetCurFmtName(ATip, AFmtName);
  QComboBox* list = FmtList(ATip);
  const int found = list->findText(AFmtName, Qt::MatchFixedString);
  if (list->currentIndex() != found) {
    CtrlUpdate hold(*this);
    list->setCurrentIndex(found);
  }
  const TCvtFmt* fmt = ItemFmt(ATip, found);
  const bool std = m_oUsrProfile->GetCurFmtStd(ATip);
  if (ActivePage() == GetCvtTipPage(ATip)) {
    ShowFmtInEditor(fmt, std, AUpdate);
    if (!fmt) {
      m_fApplyChg = !edtName->text().isEmpty();
      btnApplyFmt->setEnabled(m_fApplyChg);
    }
  }
  m_classes[ATip].del->setEnabled(fmt && !std);
}

// After the profile's choice of a class changed: the class's list is
// filled again and its check box follows the standard flag; the format the
// list now selects, or null.
const TCvtFmt* TfmMain::RefillClass(TCvtFmtType ATip, bool AShowStd) {
  QComboBox* list = FmtList(ATip);
  FillFmtCombo(ATip, list);
  // Ticking the box runs its handler, which stores the class's setting
  // unless the program is filling its controls.
  if (m_classes[ATip].std->isChecked() != AShowStd) m_classes[ATip].std->setChecked(AShowStd);
  return ItemFmt(ATip, list->currentIndex());
}

void TfmMain::SetCurFmtStd(TCvtFmtType ATip, bool AShowStd, bool AUpdate) {
  ATip = ValidTip(ATip);
  if (!AUpdate && m_oUsrProfile->GetCurFmtStd(ATip) == AShowStd) return;
  m_oUsrProfile->SetCurFmtStd(ATip, AShowStd);
  const TCvtFmt* fmt = RefillClass(ATip, AShowStd);
  if (ActivePage() == GetCvtTipPage(ATip)) {
    ShowFmtInEditor(fmt, AShowStd, AUpdate);
    m_fApplyChg = !AShowStd && !fmt && !edtName->text().isEmpty();
    btnApplyFmt->setEnabled(m_fApplyChg);
  }
  m_classes[ATip].del->setEnabled(fmt && !AShowStd);
}

void TfmMain::SetCurFmt(TCvtFmtType ATip, const QString& AFmtName, bool AShowStd, bool AUpdate) {
  ATip = ValidTip(ATip);
  if (!AUpdate && m_oUsrProfile->GetCurFmtStd(ATip) == AShowStd &&
      m_oUsrProfile->GetCurFmtName(ATip).compare(AFmtName, Qt::CaseInsensitive) == 0)
    return;
  m_oUsrProfile->SetCurFmt(ATip, AFmtName, AShowStd);
  const TCvtFmt* fmt = RefillClass(ATip, AShowStd);
  if (ActivePage() == GetCvtTipPage(ATip)) {
    ShowFmtInEditor(fmt, AShowStd, AUpdate);
    m_fApplyChg = false;
    btnApplyFmt->setEnabled(false);
  }
  m_classes[ATip].del->setEnabled(fmt && !AShowStd);
}

void TfmMain::ShowFmtPan(bool AShow) {
  if (AShow == m_fShowFmtPan) return;
  CtrlUpdate hold(*this);
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int workRight = screen ? screen->availableGeometry().left() + screen->availableGeometry().width() : 0;
  const int frame = frameGeometry().width() - width();
  if (AShow) {
    const int panel = grFmtPan->width();
    if (screen && x() + frameGeometry().width() + panel > workRight)
      move(workRight - frameGeometry().width() - panel, y());
    setFixedWidth(grMain->width() + grFmtPan->width());
    grFmtPan->show();
    btnShowFmtPan->setText(QStringLiteral("<<"));
  } else {
    const int oldRight = x() + width() + frame;
    grFmtPan->hide();
    setFixedWidth(grMain->width());
    if (screen && oldRight == workRight) move(workRight - width() - frame, y());
    btnShowFmtPan->setText(QStringLiteral(">>"));
  }
  ArrangeStatus();  // the status line wraps to the new width
  m_fFormPosChg = true;
  m_fShowFmtPan = AShow;
}

void TfmMain::FmtListChange(TCvtFmtType ATip) {
  if (m_nCtrlUpdate > 0) return;
  QComboBox* list = FmtList(ATip);
  const QString name = list->currentIndex() >= 0 ? list->currentText() : QString();
  SetCurFmtName(ATip, name, false);
  if (!m_oUsrProfile->Opened()) StoreCurFmt(ATip);
}

void TfmMain::StoreCurFmt(TCvtFmtType ATip) {
  // The next start looks the stored name up among the formats of the stored
  // kind: a name stored without its kind would be looked for among the
  // wrong ones, and the class's cards dropped.
  m_config->BeginUpdate(false);
  m_config->SetFormat(ATip, m_oUsrProfile->GetCurFmtName(ATip));
  m_config->SetFormatStd(ATip, m_oUsrProfile->GetCurFmtStd(ATip));
  m_config->EndUpdate();
}

void TfmMain::FmtListKeyPress(TCvtFmtType ATip, char16_t AKey) {
  if (AKey == u'\b') FmtDelClick(ATip);
}

void TfmMain::FmtDelClick(TCvtFmtType ATip) {
  const QComboBox* list = FmtList(ATip);
  if (!m_oUsrProfile->GetCurFmtStd(ATip) && list->currentIndex() >= 0) DoDeleteUsrFmt(ATip, list->currentText());
}

// Key presses in the format and profile lists reach their key handlers as
// characters (Backspace is 8). Space or Return on the menu link opens the
// window's menu, as a click on it does, and Tab leaves it at once (a label
// would first step to its link again, once a menu had taken the focus).
bool TfmMain::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AEvent->type() == QEvent::KeyPress && AWatched == labMenu) {
    const auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_Space || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      labMenuLinkClick();
      return true;
    }
    if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      focusNextPrevChild(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
      return true;
    }
  } else if (AEvent->type() == QEvent::KeyPress && AWatched == cbUsrProfile) {
    const QString text = static_cast<QKeyEvent*>(AEvent)->text();
    if (text.size() == 1) cbUsrProfileKeyPress(text[0].unicode());
  } else if (AEvent->type() == QEvent::KeyPress) {
    for (const ClassControls& cls : m_classes) {
      if (AWatched != cls.list) continue;
      const QString text = static_cast<QKeyEvent*>(AEvent)->text();
      if (text.size() == 1) (this->*cls.keyPress)(text[0].unicode());
      break;
    }
  }
  return QWidget::eventFilter(AWatched, AEvent);
}

void TfmMain::DoDeleteUsrFmt(TCvtFmtType ATip, const QString& AFmtName) {
  if (ATip >= kCvtFmtTypeCount) {
    UpdateControls();
    return;
  }
  QComboBox* list = FmtList(ATip);
  int idx = -1;
  // The format of the name among the class's own. A list on standard
  // formats holds the standard ones, whose ids say nothing about the
  // profile's own: nothing may be deleted through them. No question is
  // asked: the editor keeps the deleted format's fields, so Apply brings it
  // back.
  const TCvtFmt* fmt = nullptr;
  if (!m_oUsrProfile->GetCurFmtStd(ATip)) {
    idx = list->findText(AFmtName, Qt::MatchFixedString);
    fmt = ItemFmt(ATip, idx);
  }
  if (!fmt) {
    UpdateControls();
    return;
  }
  const QString name = fmt->m_sName;
  if (!m_oUsrProfile->DelFmt(ATip, fmt->m_nFmtId)) {
    m_dialogs.ShowError(this, FormatAppMsg(msgRemoveFormatFailed, {name}));
    return;
  }
  {
    CtrlUpdate hold(*this);
    list->setCurrentIndex(-1);
    list->removeItem(idx);
  }
  if (ActivePage() == GetCvtTipPage(ATip)) {
    // The fields keep the deleted format, so that Apply can bring it back.
    ShowFmtInEditor(nullptr, false, false);
    m_fApplyChg = !edtName->text().isEmpty();
    btnApplyFmt->setEnabled(m_fApplyChg);
  }
  // The tray must not go on offering the deleted format.
  RebuildCustomSubmenu(ATip);
  UpdateControls();
}

void TfmMain::btnApplyFmtClick() {
  const int page = ActivePage();
  if (page < 0 || page >= kCvtFmtTypeCount) return;
  const auto tip = TCvtFmtType(page);
  const QString name = edtName->text();
  const QString hint = edtHint->toPlainText();
  const QString templ = edtTemplate->text();
  const QString repl = edtReplaces->text();
  // A format without a name could not be chosen, and its profile would
  // drop it at the next load.
  if (name.isEmpty()) return;

  int specifiers = 0;
  CheckTemplate(templ, &specifiers);
  int pos = 0, tokens = 0;
  if (const int err = CheckReplaces(repl, CvtFmtByteCount(tip), &pos, &tokens)) {
    // The position the message names is where the caret goes: before the
    // character the check stopped at, in the text as typed.
    const int typedPos = LeadingBlanks(repl) + pos;
    m_dialogs.ShowError(this, FormatAppMsg(ParamErrorMsg(err), {int32_t(typedPos)}));
    edtReplaces->setFocus(Qt::OtherFocusReason);
    edtReplaces->setCursorPosition(typedPos - 1);
    edtReplaces->deselect();
    return;
  }
  if (tokens != specifiers) {
    m_dialogs.ShowError(this, AppMsg(msgParamCountMismatch));
    edtReplaces->setFocus(Qt::OtherFocusReason);
    return;
  }

  if (!m_oUsrProfile->Opened()) {
    // Own formats live in a profile file: one is made first.
    if (!RunNewProfileDialog()) return;
    FillProfileCombo();
    if (m_oUsrProfile->Opened()) m_oUsrProfile->SetCurFmt(tip, name, false);
    for (int c = 0; c < kCvtFmtTypeCount; ++c) FillFmtCombo(TCvtFmtType(c), FmtList(TCvtFmtType(c)));
    for (int c = 0; c < kCvtFmtTypeCount; ++c) RebuildCustomSubmenu(TCvtFmtType(c));
  }

  if (ApplyEditedFmt(tip, name, hint, templ, repl)) {
    m_fApplyChg = false;
    UpdateControls();
  }
}

bool TfmMain::ApplyEditedFmt(TCvtFmtType ATip, const QString& AName, const QString& AHint, const QString& ATempl,
                             const QString& ARepl) {
  if (m_oUsrProfile->GetCurFmtStd(ATip)) return false;
  QComboBox* list = FmtList(ATip);
  const int idx = list->findText(AName, Qt::MatchFixedString);
  if (idx < 0) {
    const TCvtFmt* fmt = nullptr;
    if (!m_oUsrProfile->AddFmt(ATip, AName, AHint, ATempl, ARepl, fmt)) {
      m_dialogs.ShowError(this, AppMsg(msgCreateFormatFailed));
      return false;
    }
    {
      CtrlUpdate hold(*this);
      list->addItem(AName, fmt->m_nFmtId);
      list->setCurrentIndex(list->count() - 1);
    }
    SetCurFmt(ATip, AName, false, false);
  } else {
    const TCvtFmt* fmt = ItemFmt(ATip, idx);
    if (!fmt || !m_oUsrProfile->UpdFmt(ATip, fmt->m_nFmtId, AName, AHint, ATempl, ARepl)) {
      m_dialogs.ShowError(this, AppMsg(msgChangeFormatFailed));
      return false;
    }
    {
      CtrlUpdate hold(*this);
      list->setItemText(idx, AName);  // a change of case renames it
      list->setCurrentIndex(idx);
    }
    // The format selected in the list is the one cards are converted by,
    // also when the name typed was that of another format than the one shown.
    SetCurFmtName(ATip, AName, false);
  }
  RebuildCustomSubmenu(ATip);
  return true;
}

void TfmMain::FmtStdClick(TCvtFmtType ATip) {
  if (m_nCtrlUpdate > 0) return;
  SetCurFmtStd(ATip, m_classes[ATip].std->isChecked(), false);
  StoreCurFmt(ATip);
}

void TfmMain::FmtEditChange() {
  if (m_nCtrlUpdate > 0) return;
  m_fApplyChg = true;
  FmtEditChanged();
}

void TfmMain::FmtEditChanged() {
  // As in UpdateControls: a format is never stored without a name.
  const int page = ActivePage();
  btnApplyFmt->setEnabled(page >= 0 && page < kCvtFmtTypeCount &&
                          !m_oUsrProfile->GetCurFmtStd(TCvtFmtType(page)) && m_fApplyChg &&
                          !edtName->text().isEmpty());
}

void TfmMain::cbDefCmtChange() {
  m_pipeline.SetDefCmt(std::max(0, cbDefCmt->currentIndex()));
  if (m_nCtrlUpdate > 0) return;
  m_config->SetDefFormat(cbDefCmt->currentIndex());
}

void TfmMain::btnShowFmtPanClick() {
  ShowFmtPan(!m_fShowFmtPan);
  m_config->SetShowFmtPan(m_fShowFmtPan);
}
