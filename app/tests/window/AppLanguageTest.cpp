// Language files without forms: value escapes, the list of languages, the
// [Global] values, the messages a language gives, and the shipped files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <map>

#include "AppLanguage.h"
#include "AppMessages.h"
#include "common/QStringPrinter.h"
#include "FormTexts.h"
#include "IniFile.h"

namespace {

void WriteFile(const QString& APath, const QByteArray& ABytes) {
  QFile f(APath);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << APath.toStdString();
  ASSERT_EQ(f.write(ABytes), ABytes.size());
}

TEST(LngEscapes, ValuesThroughFileAndBack) {
  struct Case {
    const char* what;
    QString value;
    QString escaped;
    QString readBack;
  };
  const Case cases[] = {
      {"CR LF", "one\r\ntwo", "one\\ntwo", "one\ntwo"},
      {"lone CR", "one\rtwo", "one\\ntwo", "one\ntwo"},
      {"lone LF keeps the rest of the text", "one\ntwo\nthree", "one\\ntwo\\nthree", "one\ntwo\nthree"},
      {"two breaks", "a\r\n\r\nb", "a\\n\\nb", "a\n\nb"},
      {"backslash before n is no line break", "C:\\new", "C:\\\\new", "C:\\new"},
      {"backslashes", "a\\b\\\\c", "a\\\\b\\\\\\\\c", "a\\b\\\\c"},
      {"trailing backslash", "dir\\", "dir\\\\", "dir\\"},
      {"quotes at both ends", "\"quoted\"", "\\\"quoted\\\"", "\"quoted\""},
      {"quotes at both ends around a backslash", "\"a\\\"", "\\\"a\\\\\\\"", "\"a\\\""},
      {"two quotes alone", "\"\"", "\\\"\\\"", "\"\""},
      {"one quote alone", "\"", "\"", "\""},
      {"inner quotes stay", "port \"%s\" busy", "port \"%s\" busy", "port \"%s\" busy"},
      {"blanks at both ends", "  padded  ", "  padded  ", "  padded  "},
      {"single quotes at both ends", "'x'", "'x'", "'x'"},
      {"Cyrillic", QString::fromUtf8("Порт\r\nзанят"), QString::fromUtf8("Порт\\nзанят"),
       QString::fromUtf8("Порт\nзанят")},
      {"empty", "", "", ""},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("escapes.lng");
  TIniFile out(path);
  int i = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeLngValue(c.value), c.escaped) << c.what;
    out.WriteString("Forms", QStringLiteral("k%1").arg(i++), EscapeLngValue(c.value));
  }
  ASSERT_TRUE(out.UpdateFile());
  const TIniFile in(path);
  // Every value stayed on its own line.
  EXPECT_EQ(in.ReadSectionValues("Forms").size(), std::size(cases));
  i = 0;
  for (const Case& c : cases)
    EXPECT_EQ(UnescapeLngValue(in.ReadString("Forms", QStringLiteral("k%1").arg(i++), "<none>")), c.readBack)
        << c.what;
}

TEST(LngEscapes, ReadingWhatTranslatorsWrite) {
  const std::pair<QString, QString> cases[] = {
      {"\\\"text\\\"", "\"text\""},  // backslash, quote, text, backslash, quote
      {"a\\xb", "ab"},               // an unknown escape drops both characters
      {"a\\Nb", "ab"},               // "\n" only in lower case
      {"end\\", "end"},              // a backslash at the very end is dropped
      {"\\\\n", "\\n"},
      {"\\", ""},
  };
  for (const auto& [written, read] : cases) EXPECT_EQ(UnescapeLngValue(written), read) << written.toStdString();
}

class LanguageFolder : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
  QString Path(const char* AName) const { return m_dir.filePath(QString::fromUtf8(AName)); }
  QTemporaryDir m_dir;
};

TEST_F(LanguageFolder, EnumLanguagesSortedWithTheirGlobals) {
  // Created out of order, so the listing cannot follow creation order.
  WriteFile(Path("f.lng"), "[Global]\nTitle=Bad id\nLangId=zz\n");
  // Windows-1251 bytes, as files from the old system are.
  WriteFile(Path("b.lng"), "[Global]\r\nTitle=\xD0\xF3\xF1\xF1\xEA\xE8\xE9\r\nAuthor=Sorvex\r\nLangId=0419\r\n");
  WriteFile(Path("c.LNG"), "[Global]\nTitle=No id\n");
  WriteFile(Path("A.lng"), "[global]\ntitle=English\nauthor=Someone\nlangid=409\n");
  WriteFile(Path("e.txt"), "[Global]\nTitle=Not a language\nLangId=0407\n");
  ASSERT_TRUE(QDir(m_dir.path()).mkdir("d.lng"));

  TALangs langs = {TLangInfo{"stale", "", 1, "stale.lng"}};
  EnumLanguages(langs, m_dir.path());
  ASSERT_EQ(langs.size(), 4u);
  const struct {
    const char* file;
    QString title;
    QString author;
    int32_t id;
  } expected[] = {
      {"A.lng", "English", "Someone", 0x409},
      {"b.lng", QString::fromUtf8("Русский"), "Sorvex", 0x419},
      {"c.LNG", "No id", "", 0},
      {"f.lng", "Bad id", "", 0},
  };
  for (size_t i = 0; i < langs.size(); ++i) {
    EXPECT_EQ(langs[i].sFileName, expected[i].file) << i;
    EXPECT_EQ(langs[i].sTitle, expected[i].title) << i;
    EXPECT_EQ(langs[i].sAuthor, expected[i].author) << i;
    EXPECT_EQ(langs[i].nLangId, expected[i].id) << i;
  }
  EXPECT_EQ(FindLangIndex(langs, 0x419), 1);
  EXPECT_EQ(FindLangIndex(langs, 0x409), 0);
  EXPECT_EQ(FindLangIndex(langs, 0x407), -1);
  // The stored id 0 is the built-in language, not a file without an id.
  EXPECT_EQ(FindLangIndex(langs, 0), -1);

  EnumLanguages(langs, Path("missing"));
  EXPECT_TRUE(langs.empty());
}

// An installed program lives in <prefix>/<bindir> and its language files in
// <prefix>/<datadir>/sorvex/Languages; one run from its build folder has them
// beside it.
TEST(LanguagesDir, BesideTheProgramFirstThenTheInstalledOne) {
  const struct {
    const char* what;
    bool beside, installed;
    bool expectBeside;
  } cases[] = {
      {"run from the build folder", true, false, true},
      {"installed", false, true, false},
      {"both: the one beside the program", true, true, true},
      {"neither: beside the program, which lists nothing", false, false, true},
  };
  for (const auto& c : cases) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString bin = prefix.filePath(SORVEX_TEST_BINDIR);
    const QString beside = bin + "/Languages";
    const QString installed = prefix.filePath(SORVEX_TEST_DATADIR "/sorvex/Languages");
    ASSERT_TRUE(QDir().mkpath(bin));
    if (c.beside) {
      ASSERT_TRUE(QDir().mkpath(beside));
    } else {
      WriteFile(beside, "");  // a plain file of that name is no folder
    }
    if (c.installed) {
      ASSERT_TRUE(QDir().mkpath(installed));
    }
    EXPECT_EQ(FindLanguagesDir(bin), QDir::cleanPath(c.expectBeside ? beside : installed)) << c.what;
  }
}

TEST_F(LanguageFolder, GlobalsAndTheStandardFormatsFile) {
  const QString stdFile = Path("std.ini");
  WriteFile(stdFile, "[mul.1]\nname=x\n");
  // A file in the program's own Languages folder, removed when done.
  QTemporaryFile inLanguages(GetLanguagesDir() + "/std-XXXXXX.ini");
  ASSERT_TRUE(inLanguages.open()) << GetLanguagesDir().toStdString();
  const QString relative = QFileInfo(inLanguages.fileName()).fileName();
  const struct {
    QByteArray stdProfile;
    QString expected;
  } cases[] = {
      {"", ""},
      {stdFile.toUtf8(), stdFile},       // an absolute path as it stands
      {Path("none.ini").toUtf8(), ""},   // missing: the caller loads the built-in formats
      {relative.toUtf8(), GetLanguagesDir() + u'/' + relative},  // relative: in the Languages folder
      {"none-here.ini", ""},             // relative, in the program's Languages folder: missing
  };
  for (const auto& c : cases) {
    WriteFile(Path("x.lng"), "[Global]\nTitle= Deutsch \nAuthor=Somebody\nLangId=0407\nStdProfile=" + c.stdProfile);
    TAppLanguage lang;
    lang.SetFileName(Path("x.lng"));
    ASSERT_TRUE(lang.SetLoaded(true));
    EXPECT_EQ(lang.Title(), "Deutsch");
    EXPECT_EQ(lang.Author(), "Somebody");
    EXPECT_EQ(lang.LangId(), 0x407);
    EXPECT_EQ(lang.StdProfile(), QString::fromUtf8(c.stdProfile));
    EXPECT_EQ(lang.StdProfileFile(), c.expected) << c.stdProfile.constData();
    lang.SetLoaded(false);
    EXPECT_EQ(lang.LangId(), 0);
    EXPECT_TRUE(lang.StdProfileFile().isEmpty());
  }

  // Linux's rule: "/" begins an absolute path; anything else lies in the folder.
  EXPECT_EQ(MakeLangPath("std.ini", "/opt/s/Languages"), "/opt/s/Languages/std.ini");
  EXPECT_EQ(MakeLangPath("sub/std.ini", "/opt/s/Languages"), "/opt/s/Languages/sub/std.ini");
  EXPECT_EQ(MakeLangPath("C:std.ini", "/opt/s/Languages"), "/opt/s/Languages/C:std.ini");
  EXPECT_EQ(MakeLangPath("/etc/std.ini", "/opt/s/Languages"), "/etc/std.ini");
  EXPECT_EQ(MakeLangPath("", "/opt/s/Languages"), "");
  EXPECT_EQ(MakeLangPath("r.lng"), GetLanguagesDir() + "/r.lng");
}

TEST_F(LanguageFolder, MessagesFollowTheLoadedFile) {
  WriteFile(Path("a.lng"),
            "[Global]\nTitle=A\n[Strings]\n"
            "Str9=nil\n"
            "Str12=\n"
            "Str2=no such message\n"
            "Str3=[Ошибка (позиция %s)]\n"
            "Str11=Порт \"%s\" занят\\nдругой программой\n"
            "Str15=\\\"Удалить %s?\\\"\n"
            "Str19=NIL\n");
  WriteFile(Path("b.lng"), "[Strings]\nStr22=Вкл\n");
  TAppLanguage lang;
  lang.SetFileName(Path("a.lng"));
  ASSERT_TRUE(lang.SetLoaded(true));
  EXPECT_EQ(AppMsg(msgHelpFailed), "Could not start Help.");  // "nil" keeps the built-in text
  EXPECT_EQ(AppMsg(msgDeleteProfileFailed), "");              // an empty value empties it
  EXPECT_EQ(AppMsg(2), "");
  EXPECT_EQ(FormatAppMsg(msgParamSyntax, {int32_t{7}}), "[Error: syntax parameters (position 7)]");
  EXPECT_EQ(FormatAppMsg(msgPortBusy, {QStringLiteral("ttyS0")}),
            QString::fromUtf8("Порт \"ttyS0\" занят\nдругой программой"));
  EXPECT_EQ(FormatAppMsg(msgDeleteProfileAsk, {QStringLiteral("p")}), QString::fromUtf8("\"Удалить p?\""));
  EXPECT_EQ(AppMsg(msgFormatStandard), "NIL");  // only "nil" exactly means untranslated
  EXPECT_EQ(AppMsg(msgEnable), "Enable");

  // Loading again while loaded changes nothing.
  lang.SetFileName(Path("b.lng"));
  ASSERT_TRUE(lang.SetLoaded(true));
  EXPECT_EQ(lang.Title(), "A");
  // A switch: nothing of the first file stays.
  lang.SetLoaded(false);
  ASSERT_TRUE(lang.SetLoaded(true));
  EXPECT_EQ(AppMsg(msgEnable), QString::fromUtf8("Вкл"));
  EXPECT_EQ(AppMsg(msgDeleteProfileFailed), "Failed to delete profile %s.");

  lang.SetLoaded(false);
  for (int n : AppMsgNumbers()) EXPECT_EQ(AppMsg(n), BuiltinAppMsg(n)) << n;

  // A file that cannot be read: nothing loaded, the reason given.
  lang.SetFileName(m_dir.path());
  QString error;
  EXPECT_FALSE(lang.SetLoaded(true, &error));
  EXPECT_FALSE(lang.Loaded());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(AppMsg(msgEnable), "Enable");

  // A missing file is a language without texts.
  lang.SetFileName(Path("missing.lng"));
  EXPECT_TRUE(lang.SetLoaded(true));
  EXPECT_TRUE(lang.Title().isEmpty());
  EXPECT_EQ(AppMsg(msgEnable), "Enable");
}

TEST_F(LanguageFolder, TemplateReplacesTheMessagesWhole) {
  WriteFile(Path("loaded.lng"), "[Strings]\nStr9=nil\nStr12=Профиль %s не удалён.\nStr22=\n");
  const QString target = Path("target.lng");
  WriteFile(target,
            "[Global]\nTitle=Kept\n"
            "[Strings]\nStr2=\nStr99=stale\n; a translator's note\nStr9=nil\nStr23=Выкл\n"
            "[Forms]\nTfmOld-Caption=kept\n");
  TAppLanguage lang;
  lang.SetFileName(Path("loaded.lng"));
  ASSERT_TRUE(lang.SetLoaded(true));
  QString error;
  ASSERT_TRUE(lang.SaveAs(target, &error)) << error.toStdString();

  const TIniFile file(target);
  QStringList keys;
  std::map<QString, QString> values;
  for (const auto& [key, value] : file.ReadSectionValues("Strings")) {
    keys.append(key);
    values[key] = value;
  }
  QStringList expected;
  for (int n : AppMsgNumbers()) expected.append(QStringLiteral("Str%1").arg(n));
  EXPECT_EQ(keys, expected);
  EXPECT_FALSE(keys.contains("Str2"));
  EXPECT_FALSE(keys.contains("Str7"));
  EXPECT_EQ(keys.back(), "Str30");
  // "nil" in the loaded file: the built-in text; the target's own values
  // count for nothing.
  EXPECT_EQ(values["Str9"], "Could not start Help.");
  EXPECT_EQ(values["Str12"], QString::fromUtf8("Профиль %s не удалён."));
  EXPECT_EQ(values["Str22"], "");
  EXPECT_EQ(values["Str23"], "Disable");
  EXPECT_EQ(file.ReadString("Global", "Title", ""), "Kept");
  EXPECT_EQ(file.ReadString("Forms", "TfmOld-Caption", ""), "kept");
}

// The format specifiers of a message text in order ("%s", "%-5d"), without
// the literal "%%".
QStringList Specifiers(const QString& AText) {
  static const QRegularExpression specifier(QStringLiteral("%(%|[-0-9.]*[a-zA-Z])"));
  QStringList out;
  for (auto it = specifier.globalMatch(AText); it.hasNext();)
    if (const QString s = it.next().captured(0); s != u"%%") out.append(s);
  return out;
}

// One argument of the kind each specifier of the built-in text asks for.
QList<TMsgArg> ArgsFor(const QString& ABuiltin) {
  QList<TMsgArg> args;
  for (const QString& s : Specifiers(ABuiltin)) {
    if (s.back().toLower() == u's')
      args.append(QStringLiteral("ARG"));
    else
      args.append(int32_t{42});
  }
  return args;
}

// The forms of the program that register for translation. Each form added to
// the program is added here, so that the shipped files are checked against it.
TEST(ShippedLanguages, RussianIsCompleteAndAddressesOnlyWhatExists) {
  TALangs langs;
  EnumLanguages(langs);
  const int ru = FindLangIndex(langs, 0x419);
  ASSERT_GE(ru, 0) << "Russian.lng is not beside the program in " << GetLanguagesDir().toStdString();
  EXPECT_EQ(langs[ru].sFileName, "Russian.lng");
  EXPECT_EQ(langs[ru].sTitle, QString::fromUtf8("Русский"));
  EXPECT_EQ(langs[ru].sAuthor, "Sorvex");

  const QString path = MakeLangPath(langs[ru].sFileName);
  const TIniFile file(path);
  for (const auto& [key, value] : file.ReadSectionValues("Strings")) {
    bool ok = false;
    const int n = key.startsWith("Str") ? key.mid(3).toInt(&ok) : 0;
    EXPECT_TRUE(ok && IsAppMsgNumber(n)) << "unknown message key " << key.toStdString();
  }
  // Its [Forms] keys are checked against the real windows where those are
  // made (the main window's tests).

  TAppLanguage lang;
  lang.SetFileName(path);
  ASSERT_TRUE(lang.SetLoaded(true));
  EXPECT_TRUE(lang.StdProfileFile().isEmpty());
  for (int n : AppMsgNumbers()) {
    const QString builtin = BuiltinAppMsg(n);
    EXPECT_NE(AppMsg(n), builtin) << "Str" << n << " is not translated";
    // Every argument shown, in the same order and form.
    EXPECT_EQ(Specifiers(AppMsg(n)), Specifiers(builtin)) << "Str" << n;
    // The translation is used with the arguments the program passes.
    QString plain;
    ASSERT_TRUE(FormatMsgText(builtin, ArgsFor(builtin), &plain));
    EXPECT_NE(FormatAppMsg(n, ArgsFor(builtin)), plain) << "Str" << n << " does not fit its arguments";
  }
  EXPECT_EQ(FormatAppMsg(msgPortBusy, {QStringLiteral("ttyUSB0")}),
            QString::fromUtf8("Не удалось открыть порт: порт \"ttyUSB0\" занят другой программой."));

  // The template writer over a copy keeps every message and the [Global] values.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString copy = dir.filePath("Russian.lng");
  ASSERT_TRUE(QFile::copy(path, copy));
  QString error;
  ASSERT_TRUE(lang.SaveAs(copy, &error)) << error.toStdString();
  std::map<int, QString> before;
  for (int n : AppMsgNumbers()) before[n] = AppMsg(n);
  lang.SetLoaded(false);
  lang.SetFileName(copy);
  ASSERT_TRUE(lang.SetLoaded(true));
  EXPECT_EQ(lang.LangId(), 0x419);
  EXPECT_EQ(lang.Title(), QString::fromUtf8("Русский"));
  for (int n : AppMsgNumbers()) EXPECT_EQ(AppMsg(n), before[n]) << n;
}

}  // namespace
