// The INI reader and writer behind settings, profiles and language files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/QStringPrinter.h"
#include "IniFile.h"

namespace {

struct ReadCase {
  const char* what;
  QByteArray file;
  const char* section;
  const char* key;
  QString expected;  // "<default>" when the default must come back
};

const QString kDefault = QStringLiteral("<default>");

TEST(IniRead, ValuesAsStored) {
  const ReadCase cases[] = {
      {"first of two sections differing in case", "[Main]\na=1\n[MAIN]\na=2\nb=3\n", "main", "a", "1"},
      {"a key only in the second duplicate is not seen", "[Main]\na=1\n[MAIN]\nb=3\n", "Main", "b",
       kDefault},
      {"first of two keys differing in case", "[s]\nKey=1\nKEY=2\n", "S", "key", "1"},
      {"present empty value", "[s]\nk=\n", "s", "k", ""},
      {"missing key", "[s]\nk=\n", "s", "x", kDefault},
      {"missing section", "[s]\nk=1\n", "t", "k", kDefault},
      {"blanks around key and value", "[s]\n  k \t=  v w \t\n", "s", "k", "v w"},
      {"value with an equals sign", "[s]\nk=a=b\n", "s", "k", "a=b"},
      {"double quotes removed once", "[s]\nk=\" a \"\n", "s", "k", " a "},
      {"single quotes removed", "[s]\nk='x'\n", "s", "k", "x"},
      {"quotes of two kinds stay", "[s]\nk=\"x'\n", "s", "k", "\"x'"},
      {"one quote alone stays", "[s]\nk=\"\n", "s", "k", "\""},
      {"nested quotes lose one pair", "[s]\nk=\"\"x\"\"\n", "s", "k", "\"x\""},
      {"CR LF line ends", "[s]\r\nk=1\r\nj=2\r\n", "s", "j", "2"},
      {"lone CR line ends", "[s]\rk=1\rj=2\r", "s", "j", "2"},
      {"header with blanks and trailing text", "  [ s ] x\nk=1\n", "S", "k", "1"},
      {"comment is no key", "[s]\n;k=1\n", "s", ";k", kDefault},
      {"key before any section is not read", "k=1\n[s]\n", "s", "k", kDefault},
      {"line without equals sign is no key", "[s]\nk\n", "s", "k", kDefault},
      {"last line without line end", "[s]\nk=7", "s", "k", "7"},
      {"UTF-8 mark", "\xEF\xBB\xBF[s]\nk=\xD0\x96\n", "s", "k", QStringLiteral("Ж")},
      {"UTF-8 without mark", "[s]\nk=\xD0\x96\xD0\xB0\n", "s", "k", QStringLiteral("Жа")},
      {"Windows-1251 bytes", "[s]\nk=\xCF\xF0\xE8\xEC\xE5\xF0 \xB8\n", "s", "k",
       QStringLiteral("Пример ё")},
      {"UTF-16LE mark", QByteArray("\xFF\xFE[\0s\0]\0\n\0k\0=\0\x16\x04\n\0", 18), "s", "k",
       QStringLiteral("Ж")},
      {"UTF-16BE mark", QByteArray("\xFE\xFF\0[\0s\0]\0\n\0k\0=\x04\x16\0\n", 18), "s", "k",
       QStringLiteral("Ж")},
      {"Cyrillic section and key names ignore case", "[\xD0\x96]\n\xD0\xB0=1\n",
       "\xD0\xB6", "\xD0\x90", "1"},
  };
  for (const ReadCase& c : cases) {
    const TIniFile ini = TIniFile::FromBytes(c.file);
    EXPECT_EQ(ini.ReadString(QString::fromUtf8(c.section), QString::fromUtf8(c.key), kDefault),
              c.expected)
        << c.what;
  }
}

TEST(IniRead, IntegersAndBooleans) {
  const struct {
    const char* value;
    int32_t expected;
  } cases[] = {
      {"12", 12},           {"-5", -5},       {"+7", 7},          {" 42 ", 42},
      {"0x1F", 31},         {"0XffffFFFF", -1}, {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      // Not integers: the default.
      {"2147483648", -99},  {"0x", -99},      {"0x123456789", -99}, {"0x-1", -99},
      {"yes", -99},         {"1 2", -99},     {"", -99},          {"-", -99},
      {"12abc", -99},       {"$10", -99},
  };
  for (const auto& c : cases) {
    const TIniFile ini = TIniFile::FromBytes(QByteArray("[s]\nk=") + c.value + "\n");
    EXPECT_EQ(ini.ReadInteger("s", "k", -99), c.expected) << c.value;
  }
  const TIniFile ini = TIniFile::FromBytes("[s]\ntwo=2\nzero=0\nword=yes\n");
  EXPECT_TRUE(ini.ReadBool("s", "two", false));
  EXPECT_FALSE(ini.ReadBool("s", "zero", true));
  EXPECT_TRUE(ini.ReadBool("s", "word", true));
  EXPECT_FALSE(ini.ReadBool("s", "word", false));
  EXPECT_TRUE(ini.ReadBool("s", "missing", true));
}

TEST(IniRead, SectionListsAndSectionValues) {
  const TIniFile ini = TIniFile::FromBytes(
      "; leading comment\n[mul.1]\nname=a\n[Main]\n[MUL.1]\nname=b\n"
      "[Forms]\n; note\nTfmMain-Caption = \"Title\" \nempty=\nTfmMain-Caption=second\n");
  EXPECT_EQ(ini.ReadSections(), QStringList({"mul.1", "Main", "MUL.1", "Forms"}));
  EXPECT_TRUE(ini.SectionExists("main"));
  EXPECT_FALSE(ini.SectionExists("Strings"));
  const QList<TIniFile::KeyValue> expected = {
      {"TfmMain-Caption", "Title"}, {"empty", ""}, {"TfmMain-Caption", "second"}};
  EXPECT_EQ(ini.ReadSectionValues("forms"), expected);
  EXPECT_TRUE(ini.ReadSectionValues("none").isEmpty());
  EXPECT_TRUE(ini.ValueExists("FORMS", "empty"));
  EXPECT_FALSE(ini.ValueExists("Forms", "note"));
}

TEST(IniWrite, ValuesReadBackAsWritten) {
  const QString values[] = {
      "plain",          " leading",     "trailing\t",  "\"quoted\"", "'single'",
      "\"half",         "a=b",          "",            "\"",         "x \"y\" z",
      QStringLiteral("Кириллица и ё"), "; not a comment", "[not a section]",
  };
  TIniFile ini;
  for (int i = 0; i < int(std::size(values)); ++i) ini.WriteString("s", QString("k%1").arg(i), values[i]);
  const TIniFile back = TIniFile::FromBytes(ini.ToBytes());
  for (int i = 0; i < int(std::size(values)); ++i)
    EXPECT_EQ(back.ReadString("s", QString("k%1").arg(i), kDefault), values[i]) << i;
}

TEST(IniWrite, LineBreaksNeverSplitALine) {
  TIniFile ini;
  ini.WriteString("s", "k", "one\r\ntwo\rthree\nfour");
  ini.WriteString("s", "next", "1");
  const QByteArray bytes = ini.ToBytes();
  EXPECT_EQ(bytes, "[s]\nk=one two three four\nnext=1\n");
}

TEST(IniWrite, PlacementOfKeysAndSections) {
  TIniFile ini = TIniFile::FromBytes(
      "; top\r\n[A]\r\nx=1\r\n; keep me\r\nX=dup\r\n\r\n[b]\r\ny=2\r\n\r\n[a]\r\nz=3\r\n");
  ini.WriteString("a", "X", "10");    // first key of the first section, in place
  ini.WriteString("A", "new", "n");   // appended after the section's last line, before blanks
  ini.WriteString("C", "c", "3");     // new section at the end
  ini.WriteInteger("b", "i", -4);
  ini.WriteBool("b", "t", true);
  EXPECT_EQ(ini.ToBytes(),
            "; top\r\n[A]\r\nX=10\r\n; keep me\r\nX=dup\r\nnew=n\r\n\r\n[b]\r\ny=2\r\ni=-4\r\nt=1\r\n"
            "\r\n[a]\r\nz=3\r\n[C]\r\nc=3\r\n");

  ini.EraseSection("a");        // the first match only
  ini.EraseSection("missing");  // nothing
  ini.DeleteKey("b", "Y");
  ini.DeleteKey("b", "missing");
  EXPECT_EQ(ini.ToBytes(), "; top\r\n[b]\r\ni=-4\r\nt=1\r\n\r\n[a]\r\nz=3\r\n[C]\r\nc=3\r\n");

  ini.WriteSection("B", {{"Str1", "one"}, {"Str3", " three"}});
  ini.WriteSection("Strings", {{"Str9", ""}});
  EXPECT_EQ(ini.ToBytes(),
            "; top\r\n[b]\r\nStr1=one\r\nStr3=\" three\"\r\n[a]\r\nz=3\r\n[C]\r\nc=3\r\n[Strings]\r\nStr9=\r\n");
  ini.Clear();
  EXPECT_EQ(ini.ToBytes(), "");
}

class IniFiles : public ::testing::Test {
 protected:
  QString Path(const char* name) const { return dir_.filePath(name); }
  static void Put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  static QByteArray Get(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  QTemporaryDir dir_;
};

TEST_F(IniFiles, MissingFileReadsEmptyAndIsCreatedByTheFirstWrite) {
  TIniFile ini(Path("new.ini"));
  EXPECT_FALSE(ini.LoadFailed());
  EXPECT_TRUE(ini.ReadSections().isEmpty());
  EXPECT_EQ(ini.ReadString("Main", "k", kDefault), kDefault);
  ini.WriteString("Main", "k", "v");
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(Get(Path("new.ini")), "[Main]\nk=v\n");
  EXPECT_EQ(TIniFile(Path("new.ini")).ReadString("main", "K", kDefault), "v");
}

TEST_F(IniFiles, FolderIsNotCreatedAndAFailedWriteSaysWhy) {
  TIniFile ini(Path("no/such/folder/x.ini"));
  ini.WriteString("s", "k", "v");
  QString why;
  EXPECT_FALSE(ini.UpdateFile(&why));
  EXPECT_FALSE(why.isEmpty());
  EXPECT_FALSE(QDir(Path("no")).exists());
}

TEST_F(IniFiles, UnreadableFileIsReportedAndReadsEmpty) {
  // A folder in place of the file cannot be read as one.
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.ini"));
  TIniFile ini(Path("folder.ini"));
  EXPECT_TRUE(ini.LoadFailed());
  EXPECT_EQ(ini.ReadString("s", "k", kDefault), kDefault);
}

TEST_F(IniFiles, EncodingAndLineEndsOnWriteBack) {
  const struct {
    const char* what;
    QByteArray before;
    QByteArray after;
  } cases[] = {
      {"Windows-1251 becomes UTF-8", "[s]\r\nk=\xC6\r\n", "[s]\r\nk=\xD0\x96\r\nn=1\r\n"},
      {"UTF-8 mark kept", "\xEF\xBB\xBF[s]\nk=1\n", "\xEF\xBB\xBF[s]\nk=1\nn=1\n"},
      {"UTF-16LE mark kept", QByteArray("\xFF\xFE[\0s\0]\0\n\0", 10),
       QByteArray("\xFF\xFE[\0s\0]\0\n\0n\0=\0" "1\0\n\0", 18)},
      {"UTF-16BE mark kept", QByteArray("\xFE\xFF\0[\0s\0]\0\n", 10),
       QByteArray("\xFE\xFF\0[\0s\0]\0\n\0n\0=\0" "1\0\n", 18)},
      {"no mark stays without one", "[s]\nk=1\n", "[s]\nk=1\nn=1\n"},
  };
  for (const auto& c : cases) {
    Put(Path("f.ini"), c.before);
    TIniFile ini(Path("f.ini"));
    ini.WriteString("s", "n", "1");
    ASSERT_TRUE(ini.UpdateFile()) << c.what;
    EXPECT_EQ(Get(Path("f.ini")), c.after) << c.what;
  }
}

// What a reader of the file sees: its sections in order, each with its keys
// and values.
QList<QPair<QString, QList<TIniFile::KeyValue>>> Meaning(const TIniFile& AIni) {
  QList<QPair<QString, QList<TIniFile::KeyValue>>> meaning;
  for (const QString& section : AIni.ReadSections()) meaning.append({section, AIni.ReadSectionValues(section)});
  return meaning;
}

QByteArray Utf16LE(const QString& AText) {
  return QByteArray(reinterpret_cast<const char*>(AText.utf16()), AText.size() * 2);
}

TEST_F(IniFiles, AFileReadAndWrittenBackKeepsItsMeaning) {
  const QString lone = QString(QChar(0xD800));  // half of a pair, alone
  const struct {
    const char* what;
    QByteArray file;
    QStringList sections;  // what every read shows
    const char *section, *key;
    QString value;
  } cases[] = {
      {"an unpaired surrogate in a UTF-16 profile",
       "\xFF\xFE" + Utf16LE("[MUL.1]\r\nname=a" + lone + "b\r\ntemplate=%d\r\n"), {"MUL.1"}, "mul.1", "name",
       "a" + lone + "b"},
      {"an unpaired surrogate in a UTF-16BE language file",
       QByteArray("\xFE\xFF\0[\0S\0]\0\n\0k\0=\xDC\x00\0\n", 18), {"S"}, "S", "k", QString(QChar(0xDC00))},
      // The second mark is text: that line is no section header, before and
      // after the write.
      {"a second mark after a UTF-8 mark", "\xEF\xBB\xBF\xEF\xBB\xBF[a]\nk=1\n[b]\nk=2\n", {"b"}, "b", "k", "2"},
      {"a second mark after a UTF-16 mark", "\xFF\xFE" + Utf16LE(QChar(0xFEFF) + QString("[a]\nk=1\n")), {}, "a",
       "k", kDefault},
      {"Windows-1251", "[s]\r\nname=\xC0\xE1\x98\r\n", {"s"}, "s", "name", QString::fromUtf8("Аб\u0098")},
  };
  for (const auto& c : cases) {
    Put(Path("f.ini"), c.file);
    const TIniFile first(Path("f.ini"));
    EXPECT_EQ(first.ReadSections(), c.sections) << c.what;
    ASSERT_TRUE(first.UpdateFile()) << c.what;
    const QByteArray written = Get(Path("f.ini"));
    const TIniFile again(Path("f.ini"));
    EXPECT_EQ(Meaning(again), Meaning(first)) << c.what;
    EXPECT_EQ(again.ReadString(c.section, c.key, kDefault), c.value) << c.what;
    // and from then on the file stays as it is
    ASSERT_TRUE(again.UpdateFile()) << c.what;
    EXPECT_EQ(Get(Path("f.ini")), written) << c.what;
  }
}

TEST(TextCodec, TextBeginningWithTheMarkCharacterReadsBackAsWritten) {
  // Written without a mark, its first character would be taken for one.
  const QString text = QChar(0xFEFF) + QStringLiteral("[a]\nk=1\n");
  for (const TextBom bom : {TextBom::None, TextBom::Utf8, TextBom::Utf16LE, TextBom::Utf16BE}) {
    const DecodedText back = DecodeText(EncodeText(text, bom));
    EXPECT_EQ(back.text, text) << int(bom);
  }
}

}  // namespace
