// The format lists of the main window, the current format of each class and
// the format editor's fields.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>

#include "MainForm.h"
#include "uAppConfig.h"

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
  m_fFormPosChg = true;
  m_fShowFmtPan = AShow;
}

void TfmMain::FmtListChange(TCvtFmtType ATip) {
  if (m_nCtrlUpdate > 0) return;
  QComboBox* list = FmtList(ATip);
  const QString name = list->currentIndex() >= 0 ? list->currentText() : QString();
  SetCurFmtName(ATip, name, false);
  if (!m_oUsrProfile->Opened()) m_config->SetFormat(ATip, name);
}

void TfmMain::FmtStdClick(TCvtFmtType ATip) {
  if (m_nCtrlUpdate > 0) return;
  const bool std = m_classes[ATip].std->isChecked();
  SetCurFmtStd(ATip, std, false);
  m_config->SetFormatStd(ATip, std);
}

void TfmMain::FmtEditChange() {
  if (m_nCtrlUpdate > 0) return;
  m_fApplyChg = true;
  FmtEditChanged();
}

void TfmMain::FmtEditChanged() {
  const int page = ActivePage();
  btnApplyFmt->setEnabled(page >= 0 && page < kCvtFmtTypeCount &&
                          !m_oUsrProfile->GetCurFmtStd(TCvtFmtType(page)) && m_fApplyChg);
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
