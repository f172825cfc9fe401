// The settings file: keys, defaults, updates and the guards around them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <functional>
#include <optional>

#include <QFileInfo>

#include "AppConfig.h"
#include "common/FileSizeLimit.h"

namespace {

class Settings : public ::testing::Test {
 protected:
  void SetUp() override { cfg_.SetFileName(Path()); }
  QString Path() const { return dir_.filePath("Sorvex.ini"); }
  QByteArray FileBytes() const {
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  void PutFile(const QByteArray& bytes) const {
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QTemporaryDir dir_;
  TAppConfig cfg_;
};

using Get = std::function<QString(TAppConfig&)>;
using Set = std::function<void(TAppConfig&)>;
QString B(bool v) { return v ? "true" : "false"; }
QString I(int64_t v) { return QString::number(v); }

struct KeyCase {
  const char* key;
  Get get;
  QString byDefault;  // what the getter gives without a file
  Set set;
  const char* stored;  // the value line the setter writes
  QString readBack;    // what the getter gives after the setter
};

// Every key of the file: its name, its default, how it is written and read.
std::vector<KeyCase> Keys() {
  const QString lang = I(SystemLangId());
  return {
      {"FormPos", [](TAppConfig& c) { auto p = c.GetMainFormPos(); return I(p.x()) + "," + I(p.y()); },
       "-1,-1", [](TAppConfig& c) { c.SetMainFormPos({100, -20}); }, "[100,-20]", "100,-20"},
      {"lang", [](TAppConfig& c) { return I(c.GetLanguage()); }, lang,
       [](TAppConfig& c) { c.SetLanguage(1049); }, "1049", "1049"},
      {"OneInstance", [](TAppConfig& c) { return B(c.GetSingleInstance()); }, "false",
       [](TAppConfig& c) { c.SetSingleInstance(true); }, "1", "true"},
      {"TopMost", [](TAppConfig& c) { return B(c.GetTopMost()); }, "false",
       [](TAppConfig& c) { c.SetTopMost(true); }, "1", "true"},
      {"Port", [](TAppConfig& c) { return c.GetPort(); }, "",
       [](TAppConfig& c) { c.SetPort("ttyUSB0"); }, "ttyUSB0", "ttyUSB0"},
      {"PortEnable", [](TAppConfig& c) { return B(c.GetPortEnable()); }, "false",
       [](TAppConfig& c) { c.SetPortEnable(true); }, "1", "true"},
      {"ShowFmtPan", [](TAppConfig& c) { return B(c.GetShowFmtPan()); }, "true",
       [](TAppConfig& c) { c.SetShowFmtPan(false); }, "0", "false"},
      {"ActivePageN", [](TAppConfig& c) { return I(c.GetActivePageN()); }, "0",
       [](TAppConfig& c) { c.SetActivePageN(3); }, "3", "3"},
      {"Profile", [](TAppConfig& c) { return c.GetUserProfile(); }, "",
       [](TAppConfig& c) { c.SetUserProfile(QStringLiteral("Проходная 2")); }, "Проходная 2",
       QStringLiteral("Проходная 2")},
      {"MULFormat", [](TAppConfig& c) { return c.GetMULFormat(); }, "",
       [](TAppConfig& c) { c.SetMULFormat(" padded "); }, "\" padded \"", " padded "},
      {"M1KFormat", [](TAppConfig& c) { return c.GetM1KFormat(); }, "",
       [](TAppConfig& c) { c.SetM1KFormat("m1k"); }, "m1k", "m1k"},
      {"HidFormat", [](TAppConfig& c) { return c.GetHidFormat(); }, "",
       [](TAppConfig& c) { c.SetHidFormat("hid"); }, "hid", "hid"},
      {"EmFormat", [](TAppConfig& c) { return c.GetEmFormat(); }, "",
       [](TAppConfig& c) { c.SetEmFormat("em"); }, "em", "em"},
      {"IcFormat", [](TAppConfig& c) { return c.GetIcFormat(); }, "",
       [](TAppConfig& c) { c.SetIcFormat("ic"); }, "ic", "ic"},
      {"ExFormat", [](TAppConfig& c) { return c.GetExFormat(); }, "",
       [](TAppConfig& c) { c.SetExFormat("basic"); }, "basic", "basic"},
      {"StdMULFormat", [](TAppConfig& c) { return B(c.GetStdMULFormat()); }, "false",
       [](TAppConfig& c) { c.SetStdMULFormat(true); }, "1", "true"},
      {"StdM1KFormat", [](TAppConfig& c) { return B(c.GetStdM1KFormat()); }, "false",
       [](TAppConfig& c) { c.SetStdM1KFormat(true); }, "1", "true"},
      {"StdHidFormat", [](TAppConfig& c) { return B(c.GetStdHidFormat()); }, "false",
       [](TAppConfig& c) { c.SetStdHidFormat(true); }, "1", "true"},
      {"StdEmFormat", [](TAppConfig& c) { return B(c.GetStdEmFormat()); }, "false",
       [](TAppConfig& c) { c.SetStdEmFormat(true); }, "1", "true"},
      {"StdIcFormat", [](TAppConfig& c) { return B(c.GetStdIcFormat()); }, "false",
       [](TAppConfig& c) { c.SetStdIcFormat(true); }, "1", "true"},
      {"StdExFormat", [](TAppConfig& c) { return B(c.GetStdExFormat()); }, "false",
       [](TAppConfig& c) { c.SetStdExFormat(true); }, "1", "true"},
      {"TransFmtPar", [](TAppConfig& c) { return B(c.GetTransFmtPar()); }, "false",
       [](TAppConfig& c) { c.SetTransFmtPar(true); }, "1", "true"},
      {"TransLog", [](TAppConfig& c) { return B(c.GetTransLog()); }, "false",
       [](TAppConfig& c) { c.SetTransLog(true); }, "1", "true"},
      {"LogDir", [](TAppConfig& c) { return c.GetLogDir(); }, "",
       [](TAppConfig& c) { c.SetLogDir("/var/log/cards"); }, "/var/log/cards", "/var/log/cards"},
      {"TransMethod", [](TAppConfig& c) { return I(c.GetTransMethod()); }, "0",
       [](TAppConfig& c) { c.SetTransMethod(1); }, "1", "1"},
      {"PressKeyDelay", [](TAppConfig& c) { return I(c.GetPressKeyDelay()); }, "0",
       [](TAppConfig& c) { c.SetPressKeyDelay(25); }, "25", "25"},
      {"ReleaseKeyDelay", [](TAppConfig& c) { return I(c.GetReleaseKeyDelay()); }, "0",
       [](TAppConfig& c) { c.SetReleaseKeyDelay(10000); }, "10000", "10000"},
      {"TabVisMUL", [](TAppConfig& c) { return B(c.GetTabVisMUL()); }, "true",
       [](TAppConfig& c) { c.SetTabVisMUL(false); }, "0", "false"},
      {"TabVisM1K", [](TAppConfig& c) { return B(c.GetTabVisM1K()); }, "true",
       [](TAppConfig& c) { c.SetTabVisM1K(false); }, "0", "false"},
      {"TabVisHID", [](TAppConfig& c) { return B(c.GetTabVisHID()); }, "true",
       [](TAppConfig& c) { c.SetTabVisHID(false); }, "0", "false"},
      {"TabVisEM", [](TAppConfig& c) { return B(c.GetTabVisEM()); }, "true",
       [](TAppConfig& c) { c.SetTabVisEM(false); }, "0", "false"},
      {"TabVisIC", [](TAppConfig& c) { return B(c.GetTabVisIC()); }, "true",
       [](TAppConfig& c) { c.SetTabVisIC(false); }, "0", "false"},
      {"TabVisEX", [](TAppConfig& c) { return B(c.GetTabVisEX()); }, "true",
       [](TAppConfig& c) { c.SetTabVisEX(false); }, "0", "false"},
      {"DefFormat", [](TAppConfig& c) { return I(c.GetDefFormat()); }, "0",
       [](TAppConfig& c) { c.SetDefFormat(2); }, "2", "2"},
      {"AltWorkPort", [](TAppConfig& c) { return B(c.GetAltWorkPort()); }, "false",
       [](TAppConfig& c) { c.SetAltWorkPort(true); }, "1", "true"},
      {"DebugMode", [](TAppConfig& c) { return B(c.GetDebugMode()); }, "false",
       [](TAppConfig& c) { c.SetDebugMode(true); }, "1", "true"},
  };
}

TEST_F(Settings, WithoutAFileEveryKeyHasItsDefaultAndTheFileAppears) {
  cfg_.BeginUpdate(true);
  for (const KeyCase& k : Keys()) EXPECT_EQ(k.get(cfg_), k.byDefault) << k.key;
  EXPECT_EQ(FileBytes(), "<missing>");  // nothing is written inside the update
  EXPECT_TRUE(cfg_.EndUpdate());
  EXPECT_EQ(FileBytes(), "");  // the end of the first update leaves a file behind
}

TEST_F(Settings, EveryKeyIsStoredUnderItsNameAndReadsBack) {
  {
    cfg_.BeginUpdate();
    for (const KeyCase& k : Keys()) k.set(cfg_);
    ASSERT_TRUE(cfg_.EndUpdate());
  }
  const QString text = QString::fromUtf8(FileBytes());
  ASSERT_TRUE(text.startsWith("[Main]\n")) << text.toStdString();
  TAppConfig fresh;
  fresh.SetFileName(Path());
  for (const KeyCase& k : Keys()) {
    EXPECT_TRUE(text.contains("\n" + QString::fromUtf8(k.key) + "=" + QString::fromUtf8(k.stored) + "\n"))
        << k.key;
    EXPECT_EQ(k.get(fresh), k.readBack) << k.key;
  }
}

TEST_F(Settings, OnlyTheOutermostUpdateWritesAndReadsAloneWriteToo) {
  cfg_.SetTopMost(true);  // an update of its own: written at once
  EXPECT_EQ(FileBytes(), "[Main]\nTopMost=1\n");

  cfg_.BeginUpdate();
  cfg_.BeginUpdate();
  cfg_.SetPort("ttyS0");
  EXPECT_EQ(cfg_.GetPort(), "ttyS0");  // the copy in memory answers
  EXPECT_TRUE(cfg_.EndUpdate());
  EXPECT_EQ(FileBytes(), "[Main]\nTopMost=1\n");
  EXPECT_TRUE(cfg_.EndUpdate());
  EXPECT_EQ(FileBytes(), "[Main]\nTopMost=1\nPort=ttyS0\n");

  // Someone else changes the file; an update of reads alone writes back what
  // it loaded.
  PutFile("[Main]\r\nPort=ttyS1\r\n");
  EXPECT_EQ(cfg_.GetPort(), "ttyS1");
  EXPECT_EQ(FileBytes(), "[Main]\r\nPort=ttyS1\r\n");
}

TEST_F(Settings, ValuesThatDoNotReadAsTheirTypeGiveTheDefault) {
  const struct {
    const char* line;
    Get get;
    QString expected;
  } cases[] = {
      {"FormPos=junk", [](TAppConfig& c) { auto p = c.GetMainFormPos(); return I(p.x()) + "," + I(p.y()); },
       "-1,-1"},
      {"FormPos=[5]", [](TAppConfig& c) { auto p = c.GetMainFormPos(); return I(p.x()) + "," + I(p.y()); },
       "-1,-1"},
      {"FormPos=[-,5]", [](TAppConfig& c) { auto p = c.GetMainFormPos(); return I(p.x()) + "," + I(p.y()); },
       "-1,-1"},
      {"FormPos=[ 7, -8]", [](TAppConfig& c) { auto p = c.GetMainFormPos(); return I(p.x()) + "," + I(p.y()); },
       "7,-8"},
      {"lang=0", [](TAppConfig& c) { return I(c.GetLanguage()); }, I(SystemLangId())},
      {"lang=0x419", [](TAppConfig& c) { return I(c.GetLanguage()); }, "1049"},
      {"OneInstance=2", [](TAppConfig& c) { return B(c.GetSingleInstance()); }, "true"},
      {"OneInstance=yes", [](TAppConfig& c) { return B(c.GetSingleInstance()); }, "false"},
      {"ShowFmtPan=yes", [](TAppConfig& c) { return B(c.GetShowFmtPan()); }, "true"},
      {"ActivePageN=1.5", [](TAppConfig& c) { return I(c.GetActivePageN()); }, "0"},
      // A delay out of range would freeze the typing: it is clamped.
      {"PressKeyDelay=-1", [](TAppConfig& c) { return I(c.GetPressKeyDelay()); }, "0"},
      {"PressKeyDelay=4294967295", [](TAppConfig& c) { return I(c.GetPressKeyDelay()); }, "0"},
      {"ReleaseKeyDelay=20000", [](TAppConfig& c) { return I(c.GetReleaseKeyDelay()); }, "10000"},
      {"ReleaseKeyDelay=0x7FFFFFFF", [](TAppConfig& c) { return I(c.GetReleaseKeyDelay()); }, "10000"},
  };
  for (const auto& c : cases) {
    PutFile(QByteArray("[Main]\n") + c.line + "\n");
    EXPECT_EQ(c.get(cfg_), c.expected) << c.line;
  }
}

TEST(LangIds, LocalesMapToWindowsLanguageIds) {
  EXPECT_EQ(LocaleToLangId(QLocale(QLocale::English, QLocale::UnitedStates)), 1033);
  EXPECT_EQ(LocaleToLangId(QLocale(QLocale::English, QLocale::UnitedKingdom)), 1033);
  EXPECT_EQ(LocaleToLangId(QLocale(QLocale::Russian, QLocale::Russia)), 1049);
  EXPECT_EQ(LocaleToLangId(QLocale(QLocale::Ukrainian)), 1058);
  EXPECT_EQ(LocaleToLangId(QLocale(QLocale::German)), 1031);
  EXPECT_EQ(LocaleToLangId(QLocale(QLocale::Welsh)), 1033);  // not in the table
  // And back, by the primary language: the language a file's id names.
  EXPECT_EQ(LangIdToLocale(0x0419).language(), QLocale::Russian);
  EXPECT_EQ(LangIdToLocale(0x0422).language(), QLocale::Ukrainian);
  EXPECT_EQ(LangIdToLocale(0x0807).language(), QLocale::German);  // Swiss German: still German
  EXPECT_EQ(LangIdToLocale(1033).language(), QLocale::English);
  EXPECT_EQ(LangIdToLocale(0x0452).language(), QLocale::English);  // not in the table
  EXPECT_EQ(LangIdToLocale(0).language(), QLocale::English);
}

TEST(SettingsWithoutAFile, BuiltInSettingsHeldInMemoryAndNothingWritten) {
  // Without a per-user folder the program has no settings file: it runs on
  // the defaults, keeps what it sets for the run, and writes nowhere.
  QTemporaryDir cwd;
  const QString old = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(cwd.path()));
  {
    TAppConfig cfg;
    cfg.BeginUpdate(true);
    for (const KeyCase& k : Keys()) EXPECT_EQ(k.get(cfg), k.byDefault) << k.key;
    cfg.SetPort("ttyUSB0");
    EXPECT_TRUE(cfg.EndUpdate());
    for (const KeyCase& k : Keys()) k.set(cfg);
    for (const KeyCase& k : Keys()) EXPECT_EQ(k.get(cfg), k.readBack) << k.key;
    EXPECT_EQ(cfg.GetPort(), "ttyUSB0");
  }
  QDir::setCurrent(old);
  EXPECT_TRUE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(Settings, AByteOrderMarkIsKept) {
  PutFile("\xEF\xBB\xBF[Main]\r\nPort=ttyS0\r\n");
  cfg_.SetPortEnable(true);
  EXPECT_EQ(FileBytes(), "\xEF\xBB\xBF[Main]\r\nPort=ttyS0\r\nPortEnable=1\r\n");
}

TEST_F(Settings, AFileThatCannotBeWrittenStillReads) {
  PutFile("[Main]\nPort=ttyS3\nTopMost=1\n");
  {
    FileSizeLimit limit;
    cfg_.BeginUpdate();
    EXPECT_EQ(cfg_.GetPort(), "ttyS3");
    cfg_.SetPort("ttyS4");
    EXPECT_EQ(cfg_.GetPort(), "ttyS4");
    EXPECT_FALSE(cfg_.EndUpdate());
    // The next access starts afresh and reads the file as it stands.
    EXPECT_TRUE(cfg_.GetTopMost());
    EXPECT_EQ(cfg_.GetPort(), "ttyS3");
  }
  EXPECT_EQ(FileBytes(), "[Main]\nPort=ttyS3\nTopMost=1\n");
}

TEST_F(Settings, AReadOnlyFileStillReadsAndStaysAsItIs) {
  // Beside a system-wide installation the settings file may be read-only.
  PutFile("[Main]\nPort=ttyS3\n");
  ASSERT_TRUE(QFile::setPermissions(Path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  EXPECT_EQ(cfg_.GetPort(), "ttyS3");
  cfg_.SetPort("ttyS4");  // cannot be stored
  EXPECT_EQ(cfg_.GetPort(), "ttyS3");
  EXPECT_EQ(FileBytes(), "[Main]\nPort=ttyS3\n");
}

// Every change the user makes meets the same obstacle again: storing is
// told as failing once, with the file and the reason, and once as working
// again when the obstacle has gone.
TEST_F(Settings, SettingsThatCannotBeStoredAreToldOnceUntilTheyAreStoredAgain) {
  std::optional<FileSizeLimit> limit;
  struct Case {
    const char* what;
    std::function<void()> block, unblock;
  } cases[] = {
      {"the disk is full", [&] { limit.emplace(4); }, [&] { limit.reset(); }},
      {"the file is read-only",
       [&] {
         PutFile("[Main]\n");
         QFile::setPermissions(Path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
       },
       [&] { QFile::setPermissions(Path(), QFile::ReadOwner | QFile::WriteOwner); }},
      {"a folder is in the file's place", [&] { QDir(dir_.path()).mkdir("Sorvex.ini"); },
       [&] { QDir(dir_.path()).rmdir("Sorvex.ini"); }},
  };
  for (const Case& c : cases) {
    QFile::remove(Path());
    QStringList told;
    cfg_.SetOnStoreErrorChanged([&] { told << cfg_.StoreError(); });
    c.block();
    cfg_.SetPort("ttyS1");
    cfg_.SetTopMost(true);
    cfg_.BeginUpdate();
    cfg_.SetPortEnable(true);
    EXPECT_FALSE(cfg_.EndUpdate()) << c.what;
    ASSERT_EQ(told.size(), 1) << c.what << ": " << told.join(" | ").toStdString();
    EXPECT_TRUE(told[0].startsWith(Path() + ": ") && told[0].size() > Path().size() + 2)
        << c.what << ": " << told[0].toStdString();
    EXPECT_EQ(cfg_.StoreError(), told[0]);
    c.unblock();
    cfg_.SetPort("ttyS2");
    EXPECT_EQ(told.size(), 2) << c.what;
    EXPECT_EQ(cfg_.StoreError(), "") << c.what;
    EXPECT_EQ(cfg_.GetPort(), "ttyS2") << c.what;
  }
}

// A link whose file is not made yet (its folder is there) is a settings
// file that does not exist yet: the first write makes the file at the
// link's end, as it makes a missing file.
TEST_F(Settings, ALinkToAFileNotMadeYetGetsItMadeAtItsEnd) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("dotfiles"));
  ASSERT_TRUE(QFile::link("dotfiles/sorvex.ini", Path()));
  EXPECT_EQ(cfg_.GetPort(), "");
  cfg_.SetPort("ttyUSB1");
  EXPECT_EQ(cfg_.StoreError(), "");
  EXPECT_TRUE(QFileInfo(Path()).isSymLink());
  QFile made(dir_.filePath("dotfiles/sorvex.ini"));
  ASSERT_TRUE(made.open(QIODevice::ReadOnly));
  EXPECT_EQ(made.readAll(), "[Main]\nPort=ttyUSB1\n");
}

TEST_F(Settings, AFileThatCannotBeReadIsNotOverwritten) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("Sorvex.ini"));  // a folder where the file should be
  cfg_.BeginUpdate();
  EXPECT_TRUE(cfg_.GetShowFmtPan());
  cfg_.SetPort("ttyS0");
  EXPECT_FALSE(cfg_.EndUpdate());
  EXPECT_TRUE(QFileInfo(Path()).isDir());
}

}  // namespace
