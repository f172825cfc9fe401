// The profile row of the main window: the list of profile files and the
// choice of the current user profile.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>

#include "AppConfig.h"
#include "AppDialogs.h"
#include "AppMessages.h"
#include "MainForm.h"
#include "NewProfile.h"

void TfmMain::FillProfileCombo() {
  CtrlUpdate hold(*this);
  cbUsrProfile->clear();
  // Profile names are file names: compared exactly, as the file system does.
  // The pattern too: a profile is opened as "<name>.ini", so "a.INI" is none.
  const QDir dir(GetProfilesDir(true));
  for (const QFileInfo& f : dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files | QDir::CaseSensitive, QDir::Name))
    if (f.fileName().size() > 4) cbUsrProfile->addItem(f.fileName().chopped(4));
  if (m_oUsrProfile->Opened())
    cbUsrProfile->setCurrentIndex(cbUsrProfile->findText(m_oUsrProfile->ProfileName(), Qt::MatchExactly | Qt::MatchCaseSensitive));
  else
    cbUsrProfile->setCurrentIndex(-1);
}

void TfmMain::SetCurUsrProfile(const QString& AProfileName, bool AUpdate) {
  // The name of a profile that is no longer open (its file went, or its
  // opening failed) is no reason to do nothing: picked again, it is opened.
  if (!AUpdate && m_oUsrProfile->Opened() && AProfileName == m_oUsrProfile->ProfileName()) return;
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
    RebuildCustomSubmenu(tip);
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

void TfmMain::DeleteUsrProfile() {
  if (cbUsrProfile->currentIndex() < 0) return;
  if (m_oUsrProfile->Opened()) {
    const QString name = m_oUsrProfile->ProfileName();
    if (m_dialogs.AskYesNoCancel(this, FormatAppMsg(msgDeleteProfileAsk, {name})) != IAppDialogs::ansYes) return;
    // Closed either way: a file that could not be deleted stays listed.
    if (m_oUsrProfile->Close(true)) {
      CtrlUpdate hold(*this);
      cbUsrProfile->removeItem(cbUsrProfile->currentIndex());
      cbUsrProfile->setCurrentIndex(-1);
    } else {
      m_dialogs.ShowError(this, FormatAppMsg(msgDeleteProfileFailed, {name}));
    }
    return;
  }
  // No file is open: the formats held in memory are emptied instead.
  m_oUsrProfile->Clear();
  ShowProfileStdFlags();
}

void TfmMain::btnDelProfileClick() { DeleteUsrProfile(); }

void TfmMain::cbUsrProfileKeyPress(char16_t AKey) {
  if (AKey == u'\b') DeleteUsrProfile();
}

bool TfmMain::RunNewProfileDialog() {
  TfmNewProfile dlg(m_oLanguage, m_dialogs, this);
  dlg.SetProfile(m_oUsrProfile.get());
  if (dlg.exec() != QDialog::Accepted) return false;
  // The profile made is the one the user works in from now on: the next
  // start opens it, as it opens one picked in the list. Left out of the
  // settings, the next start would come up without it, and the formats
  // applied in it would no longer convert the cards.
  if (m_oUsrProfile->Opened()) m_config->SetUserProfile(m_oUsrProfile->ProfileName());
  return true;
}

void TfmMain::btnNewProfileClick() {
  if (!RunNewProfileDialog()) return;
  FillProfileCombo();
  ShowProfileStdFlags();
}

// After the profile changed under the window (made anew, or emptied): every
// class shows the profile's standard flag, and the custom tray submenus
// are built again.
void TfmMain::ShowProfileStdFlags() {
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    const auto tip = TCvtFmtType(c);
    SetCurFmtStd(tip, m_oUsrProfile->GetCurFmtStd(tip), true);
    RebuildCustomSubmenu(tip);
  }
}
