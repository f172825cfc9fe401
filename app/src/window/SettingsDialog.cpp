#include "SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>

#include <algorithm>

#include "AppConfig.h"
#include "FolderDialog.h"
#include "ProgramIcon.h"

namespace {

template <class T>
T* Named(QWidget* AParent, const char* AName, const QRect& AGeometry) {
  T* w = new T(AParent);
  w->setObjectName(QLatin1String(AName));
  w->setGeometry(AGeometry);
  return w;
}

template <class T>
T* Captioned(QWidget* AParent, const char* AName, const QString& AText, const QRect& AGeometry) {
  T* w = Named<T>(AParent, AName, AGeometry);
  w->setText(AText);
  return w;
}

// A spin edit of milliseconds. Qt's own refuses a key that would take the
// text beyond the maximum, so "20000" typed into a range up to 10000 reads
// 2000: here every number may be typed, and one beyond the range becomes
// the maximum once the edit is done.
class TDelaySpinBox : public QSpinBox {
 public:
  using QSpinBox::QSpinBox;

  QValidator::State validate(QString& AInput, int& APos) const override {
    const QValidator::State state = QSpinBox::validate(AInput, APos);
    return state == QValidator::Invalid && BeyondMaximum(AInput) ? QValidator::Intermediate : state;
  }
  void fixup(QString& AInput) const override {
    if (BeyondMaximum(AInput))
      AInput = textFromValue(maximum());
    else
      QSpinBox::fixup(AInput);
  }

 private:
  // Digits only, and more than the maximum (too many digits for any number
  // count as more).
  bool BeyondMaximum(const QString& AInput) const {
    const QString digits = AInput.trimmed();
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
      return false;
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok);
    return !ok || value > qulonglong(maximum());
  }
};

QSpinBox* DelayEdit(QWidget* AParent, const char* AName, const QRect& AGeometry) {
  auto* e = Named<TDelaySpinBox>(AParent, AName, AGeometry);
  e->setRange(0, int(TAppConfig::kMaxKeyDelay));
  return e;
}

// A delay from the caller may lie beyond what the spin edit holds.
int ClampDelay(uint32_t AValue) { return int(std::min(AValue, TAppConfig::kMaxKeyDelay)); }

constexpr int kClientWidth = 380;
constexpr int kClientHeight = 376;

}  // namespace

TfmSettingsDlg::TfmSettingsDlg(TAppLanguage& ALanguage, const TALangs& ALangs, std::function<void(int)> ASetLang,
                               QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_language(ALanguage),
      m_langs(ALangs),
      m_setLang(std::move(ASetLang)) {
  setObjectName(QStringLiteral("fmSettingsDlg"));
  setWindowTitle(QStringLiteral("Settings"));
  setWindowIcon(ProgramIcon());
  CreateControls();
  m_language.AddForm(this);
  if (m_language.Loaded()) m_language.Translate(this);
}

TfmSettingsDlg::~TfmSettingsDlg() { m_language.RemoveForm(this); }

void TfmSettingsDlg::CreateControls() {
  setFixedSize(kClientWidth, kClientHeight);
  chkAutorun = Captioned<QCheckBox>(this, "chkAutorun", QStringLiteral("Autorun"), QRect(12, 10, 356, 22));
  chkAlwaysOnTop =
      Captioned<QCheckBox>(this, "chkAlwaysOnTop", QStringLiteral("Always on top"), QRect(12, 34, 356, 22));
  chkOneInstance =
      Captioned<QCheckBox>(this, "chkOneInstance", QStringLiteral("Only one Instance"), QRect(12, 58, 356, 22));
  chkShowTransFmtPar = Captioned<QCheckBox>(this, "chkShowTransFmtPar",
                                            QStringLiteral("Show the format parameters with the transfer"),
                                            QRect(12, 82, 356, 22));
  chkTransLog = Captioned<QCheckBox>(this, "chkTransLog", QStringLiteral("Write log transfer card numbers"),
                                     QRect(12, 106, 356, 22));
  labLogDir = Captioned<QLabel>(this, "labLogDir", QStringLiteral("Folder:"), QRect(30, 134, 60, 20));
  edtLogDir = Named<QLineEdit>(this, "edtLogDir", QRect(92, 132, 240, 24));
  edtLogDir->setReadOnly(true);
  btnLogDir = Captioned<QPushButton>(this, "btnLogDir", QStringLiteral("..."), QRect(336, 131, 32, 26));

  grDelays = Named<QGroupBox>(this, "grDelays", QRect(12, 164, 356, 84));
  grDelays->setTitle(QStringLiteral("Delays in transfer of numbers by pressing keys"));
  Captioned<QLabel>(grDelays, "labPressKeyDelay", QStringLiteral("After pressing key (ms):"),
                    QRect(10, 24, 230, 22));
  edtPressKeyDelay = DelayEdit(grDelays, "edtPressKeyDelay", QRect(246, 22, 98, 24));
  Captioned<QLabel>(grDelays, "labReleaseKeyDelay", QStringLiteral("After releasing key (ms):"),
                    QRect(10, 52, 230, 22));
  edtReleaseKeyDelay = DelayEdit(grDelays, "edtReleaseKeyDelay", QRect(246, 50, 98, 24));

  chkAltWorkPort = Captioned<QCheckBox>(this, "chkAltWorkPort",
                                        QStringLiteral("An alternative method of working with the port"),
                                        QRect(12, 254, 356, 22));
  chkDebugMode = Captioned<QCheckBox>(this, "chkDebugMode", QStringLiteral("Debug mode"), QRect(12, 278, 356, 22));
  labLang = Captioned<QLabel>(this, "labLang", QStringLiteral("Language:"), QRect(12, 308, 86, 22));
  cbLang = Named<QComboBox>(this, "cbLang", QRect(100, 306, 268, 24));

  btnOk = Captioned<QPushButton>(this, "btnOk", QStringLiteral("OK"), QRect(206, 342, 78, 26));
  btnOk->setDefault(true);
  btnCancel = Captioned<QPushButton>(this, "btnCancel", QStringLiteral("Cancel"), QRect(290, 342, 78, 26));

  connect(chkTransLog, &QCheckBox::clicked, this, &TfmSettingsDlg::chkTransLogClick);
  connect(btnLogDir, &QPushButton::clicked, this, &TfmSettingsDlg::SelectLogDir);
  connect(btnOk, &QPushButton::clicked, this, &TfmSettingsDlg::btnOkClick);
  // Cancel reads nothing back: the caller applies nothing.
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmSettingsDlg::showEvent(QShowEvent* AEvent) {
  // Only when the dialog is shown, not when the window system shows it again
  // (restored from minimised): that would undo the user's changes.
  if (!AEvent->spontaneous()) FormShow();
  QDialog::showEvent(AEvent);
}

void TfmSettingsDlg::FormShow() {
  chkAutorun->setChecked(FAutorun);
  chkAlwaysOnTop->setChecked(FAlwaysOnTop);
  chkOneInstance->setChecked(FOneInstance);
  chkShowTransFmtPar->setChecked(FShowTransFmtPar);
  chkTransLog->setChecked(FTransLog);
  edtLogDir->setText(FLogDir);
  edtPressKeyDelay->setValue(ClampDelay(FPressKeyDelay));
  edtReleaseKeyDelay->setValue(ClampDelay(FReleaseKeyDelay));
  chkAltWorkPort->setChecked(FAltWorkPort);
  chkDebugMode->setChecked(FDebugMode);
  UpdateLogDirControls();

  // The languages are offered only while a language file is loaded.
  cbLang->clear();
  if (!m_language.Loaded()) return;
  for (const TLangInfo& lang : m_langs) cbLang->addItem(lang.sTitle, lang.nLangId);
  cbLang->setCurrentIndex(cbLang->findData(m_language.LangId()));
}

// The fields change only on OK: until then the controls hold the choice, so
// that Cancel leaves every field as the caller set it.
void TfmSettingsDlg::chkTransLogClick() { UpdateLogDirControls(); }

void TfmSettingsDlg::UpdateLogDirControls() {
  const bool on = chkTransLog->isChecked();
  edtLogDir->setEnabled(on);
  btnLogDir->setEnabled(on);
}

void TfmSettingsDlg::SelectLogDir() {
  TFolderDialog browser(false, edtLogDir->text());
  if (browser.Execute(this)) edtLogDir->setText(browser.SelectedFolder());
}

void TfmSettingsDlg::btnOkClick() {
  setResult(0);
  FAutorun = chkAutorun->isChecked();
  FAlwaysOnTop = chkAlwaysOnTop->isChecked();
  FOneInstance = chkOneInstance->isChecked();
  FShowTransFmtPar = chkShowTransFmtPar->isChecked();
  FTransLog = chkTransLog->isChecked();
  FLogDir = edtLogDir->text();
  // A number still being typed counts as the user sees it once done.
  edtPressKeyDelay->interpretText();
  edtReleaseKeyDelay->interpretText();
  FPressKeyDelay = uint32_t(std::clamp(edtPressKeyDelay->value(), 0, int(TAppConfig::kMaxKeyDelay)));
  FReleaseKeyDelay = uint32_t(std::clamp(edtReleaseKeyDelay->value(), 0, int(TAppConfig::kMaxKeyDelay)));
  FAltWorkPort = chkAltWorkPort->isChecked();
  FDebugMode = chkDebugMode->isChecked();
  const int lang = cbLang->currentIndex();
  if (lang >= 0 && cbLang->itemData(lang).toInt() != m_language.LangId() && m_setLang) m_setLang(lang);
  accept();
}

bool TfmSettingsDlg::StoreSettings(TAppConfig& AConfig, bool ALogDirChanged) const {
  AConfig.BeginUpdate(false);
  AConfig.SetTopMost(FAlwaysOnTop);
  AConfig.SetSingleInstance(FOneInstance);
  AConfig.SetTransFmtPar(FShowTransFmtPar);
  AConfig.SetTransLog(FTransLog);
  if (ALogDirChanged) AConfig.SetLogDir(FLogDir);
  AConfig.SetPressKeyDelay(FPressKeyDelay);
  AConfig.SetReleaseKeyDelay(FReleaseKeyDelay);
  AConfig.SetAltWorkPort(FAltWorkPort);
  AConfig.SetDebugMode(FDebugMode);
  AConfig.SetLanguage(m_language.Loaded() ? m_language.LangId() : 0);
  return AConfig.EndUpdate();
}
