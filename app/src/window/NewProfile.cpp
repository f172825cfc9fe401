#include "NewProfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

#include "AppDialogs.h"
#include "AppLanguage.h"
#include "AppMessages.h"
#include "Profiles.h"
#include "ProgramIcon.h"

namespace {

constexpr QLatin1String kBaseName("usrfmts");
constexpr QLatin1String kExt(".ini");

}  // namespace

TfmNewProfile::TfmNewProfile(TAppLanguage& ALanguage, IAppDialogs& ADialogs, QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_language(ALanguage),
      m_dialogs(ADialogs) {
  setObjectName(QStringLiteral("fmNewProfile"));
  setWindowTitle(QStringLiteral("New profile"));
  setWindowIcon(ProgramIcon());
  CreateControls();
  m_language.AddForm(this);
  if (m_language.Loaded()) m_language.Translate(this);
  ArrangeControls();
  UpdateProfileList();
  cbName->setCurrentText(GenerateName());
}

TfmNewProfile::~TfmNewProfile() { m_language.RemoveForm(this); }

void TfmNewProfile::CreateControls() {
  setFixedSize(245, 108);
  labName = new QLabel(QStringLiteral("Name:"), this);
  labName->setObjectName(QStringLiteral("labName"));
  labName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  cbName = new QComboBox(this);
  cbName->setObjectName(QStringLiteral("cbName"));
  cbName->setEditable(true);
  // The typed name is a new profile, not an entry of the list.
  cbName->setInsertPolicy(QComboBox::NoInsert);
  labName->setBuddy(cbName);
  chkCopy = new QCheckBox(QStringLiteral("Copy current profile"), this);
  chkCopy->setObjectName(QStringLiteral("chkCopy"));
  chkCopy->setChecked(true);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnOK->setGeometry(78, 74, 76, 26);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(161, 74, 76, 26);
  connect(btnOK, &QPushButton::clicked, this, &TfmNewProfile::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmNewProfile::ArrangeControls() {
  // The label as wide as its text (at least its usual 50 pixels), the list
  // after it; the check box under the list, or from the left margin when
  // its text needs more room than the list has.
  constexpr int kLeft = 8, kRight = 245 - 8;
  const int label = std::max(50, labName->sizeHint().width());
  labName->setGeometry(kLeft, 14, label, 22);
  cbName->setGeometry(kLeft + label + 6, 12, kRight - (kLeft + label + 6), 24);
  const int copyX = chkCopy->sizeHint().width() <= kRight - cbName->x() ? cbName->x() : kLeft;
  chkCopy->setGeometry(copyX, 42, kRight - copyX, 22);
}

void TfmNewProfile::UpdateProfileList() {
  cbName->clear();
  // Only listed here: the folder is made when a profile is created.
  const QString dir = GetProfilesDir(false);
  if (dir.isEmpty()) return;
  for (const QFileInfo& f : QDir(dir).entryInfoList({QStringLiteral("*.ini")}, QDir::Files | QDir::CaseSensitive, QDir::Name))
    if (f.fileName().size() > kExt.size()) cbName->addItem(f.fileName().chopped(kExt.size()));
}

QString TfmNewProfile::GenerateName() {
  const QString dir = GetProfilesDir(false);
  if (dir.isEmpty() || !QFileInfo(dir).isDir()) return QString(kBaseName);
  for (uint32_t n = 1; n < 0xFFFFFFFEu; ++n) {
    const QString name = QString(kBaseName) + QString::number(n);
    if (!QFileInfo::exists(dir + u'/' + name + kExt)) return name;
  }
  return QString();
}

void TfmNewProfile::btnOKClick() {
  if (!FProfile) return;
  QString name = cbName->currentText();
  if (name.endsWith(kExt)) name.chop(kExt.size());
  // A name that cannot be a file name ("", "." or one holding "/") is refused
  // before anything changes: the current profile stays open.
  const QString path = TProfile::GetProfilePath(name, true);
  if (path.isEmpty()) {
    const QString shown = GetProfilesDir(false) + u'/' + name + kExt;
    m_dialogs.ShowError(this, FormatAppMsg(msgCreateProfileFailed, {shown}));
    return;
  }
  if (QFileInfo::exists(path) &&
      m_dialogs.AskYesNoCancel(this, FormatAppMsg(msgProfileExists, {name})) != IAppDialogs::ansYes)
    return;

  const QString oldPath = FProfile->Opened() ? FProfile->Path() : QString();
  if (!oldPath.isEmpty()) FProfile->Close(false);
  const bool made = chkCopy->isChecked() ? FProfile->SaveToIni(path) && FProfile->Open(path) : FProfile->New(path);
  if (!made) {
    // The profile that was open is bound again, so that changes to its
    // formats keep reaching its file.
    if (!oldPath.isEmpty()) FProfile->Open(oldPath);
    m_dialogs.ShowError(this, FormatAppMsg(msgCreateProfileFailed, {path}));
    return;
  }
  accept();
}
