// The profile row of the main window: the list of profile files and the
// choice of the current user profile.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>

#include "MainForm.h"
#include "uAppConfig.h"

void TfmMain::FillProfileCombo() {
  CtrlUpdate hold(*this);
  cbUsrProfile->clear();
  // Profile names are file names: compared exactly, as the file system does.
  const QDir dir(GetProfilesDir(true));
  for (const QFileInfo& f : dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name))
    if (f.fileName().size() > 4) cbUsrProfile->addItem(f.fileName().chopped(4));
  if (m_oUsrProfile->Opened())
    cbUsrProfile->setCurrentIndex(cbUsrProfile->findText(m_oUsrProfile->ProfileName(), Qt::MatchExactly | Qt::MatchCaseSensitive));
  else
    cbUsrProfile->setCurrentIndex(-1);
}

void TfmMain::SetCurUsrProfile(const QString& AProfileName, bool AUpdate) {
  if (!AUpdate && AProfileName == m_oUsrProfile->ProfileName()) return;
  if (m_oUsrProfile->Opened()) m_oUsrProfile->Close(false);
  GetProfilesDir(true);
  const QString path = TProfile::GetProfilePath(AProfileName, false);
  if (!path.isEmpty()) m_oUsrProfile->Open(path);
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    const auto tip = TCvtFmtType(c);
    // Copies: the profile's own strings change under SetCurFmt.
    const QString name = m_oUsrProfile->GetCurFmtName(tip);
    const bool std = m_oUsrProfile->GetCurFmtStd(tip);
    SetCurFmt(tip, name, std, true);
    m_nMenuInitFlags &= ~(1u << (7 + c));
  }
  const int found = cbUsrProfile->findText(AProfileName, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (cbUsrProfile->currentIndex() != found) {
    CtrlUpdate hold(*this);
    cbUsrProfile->setCurrentIndex(found);
  }
}

void TfmMain::cbUsrProfileChange() {
  if (m_nCtrlUpdate > 0) return;
  const QString name = cbUsrProfile->currentText();
  SetCurUsrProfile(name, false);
  m_config->SetUserProfile(name);
}
