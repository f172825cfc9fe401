// The shared routines of the program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <optional>

#include "AppUtils.h"
#include "common/FileSizeLimit.h"

namespace {

const QString kDigits = QStringLiteral("0123456789");

TEST(CharSets, FindCharOfAndNotOf) {
  EXPECT_EQ(FindCharNotOf(kDigits, "(123)", 2), 5);
  EXPECT_EQ(FindCharOf(kDigits, "HID[0A] 77", 7), 9);
  EXPECT_EQ(FindCharOf(kDigits, "HID[0A] 77", 11), 0);  // beyond the text
  EXPECT_EQ(FindCharOf(kDigits, "abc", 1), 0);
  EXPECT_EQ(FindCharNotOf(kDigits, "123", 1), 0);
  // A character above 255 is in no set, even when the set holds it.
  EXPECT_EQ(FindCharOf(QStringLiteral("Ж1"), QStringLiteral("Жx1"), 1), 3);
  EXPECT_EQ(FindCharNotOf(QStringLiteral("Ж"), QStringLiteral("Ж"), 1), 1);
}

TEST(Bits, GetAndSet) {
  uint32_t v = 0;
  SetBit(v, 31, true);
  SetBit(v, 0, true);
  EXPECT_EQ(v, 0x80000001u);
  EXPECT_EQ(GetBit(v, 31), 1);
  EXPECT_EQ(GetBit(v, 30), 0);
  SetBit(v, 31, false);
  EXPECT_EQ(v, 1u);
}

TEST(HexToInt, ValuesAndErrors) {
  EXPECT_EQ(HexToInt("0A"), 10);
  EXPECT_EQ(HexToInt("ff"), 255);
  EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
  EXPECT_EQ(HexToInt("00000000FF"), 255);
  for (const char* bad : {"", "0x1", "G1", "1 ", " 1", " ", "-1", "123456789"})
    EXPECT_THROW(HexToInt(bad), EConvertError) << bad;
}

TEST(ScanFormat, ProfileSectionsAndWindowPosition) {
  QString s;
  int32_t a = 0, b = 0;
  EXPECT_EQ(ScanFormat("mul.12", "%s.%d", {&s, &a}), 2);
  EXPECT_EQ(s, "mul");
  EXPECT_EQ(a, 12);
  a = 99;
  EXPECT_EQ(ScanFormat("mul", "%s.%d", {&s, &a}), 1);
  EXPECT_EQ(a, 99);
  EXPECT_EQ(ScanFormat("mul.x", "%s.%d", {&s, &a}), 1);
  EXPECT_EQ(ScanFormat("[-1,-1]", "[%d,%d]", {&a, &b}), 2);
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(ScanFormat("[120, 340]", "[%d,%d]", {&a, &b}), 2);
  EXPECT_EQ(b, 340);
}

TEST(ScanFormat, OtherConversionsAndStops) {
  int32_t x = 0;
  long double f = 0;
  QString s = "unchanged";
  EXPECT_EQ(ScanFormat("id 1aF", "id %x", {&x}), 1);
  EXPECT_EQ(x, 0x1AF);
  EXPECT_EQ(ScanFormat("-2.5e1", "%f", {&f}), 1);
  EXPECT_DOUBLE_EQ(static_cast<double>(f), -25.0);
  // A lone last character of the format is never a conversion.
  EXPECT_EQ(ScanFormat("a%d", "a%", {&x}), 0);
  EXPECT_EQ(ScanFormat(".x", "%s.%d", {&s, &x}), 1);  // a string may be empty
  EXPECT_EQ(s, "");
  EXPECT_EQ(ScanFormat("5", "%D.", {&x}), 0);        // upper case is no conversion
  EXPECT_EQ(ScanFormat("5 6", "%% %d.", {&x}), 0);
  EXPECT_EQ(ScanFormat("a.5", "%d.%s", {&s}), 0);     // a destination of another kind
  EXPECT_THROW(ScanFormat("-.", "%d.", {&x}), EConvertError);
  EXPECT_THROW(ScanFormat("1-2.", "%d.", {&x}), EConvertError);
  EXPECT_THROW(ScanFormat("99999999999.", "%d.", {&x}), EConvertError);
}

TEST(NextToken, SplitsAtTheDelimiter) {
  int pos = 1;
  EXPECT_EQ(NextToken("a-b-c", '-', pos), "a");
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(NextToken("a-b-c", '-', pos), "b");
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(NextToken("a-b-c", '-', pos), "c");
  EXPECT_EQ(pos, 0);
  pos = 1;
  EXPECT_EQ(NextToken("ab-", '-', pos), "ab");
  EXPECT_EQ(pos, 0);  // the position after the delimiter lies beyond the text
  pos = 1;
  EXPECT_EQ(NextToken("", '-', pos), "");
  EXPECT_EQ(pos, 0);
}

TEST(WildcardMatch, PrefixMatchWithoutBacktracking) {
  struct Case {
    const char* mask;
    const char* text;
    bool match;
  } cases[] = {
      {"*-caption", "", true},
      {"", "abc", false},
      {"ab", "abc", true},
      {"abc", "ab", false},
      {"*-caption", "fmMain-Caption", true},
      {"*-caption", "fmMain-labPort-Caption", false},
      {"*-*-caption", "fmMain-labPort-Caption", true},
      {"?b", "xbz", true},
      {"TfmMain-*", "tfmmain-btnApply-Caption", true},
      {"a*b", "axxb", true},
      {"a*b", "axx", false},
  };
  for (const auto& c : cases) EXPECT_EQ(WildcardMatch(c.mask, c.text), c.match) << c.mask << " / " << c.text;
}

TEST(FileVersion, PartsAndText) {
  uint32_t v = MakeFileVersion(1, 7, 37, 57);
  EXPECT_EQ(v & 0xFF, 0x01u);
  EXPECT_EQ((v >> 8) & 0xFF, 0x07u);
  EXPECT_EQ((v >> 16) & 0xFF, 0x25u);
  EXPECT_EQ(v >> 24, 0x39u);
  EXPECT_EQ(FileVersionText(v), "1.7.37.57");
  EXPECT_EQ(FileVersionText(MakeFileVersion(256, 1, 0, 0)), "0.1.0.0");  // low 8 bits only
  EXPECT_EQ(GetFileVersionStr(GetAppExePath()), SORVEX_VERSION_TEXT);
  EXPECT_EQ(GetFileVersionStr("/etc/hostname"), "0.0.0.0");
  EXPECT_EQ(GetFileVersion("/nonexistent"), 0u);
}

// Folders and autostart live under a private configuration home.
class UserFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    oldXdg_ = qgetenv("XDG_CONFIG_HOME");
    oldHome_ = qgetenv("HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path() + "/cfg"));
  }
  void TearDown() override {
    qputenv("XDG_CONFIG_HOME", oldXdg_);
    qputenv("HOME", oldHome_);
  }
  QTemporaryDir home_;
  QByteArray oldXdg_, oldHome_;
};

TEST_F(UserFolders, AppDataDirIsCreatedOnFirstUse) {
  const QString expected = home_.path() + "/cfg/Sorvex";
  EXPECT_EQ(GetAppDataDir(false), expected);
  EXPECT_FALSE(QFileInfo::exists(expected));
  EXPECT_EQ(GetAppDataDir(true), expected);
  EXPECT_TRUE(QFileInfo(expected).isDir());
  EXPECT_EQ(GetAppDataDir(false, true), "/etc/xdg/Sorvex");
  // A relative XDG_CONFIG_HOME is ignored: ~/.config then.
  qputenv("XDG_CONFIG_HOME", "relative/dir");
  qputenv("HOME", QFile::encodeName(home_.path()));
  EXPECT_EQ(GetAppDataDir(false), home_.path() + "/.config/Sorvex");
}

TEST_F(UserFolders, WithoutHomeTheUserDatabaseAnswers) {
  qunsetenv("XDG_CONFIG_HOME");
  qunsetenv("HOME");
  QString dir = GetAppDataDir(false);
  // Never the root of the file system.
  EXPECT_NE(dir, "/Sorvex");
  if (!dir.isEmpty()) {
    EXPECT_TRUE(dir.endsWith("/.config/Sorvex")) << dir.toStdString();
  }
}

TEST_F(UserFolders, TempFileIsCreatedWithThePrefix) {
  QString a = MakeTempFileName("svx");
  QString b = MakeTempFileName("svx");
  ASSERT_FALSE(a.isEmpty());
  EXPECT_NE(a, b);
  EXPECT_TRUE(QFileInfo(a).fileName().startsWith("svx"));
  EXPECT_TRUE(QFileInfo(a).isFile());
  EXPECT_EQ(QFileInfo(a).size(), 0);
  QFile::remove(a);
  QFile::remove(b);
  // A temporary folder that does not exist: no file, and none at the root.
  const QByteArray oldTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", "/nonexistent/folder");
  const QString c = MakeTempFileName("svx");
  qputenv("TMPDIR", oldTmp);
  EXPECT_TRUE(c.isEmpty()) << c.toStdString();
  if (!c.isEmpty()) QFile::remove(c);
}

// The desktop's reading of an Exec value: string escapes first, then the
// quoting of arguments, then %% as a literal percent.
std::optional<QStringList> ParseExec(const QString& value) {
  QString unescaped;
  for (int i = 0; i < value.size(); ++i) {
    if (value[i] != u'\\') {
      unescaped += value[i];
      continue;
    }
    if (++i >= value.size()) return std::nullopt;
    switch (value[i].unicode()) {
      case '\\': unescaped += u'\\'; break;
      case 'n': unescaped += u'\n'; break;
      case 't': unescaped += u'\t'; break;
      case 'r': unescaped += u'\r'; break;
      case 's': unescaped += u' '; break;
      default: return std::nullopt;
    }
  }
  QStringList args;
  QString cur;
  bool inQuotes = false, any = false;
  for (int i = 0; i < unescaped.size(); ++i) {
    QChar c = unescaped[i];
    if (inQuotes) {
      if (c == u'\\') {
        if (++i >= unescaped.size()) return std::nullopt;
        QChar e = unescaped[i];
        if (e != u'"' && e != u'`' && e != u'$' && e != u'\\') return std::nullopt;
        cur += e;
      } else if (c == u'"') {
        inQuotes = false;
      } else if (c == u'$' || c == u'`') {
        return std::nullopt;  // must be escaped inside quotes
      } else if (c == u'%') {
        if (++i >= unescaped.size() || unescaped[i] != u'%') return std::nullopt;
        cur += u'%';
      } else {
        cur += c;
      }
    } else if (c == u' ') {
      if (any) args << cur;
      cur.clear();
      any = false;
    } else if (c == u'"') {
      inQuotes = any = true;
    } else {
      if (c == u'$' || c == u'`' || c == u'\\') return std::nullopt;  // reserved unquoted
      cur += c;
      any = true;
    }
  }
  if (inQuotes) return std::nullopt;
  if (any) args << cur;
  return args;
}

TEST_F(UserFolders, AutostartEntryStartsAnyProgramPath) {
  const QString program = QStringLiteral("/opt/my apps/$HOME/100% \"real\"/a\\b`c`/Sorvex");
  const QStringList lines = AutorunEntryText(program).split('\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines.value(0), "[Desktop Entry]");
  EXPECT_TRUE(lines.contains("Type=Application"));
  EXPECT_TRUE(lines.contains("Name=Sorvex"));
  QString exec;
  for (const QString& l : lines)
    if (l.startsWith("Exec=")) exec = l.mid(5);
  auto args = ParseExec(exec);
  ASSERT_TRUE(args.has_value()) << exec.toStdString();
  EXPECT_EQ(*args, (QStringList{program, "-autorun"}));
}

TEST_F(UserFolders, AutorunOnWritesTheEntryOffRemovesIt) {
  const QString path = home_.path() + "/cfg/autostart/Sorvex.desktop";
  EXPECT_EQ(AutorunFilePath(), path);
  EXPECT_FALSE(GetAutorun());
  ASSERT_TRUE(SetAutorun(true));  // creates the folder too
  EXPECT_TRUE(GetAutorun());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(f.readAll()), AutorunEntryText(GetAppExePath()));
  f.close();
  EXPECT_EQ(QDir(home_.path() + "/cfg/autostart").entryList(QDir::Files).size(), 1);  // no temporary left
  ASSERT_TRUE(SetAutorun(false));
  EXPECT_FALSE(GetAutorun());
  EXPECT_TRUE(SetAutorun(false));  // already off
}

TEST(AtomicWrite, ReplacesWholeOrNotAtAll) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.ini");
  auto read = [](const QString& p) {
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  };
  QString why;
  ASSERT_TRUE(WriteFileAtomic(path, "first\n", &why)) << why.toStdString();
  EXPECT_EQ(read(path), "first\n");
  EXPECT_EQ(QFileInfo(path).permissions() & QFile::WriteOther, 0);  // the umask holds

  // A write that stops part-way (here the file size limit, as a full disk
  // would) keeps the old file and leaves no temporary behind.
  {
    FileSizeLimit limit(3);
    EXPECT_FALSE(WriteFileAtomic(path, "second, longer\n", &why));
  }
  EXPECT_FALSE(why.isEmpty());
  EXPECT_EQ(read(path), "first\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.ini"});

  // An existing file keeps its mode; a link keeps pointing at the new text.
  ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
  ASSERT_TRUE(QFile::link(path, dir.filePath("link.ini")));
  ASSERT_TRUE(WriteFileAtomic(dir.filePath("link.ini"), "third\n"));
  EXPECT_TRUE(QFileInfo(dir.filePath("link.ini")).isSymLink());
  EXPECT_EQ(read(path), "third\n");
  EXPECT_EQ(QFileInfo(path).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);  // owner, group, others

  EXPECT_FALSE(WriteFileAtomic(dir.filePath("missing/x.ini"), "x", &why));

  // A file made read-only is left alone, for root too.
  ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  EXPECT_FALSE(WriteFileAtomic(path, "fourth\n", &why));
  EXPECT_EQ(read(path), "third\n");
}

TEST(AtomicWrite, AChainOfLinksReplacesTheFileAtItsEnd) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
  const QString file = dir.filePath("real/a.ini");
  auto read = [](const QString& p) {
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  };
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old\n");
  }
  ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
  // settings.ini -> middle.ini -> real/a.ini, the first two relative to
  // their own folder, as links are usually made.
  ASSERT_EQ(symlink("real/a.ini", QFile::encodeName(dir.filePath("middle.ini")).constData()), 0);
  ASSERT_EQ(symlink("middle.ini", QFile::encodeName(dir.filePath("settings.ini")).constData()), 0);
  QString why;
  ASSERT_TRUE(WriteFileAtomic(dir.filePath("settings.ini"), "new\n", &why)) << why.toStdString();
  EXPECT_EQ(QFileInfo(dir.filePath("settings.ini")).symLinkTarget(), dir.filePath("middle.ini"));
  EXPECT_EQ(QFileInfo(dir.filePath("middle.ini")).symLinkTarget(), file);
  EXPECT_EQ(read(file), "new\n");
  EXPECT_EQ(QFileInfo(file).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{"middle.ini", "real", "settings.ini"}));
  EXPECT_EQ(QDir(dir.filePath("real")).entryList(QDir::Files | QDir::Hidden), QStringList{"a.ini"});

  // A chain whose end does not exist yet: the file is made there.
  ASSERT_EQ(symlink("real/b.ini", QFile::encodeName(dir.filePath("next.ini")).constData()), 0);
  ASSERT_EQ(symlink("next.ini", QFile::encodeName(dir.filePath("first.ini")).constData()), 0);
  ASSERT_TRUE(WriteFileAtomic(dir.filePath("first.ini"), "made\n", &why)) << why.toStdString();
  EXPECT_TRUE(QFileInfo(dir.filePath("next.ini")).isSymLink());
  EXPECT_EQ(read(dir.filePath("real/b.ini")), "made\n");

  // Links that lead round in a circle lead to no file: nothing is written.
  ASSERT_EQ(symlink("loop2.ini", QFile::encodeName(dir.filePath("loop1.ini")).constData()), 0);
  ASSERT_EQ(symlink("loop1.ini", QFile::encodeName(dir.filePath("loop2.ini")).constData()), 0);
  EXPECT_FALSE(WriteFileAtomic(dir.filePath("loop1.ini"), "x\n", &why));
  EXPECT_TRUE(QFileInfo(dir.filePath("loop1.ini")).isSymLink());
  EXPECT_TRUE(QFileInfo(dir.filePath("loop2.ini")).isSymLink());
}

}  // namespace
