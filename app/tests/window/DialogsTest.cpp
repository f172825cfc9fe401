// The settings, new-profile and about dialogs on the offscreen platform: what
// they give back, what they refuse, the folder browser, and their texts in
// the shipped language file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>
#include <QUrl>

#include <functional>
#include <set>

#include "About.h"
#include "AppConfig.h"
#include "AppLanguage.h"
#include "common/ConfigHome.h"
#include "common/QStringPrinter.h"
#include "common/TextsShown.h"
#include "common/WidgetTests.h"
#include "FolderDialog.h"
#include "FormTexts.h"
#include "IniFile.h"
#include "NewProfile.h"
#include "Profiles.h"
#include "SettingsDialog.h"

// Takes the links the about box opens (moc needs it outside the unnamed
// namespace).
class UrlCatcher : public QObject {
  Q_OBJECT

 public slots:
  void open(const QUrl& AUrl) { urls.append(AUrl); }

 public:
  QList<QUrl> urls;
};

namespace {

QByteArray ReadAll(const QString& APath) {
  QFile f(APath);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void PutFile(const QString& APath, const QByteArray& ABytes) {
  QFile f(APath);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << APath.toStdString();
  f.write(ABytes);
}

// Plays the user in the next folder browser that opens: AStep runs once it
// is on the screen, inside its modal loop, and must close it.
class BrowserUser {
 public:
  explicit BrowserUser(std::function<void(QFileDialog&)> AStep) : m_step(std::move(AStep)) {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dlg = qobject_cast<QFileDialog*>(w);
        if (!dlg || !dlg->isVisible()) continue;
        m_timer.stop();
        ran = true;
        m_step(*dlg);
        return;
      }
    });
    m_timer.start();
  }
  bool ran = false;

 private:
  std::function<void(QFileDialog&)> m_step;
  QTimer m_timer;
};

// Makes APath the browser's current folder as a click in its list does.
void ClickFolder(QFileDialog& ADlg, const QString& APath) {
  auto* view = ADlg.findChild<QListView*>(QStringLiteral("listView"));
  ASSERT_NE(view, nullptr);
  auto* model = qobject_cast<QFileSystemModel*>(view->model());
  ASSERT_NE(model, nullptr);
  view->setCurrentIndex(model->index(APath));
}

// The browser's OK button.
void Accept(QFileDialog& ADlg) { static_cast<QDialog&>(ADlg).accept(); }

QString StatusOf(QFileDialog& ADlg) {
  auto* status = ADlg.findChild<QLabel*>(QStringLiteral("labStatus"));
  return status ? status->text() : QStringLiteral("<no status line>");
}

// A private home (settings, profiles) for each test.
class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
  }

  QString ProfilesDir() const { return home_.filePath("Sorvex/profiles"); }
  QString ProfilePath(const QString& AName) const { return ProfilesDir() + u'/' + AName + QLatin1String(".ini"); }
  void PutProfile(const QString& AName, const QByteArray& ABytes) {
    QDir().mkpath(ProfilesDir());
    PutFile(ProfilePath(AName), ABytes);
  }
  QStringList Sections(const QString& AName) const { return TIniFile(ProfilePath(AName)).ReadSections(); }

  // Runs the new-profile dialog on AProfile with a typed name: true when it
  // closed with OK.
  bool CreateProfile(TUsrProfile& AProfile, const QString& AName, bool ACopy) {
    TfmNewProfile dlg(lang_, dialogs_);
    dlg.SetProfile(&AProfile);
    Find<QComboBox>(dlg, "cbName")->setCurrentText(AName);
    Find<QCheckBox>(dlg, "chkCopy")->setChecked(ACopy);
    Find<QPushButton>(dlg, "btnOK")->click();
    return dlg.result() == QDialog::Accepted;
  }

  ConfigHome home_;
  TAppLanguage lang_;
  RecordingDialogs dialogs_;
  TStdProfile std_;
};

const QByteArray kCurrentProfile =
    "[MUL.2]\nname=Two\nhint=\ntemplate=%u\nreplaces=b0\n"
    "[MUL.7]\nname=Seven\nhint=\ntemplate=%x\nreplaces=b1\n"
    "[EMM.3]\nname=Em\nhint=\ntemplate=%u\nreplaces=w43\n"
    "[Main]\nCurMULFmt=Seven\nCurMULFmtStd=0\n";

// ---- The new-profile dialog ----

TEST_F(Dialogs, TheProposedNameIsTheFirstFreeOneAndTheListShowsTheProfiles) {
  {
    // No profiles folder yet: the plain name, and the folder is not made.
    TfmNewProfile dlg(lang_, dialogs_);
    EXPECT_EQ(Find<QComboBox>(dlg, "cbName")->currentText(), "usrfmts");
    EXPECT_EQ(Find<QComboBox>(dlg, "cbName")->count(), 0);
    EXPECT_FALSE(QFileInfo::exists(ProfilesDir()));
    EXPECT_TRUE(Find<QCheckBox>(dlg, "chkCopy")->isChecked());
  }
  QDir().mkpath(ProfilesDir());
  EXPECT_EQ(TfmNewProfile::GenerateName(), "usrfmts1");

  PutProfile("usrfmts1", "");
  PutProfile("usrfmts2", "");
  PutProfile("", "");  // ".ini": no name, not listed
  PutFile(ProfilesDir() + "/notes.txt", "");
  QDir().mkpath(ProfilesDir() + "/folder.ini");
  TfmNewProfile dlg(lang_, dialogs_);
  auto* name = Find<QComboBox>(dlg, "cbName");
  EXPECT_EQ(name->currentText(), "usrfmts3");  // even though usrfmts.ini does not exist
  QStringList listed;
  for (int i = 0; i < name->count(); ++i) listed << name->itemText(i);
  EXPECT_EQ(listed, QStringList({"usrfmts1", "usrfmts2"}));
}

TEST_F(Dialogs, TheTypedNameBecomesTheFileName) {
  const struct {
    const char* typed;
    const char* file;  // in the profiles folder, without ".ini"
  } cases[] = {
      {"abc", "abc"},
      {"abc.ini", "abc"},          // the extension is not doubled
      {"ABC.INI", "ABC.INI"},      // only ".ini" exactly is an extension
      {"two words", "two words"},
  };
  for (const auto& c : cases) {
    TUsrProfile profile(&std_);
    EXPECT_TRUE(CreateProfile(profile, c.typed, false)) << c.typed;
    EXPECT_TRUE(QFileInfo::exists(ProfilePath(c.file))) << c.typed;
    EXPECT_TRUE(profile.Opened()) << c.typed;
    EXPECT_EQ(profile.Path(), ProfilePath(c.file));
    EXPECT_EQ(profile.ProfileName(), c.file);
    profile.Close(true);
  }
  EXPECT_TRUE(dialogs_.errors.isEmpty());
  EXPECT_TRUE(dialogs_.questions.isEmpty());
}

TEST_F(Dialogs, ANewProfileIsACopyOfTheCurrentOneOrEmpty) {
  PutProfile("cur", kCurrentProfile);
  TUsrProfile profile(&std_);
  ASSERT_TRUE(profile.Open(ProfilePath("cur")));

  ASSERT_TRUE(CreateProfile(profile, "copy", true));
  EXPECT_EQ(profile.Path(), ProfilePath("copy"));
  EXPECT_TRUE(profile.Opened());
  // The formats in memory, renumbered, with the current-format choices.
  EXPECT_EQ(Sections("copy"), QStringList({"MUL.1", "MUL.2", "EMM.1", "Main"}));
  const TIniFile copy(ProfilePath("copy"));
  EXPECT_EQ(copy.ReadString("MUL.2", "name", ""), "Seven");
  EXPECT_EQ(copy.ReadString("Main", "CurMULFmt", ""), "Seven");
  EXPECT_EQ(profile.GetFmtList(cft_MUL).Count(), 2);
  EXPECT_EQ(ReadAll(ProfilePath("cur")), kCurrentProfile);  // the original stays as it was

  ASSERT_TRUE(CreateProfile(profile, "empty", false));
  EXPECT_EQ(profile.Path(), ProfilePath("empty"));
  EXPECT_TRUE(profile.Opened());
  EXPECT_EQ(profile.GetFmtList(cft_MUL).Count(), 0);
  EXPECT_EQ(profile.GetFmtList(cft_Emm).Count(), 0);
  EXPECT_TRUE(ReadAll(ProfilePath("empty")).trimmed().isEmpty());
  // The current-format choices stay as they were.
  EXPECT_EQ(profile.GetCurFmtName(cft_MUL), "Seven");
  EXPECT_FALSE(profile.GetCurFmtStd(cft_MUL));
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(Dialogs, AnExistingProfileIsReplacedOnlyOnYes) {
  PutProfile("cur", kCurrentProfile);
  const QByteArray other = "[HID.1]\nname=Theirs\nhint=\ntemplate=%u\nreplaces=b0\n";
  PutProfile("other", other);
  TUsrProfile profile(&std_);
  ASSERT_TRUE(profile.Open(ProfilePath("cur")));

  for (auto answer : {IAppDialogs::ansNo, IAppDialogs::ansCancel}) {
    dialogs_.answer = answer;
    EXPECT_FALSE(CreateProfile(profile, "other", true));
    EXPECT_EQ(dialogs_.questions.takeLast(), "Profile \"other\" already exists. Replace?");
    EXPECT_EQ(ReadAll(ProfilePath("other")), other);
    EXPECT_TRUE(profile.Opened());
    EXPECT_EQ(profile.Path(), ProfilePath("cur"));
  }
  dialogs_.answer = IAppDialogs::ansYes;
  EXPECT_TRUE(CreateProfile(profile, "other.ini", true));
  EXPECT_EQ(dialogs_.questions.takeLast(), "Profile \"other\" already exists. Replace?");
  EXPECT_EQ(Sections("other"), QStringList({"MUL.1", "MUL.2", "EMM.1", "Main"}));
  EXPECT_EQ(profile.Path(), ProfilePath("other"));
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(Dialogs, CopyingOntoTheOpenProfileRewritesItRenumbered) {
  PutProfile("cur", kCurrentProfile);
  TUsrProfile profile(&std_);
  ASSERT_TRUE(profile.Open(ProfilePath("cur")));
  dialogs_.answer = IAppDialogs::ansYes;
  ASSERT_TRUE(CreateProfile(profile, "cur", true));
  EXPECT_EQ(Sections("cur"), QStringList({"MUL.1", "MUL.2", "EMM.1", "Main"}));
  EXPECT_TRUE(profile.Opened());
  EXPECT_TRUE(profile.FmtExists(cft_MUL, 1));
  EXPECT_TRUE(profile.FmtExists(cft_MUL, 2));
  EXPECT_FALSE(profile.FmtExists(cft_MUL, 7));
}

TEST_F(Dialogs, ANameThatCannotBeAFileNameIsRefusedAndTheOpenProfileStays) {
  PutProfile("cur", kCurrentProfile);
  TUsrProfile profile(&std_);
  ASSERT_TRUE(profile.Open(ProfilePath("cur")));
  const QStringList before = QDir(ProfilesDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  for (const char* name : {"", ".ini", ".", "..", "a/b", "../escape"}) {
    dialogs_.errors.clear();
    EXPECT_FALSE(CreateProfile(profile, name, true)) << name;
    ASSERT_EQ(dialogs_.errors.size(), 1) << name;
    EXPECT_TRUE(dialogs_.errors[0].startsWith("Failed to create a profile file "))
        << dialogs_.errors[0].toStdString();
    EXPECT_TRUE(profile.Opened()) << name;
    EXPECT_EQ(profile.Path(), ProfilePath("cur")) << name;
  }
  EXPECT_EQ(QDir(ProfilesDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
  EXPECT_FALSE(QFileInfo::exists(home_.filePath("Sorvex/escape.ini")));
  EXPECT_TRUE(dialogs_.questions.isEmpty());
}

TEST_F(Dialogs, AProfileThatCannotBeWrittenLeavesTheOpenOneBound) {
  PutProfile("cur", kCurrentProfile);
  QDir().mkpath(ProfilePath("blocked"));  // a folder where the file would go
  dialogs_.answer = IAppDialogs::ansYes;
  for (bool copy : {true, false}) {
    TUsrProfile profile(&std_);
    ASSERT_TRUE(profile.Open(ProfilePath("cur")));
    dialogs_.errors.clear();
    EXPECT_FALSE(CreateProfile(profile, "blocked", copy));
    EXPECT_EQ(dialogs_.errors, QStringList({"Failed to create a profile file " + ProfilePath("blocked") + "."}));
    // Still bound: a new format reaches the file at once.
    ASSERT_TRUE(profile.Opened()) << copy;
    EXPECT_EQ(profile.Path(), ProfilePath("cur"));
    const TCvtFmt* added = nullptr;
    ASSERT_TRUE(profile.AddFmt(cft_Hid, "New", "", "%u", "b0", added));
    EXPECT_TRUE(Sections("cur").contains("HID.1")) << copy;
    ASSERT_TRUE(profile.DelFmt(cft_Hid, added->m_nFmtId));
  }
}

// ---- The settings dialog ----

struct CheckOption {
  const char* control;
  bool TfmSettingsDlg::*field;
  const char* key;  // in the settings file; none for the autostart entry
};
const CheckOption kCheckOptions[] = {
    {"chkAutorun", &TfmSettingsDlg::FAutorun, nullptr},
    {"chkAlwaysOnTop", &TfmSettingsDlg::FAlwaysOnTop, "TopMost"},
    {"chkOneInstance", &TfmSettingsDlg::FOneInstance, "OneInstance"},
    {"chkShowTransFmtPar", &TfmSettingsDlg::FShowTransFmtPar, "TransFmtPar"},
    {"chkTransLog", &TfmSettingsDlg::FTransLog, "TransLog"},
    {"chkAltWorkPort", &TfmSettingsDlg::FAltWorkPort, "AltWorkPort"},
    {"chkDebugMode", &TfmSettingsDlg::FDebugMode, "DebugMode"},
};

class SettingsDialog : public Dialogs {
 protected:
  QString SettingsPath() const { return home_.filePath("settings.ini"); }
  // The fields as the main window fills them from the settings.
  void Fill(TfmSettingsDlg& ADlg) {
    TAppConfig cfg;
    cfg.SetFileName(SettingsPath());
    cfg.BeginUpdate();
    for (const CheckOption& o : kCheckOptions)
      if (o.key) ADlg.*o.field = cfg.ReadBool(o.key, false);
    ADlg.FLogDir = cfg.GetLogDir();
    ADlg.FPressKeyDelay = cfg.GetPressKeyDelay();
    ADlg.FReleaseKeyDelay = cfg.GetReleaseKeyDelay();
    cfg.EndUpdate();
  }
  TfmSettingsDlg& Dialog() {
    dlg_ = std::make_unique<TfmSettingsDlg>(lang_, langs_, [this](int AIdx) { setLangCalls_.push_back(AIdx); });
    return *dlg_;
  }

  TALangs langs_;
  std::vector<int> setLangCalls_;
  std::unique_ptr<TfmSettingsDlg> dlg_;
};

TEST_F(SettingsDialog, EveryOptionIsShownAndTheChoiceIsStored) {
  PutFile(SettingsPath(),
          "[Main]\nTopMost=1\nOneInstance=0\nTransFmtPar=1\nTransLog=0\nLogDir=/var/old\nPressKeyDelay=15\n"
          "ReleaseKeyDelay=20\nAltWorkPort=0\nDebugMode=1\nlang=1049\nPort=pts/9\n");
  TfmSettingsDlg& dlg = Dialog();
  Fill(dlg);
  dlg.FAutorun = true;
  std::vector<bool> before;
  for (const CheckOption& o : kCheckOptions) before.push_back(dlg.*o.field);
  EXPECT_EQ(before, std::vector<bool>({true, true, false, true, false, false, true}));
  dlg.show();
  for (const CheckOption& o : kCheckOptions) {
    auto* box = Find<QCheckBox>(dlg, o.control);
    EXPECT_EQ(box->isChecked(), dlg.*o.field) << o.control;
    box->click();  // the user turns every option over
  }
  EXPECT_EQ(Find<QLineEdit>(dlg, "edtLogDir")->text(), "/var/old");
  auto* press = Find<QSpinBox>(dlg, "edtPressKeyDelay");
  auto* release = Find<QSpinBox>(dlg, "edtReleaseKeyDelay");
  EXPECT_EQ(press->value(), 15);
  EXPECT_EQ(release->value(), 20);
  press->setValue(250);
  release->setValue(0);
  Find<QPushButton>(dlg, "btnOk")->click();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  for (size_t i = 0; i < std::size(kCheckOptions); ++i)
    EXPECT_EQ(dlg.*kCheckOptions[i].field, !before[i]) << kCheckOptions[i].control;
  EXPECT_EQ(dlg.FPressKeyDelay, 250u);
  EXPECT_EQ(dlg.FReleaseKeyDelay, 0u);

  TAppConfig cfg;
  cfg.SetFileName(SettingsPath());
  dlg.FLogDir = "/elsewhere";  // but the caller found the folder unchanged
  ASSERT_TRUE(dlg.StoreSettings(cfg, false));
  const TIniFile file(SettingsPath());
  for (const CheckOption& o : kCheckOptions)
    if (o.key) {
      EXPECT_EQ(file.ReadString("Main", o.key, "?"), dlg.*o.field ? "1" : "0") << o.key;
    }
  EXPECT_EQ(file.ReadString("Main", "PressKeyDelay", ""), "250");
  EXPECT_EQ(file.ReadString("Main", "ReleaseKeyDelay", ""), "0");
  EXPECT_EQ(file.ReadString("Main", "lang", ""), "0");
  EXPECT_EQ(file.ReadString("Main", "Port", ""), "pts/9");  // other settings stay
  EXPECT_EQ(file.ReadString("Main", "LogDir", ""), "/var/old");
  // The folder when it changed, and the language that is loaded.
  QTemporaryDir langDir;
  PutFile(langDir.filePath("de.lng"), "[Global]\nTitle=Deutsch\nLangId=0407\n");
  lang_.SetFileName(langDir.filePath("de.lng"));
  ASSERT_TRUE(lang_.SetLoaded(true));
  dlg.FLogDir = "/var/new";
  ASSERT_TRUE(dlg.StoreSettings(cfg, true));
  EXPECT_EQ(cfg.GetLogDir(), "/var/new");
  EXPECT_EQ(cfg.GetLanguage(), 0x407);
}

TEST_F(SettingsDialog, CancelReadsNothingBack) {
  TfmSettingsDlg& dlg = Dialog();
  dlg.FTransLog = true;
  dlg.FLogDir = "/var/logs";
  dlg.FPressKeyDelay = 5;
  dlg.show();
  for (const CheckOption& o : kCheckOptions) Find<QCheckBox>(dlg, o.control)->click();
  Find<QSpinBox>(dlg, "edtPressKeyDelay")->setValue(99);
  Find<QPushButton>(dlg, "btnCancel")->click();
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  for (const CheckOption& o : kCheckOptions)
    EXPECT_EQ(dlg.*o.field, o.field == &TfmSettingsDlg::FTransLog) << o.control;
  EXPECT_EQ(dlg.FLogDir, "/var/logs");
  EXPECT_EQ(dlg.FPressKeyDelay, 5u);
  // Shown again, the dialog shows the fields, not what was left in it.
  dlg.show();
  EXPECT_EQ(Find<QSpinBox>(dlg, "edtPressKeyDelay")->value(), 5);
  EXPECT_TRUE(Find<QCheckBox>(dlg, "chkTransLog")->isChecked());
}

// What the user types into a spin edit, key by key, over its whole text.
void TypeInto(QSpinBox* AEdit, const QString& AText) {
  AEdit->selectAll();
  for (QChar c : AText) {
    const auto key = c.isDigit() ? Qt::Key(Qt::Key_0 + c.digitValue()) : Qt::Key_Minus;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(AEdit, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(AEdit, &release);
  }
}

TEST_F(SettingsDialog, KeyDelaysStayWithinZeroAndTenSeconds) {
  // A value set by the program, or typed by the user: beyond the range it
  // becomes the limit, never another number.
  const struct {
    uint32_t field;
    int shown;
    int set;           // set by the program, unless typed
    const char* typed;  // typed by the user
    uint32_t result;
  } cases[] = {
      {7, 7, 7, nullptr, 7},
      {20000, 10000, 10000, nullptr, 10000},
      {0xFFFFFFFFu, 10000, 10001, nullptr, 10000},
      {0, 0, -1, nullptr, 0},
      {5, 5, 0, "250", 250},
      {5, 5, 0, "20000", 10000},
      {5, 5, 0, "10001", 10000},
      {5, 5, 0, "99999999999", 10000},
      {5, 5, 0, "10000", 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed ? c.typed : std::to_string(c.set));
    TfmSettingsDlg& dlg = Dialog();
    dlg.FPressKeyDelay = dlg.FReleaseKeyDelay = c.field;
    dlg.show();
    for (const char* name : {"edtPressKeyDelay", "edtReleaseKeyDelay"}) {
      auto* edit = Find<QSpinBox>(dlg, name);
      EXPECT_EQ(edit->value(), c.shown) << c.field;
      if (c.typed)
        TypeInto(edit, QString::fromLatin1(c.typed));
      else
        edit->setValue(c.set);
    }
    Find<QPushButton>(dlg, "btnOk")->click();
    EXPECT_EQ(dlg.FPressKeyDelay, c.result) << c.field;
    EXPECT_EQ(dlg.FReleaseKeyDelay, c.result) << c.field;
    // What the user sees is what was taken.
    EXPECT_EQ(Find<QSpinBox>(dlg, "edtPressKeyDelay")->text(), QString::number(c.result));
  }
}

TEST_F(SettingsDialog, TheLogFolderControlsFollowTheLogSwitch) {
  TfmSettingsDlg& dlg = Dialog();
  dlg.FLogDir = "/var/logs";
  dlg.show();
  auto* log = Find<QCheckBox>(dlg, "chkTransLog");
  auto* dir = Find<QLineEdit>(dlg, "edtLogDir");
  auto* browse = Find<QPushButton>(dlg, "btnLogDir");
  EXPECT_FALSE(dir->isEnabled());
  EXPECT_FALSE(browse->isEnabled());
  EXPECT_TRUE(dir->isReadOnly());
  log->click();
  EXPECT_TRUE(dir->isEnabled());
  EXPECT_TRUE(browse->isEnabled());
  log->click();
  EXPECT_FALSE(dir->isEnabled());
  EXPECT_FALSE(browse->isEnabled());
  Find<QPushButton>(dlg, "btnOk")->click();
  EXPECT_EQ(dlg.FLogDir, "/var/logs");  // kept while the log is off
  EXPECT_FALSE(dlg.FTransLog);
}

TEST_F(SettingsDialog, TheLanguageListOffersTheFilesOnlyWhileOneIsLoaded) {
  QTemporaryDir langDir;
  PutFile(langDir.filePath("a.lng"),
          "[Global]\nTitle=Alpha\nLangId=0419\n[Forms]\nTfmSettingsDlg-Caption=Alpha settings\n");
  PutFile(langDir.filePath("b.lng"), "[Global]\nTitle=Beta\nLangId=0407\n");
  EnumLanguages(langs_, langDir.path());
  ASSERT_EQ(langs_.size(), 2u);
  {
    TfmSettingsDlg& dlg = Dialog();
    dlg.show();
    EXPECT_EQ(Find<QComboBox>(dlg, "cbLang")->count(), 0);
    Find<QPushButton>(dlg, "btnOk")->click();
    EXPECT_TRUE(setLangCalls_.empty());
  }
  lang_.SetFileName(langDir.filePath("a.lng"));
  ASSERT_TRUE(lang_.SetLoaded(true));
  {
    TfmSettingsDlg& dlg = Dialog();
    EXPECT_EQ(dlg.windowTitle(), "Alpha settings");  // translated when made
    dlg.show();
    auto* list = Find<QComboBox>(dlg, "cbLang");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(1), "Beta");
    EXPECT_EQ(list->currentIndex(), 0);  // the loaded one
    Find<QPushButton>(dlg, "btnOk")->click();
    EXPECT_TRUE(setLangCalls_.empty());  // the loaded language is not loaded again
  }
  {
    TfmSettingsDlg& dlg = Dialog();
    dlg.show();
    Find<QComboBox>(dlg, "cbLang")->setCurrentIndex(1);
    Find<QPushButton>(dlg, "btnCancel")->click();
    EXPECT_TRUE(setLangCalls_.empty());
    dlg.show();
    Find<QComboBox>(dlg, "cbLang")->setCurrentIndex(1);
    Find<QPushButton>(dlg, "btnOk")->click();
    EXPECT_EQ(setLangCalls_, std::vector<int>({1}));
  }
}

TEST_F(SettingsDialog, TheFolderBrowserPicksTheLogFolder) {
  QTemporaryDir root;
  for (const char* sub : {"logs", "other"}) QDir(root.path()).mkdir(sub);
  const QString logs = root.filePath("logs"), other = root.filePath("other");
  TfmSettingsDlg& dlg = Dialog();
  dlg.FTransLog = true;
  dlg.FLogDir = logs;
  dlg.show();
  auto* browse = Find<QPushButton>(dlg, "btnLogDir");
  auto* dir = Find<QLineEdit>(dlg, "edtLogDir");

  // Cancelled: nothing changes.
  BrowserUser cancel([&](QFileDialog& ABrowser) {
    EXPECT_EQ(ABrowser.directory().absolutePath(), logs);  // opens on the current folder
    EXPECT_EQ(StatusOf(ABrowser), logs);
    ABrowser.reject();
  });
  browse->click();
  EXPECT_TRUE(cancel.ran);
  EXPECT_EQ(dir->text(), logs);

  // Picked: the status line follows the selection, the edit shows the folder.
  BrowserUser pick([&](QFileDialog& ABrowser) {
    ABrowser.setDirectory(root.path());
    ClickFolder(ABrowser, other);
    EXPECT_EQ(StatusOf(ABrowser), other);
    Accept(ABrowser);
  });
  browse->click();
  EXPECT_TRUE(pick.ran);
  EXPECT_EQ(dir->text(), other);
  EXPECT_EQ(dlg.FLogDir, logs);  // a field only changes on OK
  Find<QPushButton>(dlg, "btnOk")->click();
  EXPECT_EQ(dlg.FLogDir, other);
}

TEST_F(Dialogs, TheFolderBrowserKeepsToItsRootAndItsButtons) {
  QTemporaryDir top;
  QDir(top.path()).mkpath("root/inner");
  const QString root = top.filePath("root");
  for (bool hide : {false, true}) {
    TFolderDialog browser(hide, top.path());  // starts outside its root
    browser.SetRootDir(root);
    EXPECT_TRUE(browser.StatusBar());
    EXPECT_FALSE(browser.EditBox());
    BrowserUser user([&](QFileDialog& ABrowser) {
      EXPECT_EQ(ABrowser.directory().absolutePath(), root);
      auto* newFolder = ABrowser.findChild<QToolButton*>(QStringLiteral("newFolderButton"));
      ASSERT_NE(newFolder, nullptr);
      EXPECT_EQ(newFolder->isHidden(), hide);
      EXPECT_TRUE(ABrowser.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->isHidden());
      // A step up from the root goes back to it.
      ABrowser.findChild<QToolButton*>(QStringLiteral("toParentButton"))->click();
      EXPECT_EQ(ABrowser.directory().absolutePath(), root);
      Accept(ABrowser);
    });
    browser.SetSelectedFolder("/before");
    ASSERT_TRUE(browser.Execute(nullptr));
    EXPECT_TRUE(user.ran);
    EXPECT_EQ(browser.SelectedFolder(), root);
  }
  // The name field on request; a cancelled browser keeps the folder it had.
  TFolderDialog browser(false, top.path());
  browser.SetEditBox(true);
  browser.SetSelectedFolder("/before");
  BrowserUser typed([&](QFileDialog& ABrowser) {
    auto* edit = ABrowser.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    EXPECT_FALSE(edit->isHidden());
    ABrowser.reject();
  });
  EXPECT_FALSE(browser.Execute(nullptr));
  EXPECT_TRUE(typed.ran);
  EXPECT_EQ(browser.SelectedFolder(), "/before");
}

// The browser in the window's language: Qt's own texts come from its
// translation, as the main window installs it for a loaded language.
TEST_F(Dialogs, TheFolderBrowsersColumnsAndSideListShowTheirTextsWholeInEitherLanguage) {
  QTemporaryDir top;
  for (const char* name : {"archive", "Отчёты за прошлый год"}) QDir(top.path()).mkpath(QString::fromUtf8(name));
  const struct {
    QLocale::Language language;
    const char* folder;  // the type of a folder
  } cases[] = {{QLocale::English, "Folder"}, {QLocale::Russian, "Папка"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(QLocale::languageToString(c.language).toStdString());
    QTranslator qt;
    if (c.language != QLocale::English) {
      ASSERT_TRUE(qt.load(QLocale(c.language), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
      QCoreApplication::installTranslator(&qt);
    }
    TFolderDialog browser(false, top.path());
    BrowserUser user([&](QFileDialog& ABrowser) {
      auto* view = ABrowser.findChild<QTreeView*>(QStringLiteral("treeView"));
      auto* side = ABrowser.findChild<QListView*>(QStringLiteral("sidebar"));
      ASSERT_TRUE(view && side);
      ASSERT_TRUE(view->isVisible());
      auto* model = qobject_cast<QFileSystemModel*>(view->model());
      ASSERT_NE(model, nullptr);
      const QModelIndex dir = model->index(top.path());
      // The folder is read in the background; its rows, and the widths that
      // follow them, come a moment later.
      QDeadlineTimer limit(5000);
      while (model->rowCount(dir) < 2 && !limit.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      ASSERT_EQ(model->rowCount(dir), 2);
      QCoreApplication::processEvents();
      for (int row = 0; row < 2; ++row)
        EXPECT_EQ(model->index(row, 2, dir).data().toString(), QString::fromUtf8(c.folder));
      const QHeaderView* header = view->header();
      // What the cells of a column need (QTreeView hides it, the view it is shows it).
      const QAbstractItemView* cells = view;
      for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column)) continue;
        SCOPED_TRACE(model->headerData(column, Qt::Horizontal).toString().toStdString());
        EXPECT_GE(header->sectionSize(column), cells->sizeHintForColumn(column)) << "a text of the column is cut";
        EXPECT_GE(header->sectionSize(column), header->sectionSizeHint(column)) << "the column's title is cut";
      }
      EXPECT_GE(side->viewport()->width(), side->sizeHintForColumn(0)) << "a place of the side list is cut";
      ABrowser.reject();
    });
    EXPECT_FALSE(browser.Execute(nullptr));
    EXPECT_TRUE(user.ran);
    QCoreApplication::removeTranslator(&qt);
  }
}

// ---- The about box ----

TEST_F(Dialogs, TheAboutBoxShowsTheVersionAndOpensItsLinks) {
  TAboutBox box(lang_);
  box.show();
  EXPECT_TRUE(TAboutBox::BuildDate().isValid());
  EXPECT_EQ(Find<QLabel>(box, "stVersion")->text(),
            QStringLiteral(SORVEX_VERSION_TEXT " (%1)")
                .arg(QLocale().toString(TAboutBox::BuildDate(), QLocale::ShortFormat)));
  // The icon fills its place: drawn at the place's size, not a small image
  // in the middle of it.
  auto* icon = Find<QLabel>(box, "ProgramIcon");
  const QImage drawn = icon->pixmap().toImage();
  EXPECT_EQ(drawn.size(), icon->size());
  EXPECT_EQ(drawn.pixel(drawn.width() / 2, drawn.height() / 2), 0xFF2EA043u);
  EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
  EXPECT_EQ(Find<QLabel>(box, "ProductName")->font().pixelSize(), 19);

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  QDesktopServices::setUrlHandler("mailto", &catcher, "open");
  emit Find<QLabel>(box, "labInternet")->linkActivated("https://elsewhere.example.net/");
  emit Find<QLabel>(box, "labMail")->linkActivated("mailto:x@elsewhere.example.net");
  QDesktopServices::unsetUrlHandler("https");
  QDesktopServices::unsetUrlHandler("mailto");
  // The box's own addresses, whatever a (translated) link text says.
  EXPECT_EQ(catcher.urls,
            QList<QUrl>({QUrl(TAboutBox::kWebPage), QUrl(QStringLiteral("mailto:") + TAboutBox::kMailAddress)}));

  auto* ok = Find<QPushButton>(box, "OKButton");
  EXPECT_TRUE(ok->isDefault());
  ok->click();
  EXPECT_EQ(box.result(), QDialog::Accepted);
}

// ---- Texts ----

TEST_F(Dialogs, EveryDialogShowsTheProgramsIcon) {
  TALangs langs;
  TfmSettingsDlg settings(lang_, langs, nullptr);
  TfmNewProfile newProfile(lang_, dialogs_);
  TAboutBox about(lang_);
  for (QDialog* dlg : std::initializer_list<QDialog*>{&settings, &newProfile, &about}) {
    SCOPED_TRACE(dlg->objectName().toStdString());
    // The reader's active image: a green disc on a transparent ground.
    const QImage icon = dlg->windowIcon().pixmap(16, 16).toImage();
    ASSERT_EQ(icon.size(), QSize(16, 16));
    EXPECT_EQ(icon.pixel(8, 8), 0xFF2EA043u);
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
  }
}

TEST_F(Dialogs, EveryTextShowsWholeInEveryShippedLanguage) {
  TALangs langs;
  EnumLanguages(langs);
  const int ru = FindLangIndex(langs, 0x419);
  ASSERT_GE(ru, 0);
  for (const bool russian : {false, true}) {
    SCOPED_TRACE(russian ? "Russian" : "built-in language");
    if (russian) {
      lang_.SetFileName(MakeLangPath(langs[ru].sFileName));
      ASSERT_TRUE(lang_.SetLoaded(true));
    }
    // Made while the language is loaded, as the program makes them.
    TfmSettingsDlg settings(lang_, langs, nullptr);
    TfmNewProfile newProfile(lang_, dialogs_);
    TAboutBox about(lang_);
    const struct {
      QDialog* dialog;
      QSize size;
    } dialogs[] = {{&settings, QSize(380, 376)}, {&newProfile, QSize(245, 108)}, {&about, QSize(298, 235)}};
    for (const auto& d : dialogs) {
      SCOPED_TRACE(d.dialog->objectName().toStdString());
      d.dialog->show();
      EXPECT_EQ(d.dialog->size(), d.size);
      EXPECT_EQ(TextsCut(*d.dialog), QStringList());
      d.dialog->hide();
    }
  }
  lang_.SetLoaded(false);
}

TEST_F(Dialogs, TheShippedRussianFileTranslatesEveryDialog) {
  TALangs langs;
  EnumLanguages(langs);
  const int ru = FindLangIndex(langs, 0x419);
  ASSERT_GE(ru, 0);
  TfmSettingsDlg settings(lang_, langs, nullptr);
  TfmNewProfile newProfile(lang_, dialogs_);
  TAboutBox about(lang_);
  const QList<QObject*> forms{&settings, &newProfile, &about};

  // Every key of the dialogs addresses a text, and every text a user reads
  // has a key (the product's name and the "..." button have none to change).
  const TIniFile file(MakeLangPath(langs[ru].sFileName));
  std::set<QString> keys;
  for (const auto& [key, value] : file.ReadSectionValues("Forms")) {
    const QString form = key.section(u'-', 0, 0);
    if (form != "TfmSettingsDlg" && form != "TfmNewProfile" && form != "TAboutBox") continue;
    EXPECT_TRUE(ResolveFormKey(forms, key).has_value()) << "addresses nothing: " << key.toStdString();
    keys.insert(key);
  }
  const QStringList untranslated{"ProductName", "btnLogDir"};
  for (QObject* form : forms) {
    const QString cls = FormClassName(form);
    EXPECT_TRUE(keys.count(cls + "-Caption")) << cls.toStdString();
    for (QObject* c : OwnedComponents(form)) {
      const auto caption = ResolveTextPath(c, "Caption", false);
      if (!caption || caption->Get().isEmpty() || untranslated.contains(c->objectName())) continue;
      const QString key = cls + u'-' + c->objectName() + "-Caption";
      EXPECT_TRUE(keys.count(key)) << "no translation: " << key.toStdString();
    }
  }

  lang_.SetFileName(MakeLangPath(langs[ru].sFileName));
  ASSERT_TRUE(lang_.SetLoaded(true));
  EXPECT_EQ(settings.windowTitle(), QString::fromUtf8("Настройки"));
  EXPECT_EQ(Find<QCheckBox>(newProfile, "chkCopy")->text(),
            QString::fromUtf8("Копировать текущий профиль"));
  EXPECT_EQ(Find<QLabel>(about, "Version")->text(), QString::fromUtf8("Версия:"));
  TAboutBox later(lang_);  // made while the language is loaded
  EXPECT_EQ(later.windowTitle(), QString::fromUtf8("О программе"));
  lang_.SetLoaded(false);
  EXPECT_EQ(settings.windowTitle(), "Settings");
  EXPECT_EQ(about.windowTitle(), "About");
}

}  // namespace

int main(int argc, char** argv) { return RunWidgetTests(argc, argv); }

#include "DialogsTest.moc"
