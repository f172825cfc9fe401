// The message table, its lookup and the formatter of translated texts.
#include <gtest/gtest.h>

#include "AppMessages.h"
#include "common/QStringPrinter.h"

namespace {

TEST(AppMessages, BuiltinTextsByteForByte) {
  const std::map<int, const char*> expected = {
      {1, "Failed to open profile \"%s\"."},
      {3, "[Error: syntax parameters (position %d)]"},
      {4, "Syntax error parameters: the number of incorrect specifier (position %d)"},
      {5, "Syntax error parameters: Not true number of bytes in number (position %d)"},
      {6, "Syntax error parameters: number of bytes more than the maximum (position %d)"},
      {8, "Incorrect parameters: the number of parameters in the line pattern not match the number of "
          "parameters in the \"Parameters\"."},
      {9, "Could not start Help."},
      {10, "Could not open port: port \"%s\" does not exist."},
      {11, "Could not open port: port \"%s\" occupied by another program."},
      {12, "Failed to delete profile %s."},
      {13, "Failed to create a profile file %s."},
      {14, "Profile \"%s\" already exists. Replace?"},
      {15, "Delete profile \"%s\"?"},
      {16, "Failed to create a format."},
      {17, "Unable to change the format."},
      {18, "Unable to remove the format \"%s\"."},
      {19, "%s (standard)"},
      {20, "%s (custom)"},
      {21, "[format is not set]"},
      {22, "Enable"},
      {23, "Disable"},
      // Ours: any other failure to open a port, with the library's words.
      {24, "Could not open port: port \"%s\": %s"},
      // Ours: why, for a device this user may not use.
      {25, "this user may not read and write the device, which belongs to the group \"%s\" (add the user to that "
           "group and log in again)."},
      // Ours: a text that could not be typed.
      {26, "[not typed: typing needs an X11 display]"},
      {27, "[not typed: no window to type into]"},
  };
  std::vector<int> numbers;
  for (const auto& [n, text] : expected) {
    numbers.push_back(n);
    EXPECT_EQ(BuiltinAppMsg(n).toUtf8(), QByteArray(text)) << n;
    EXPECT_EQ(AppMsg(n), BuiltinAppMsg(n)) << n;
    EXPECT_TRUE(IsAppMsgNumber(n)) << n;
  }
  EXPECT_EQ(AppMsgNumbers(), numbers);
  for (int n : {0, 2, 7, 28, -1}) {
    EXPECT_FALSE(IsAppMsgNumber(n)) << n;
    EXPECT_TRUE(AppMsg(n).isEmpty()) << n;
  }
}

TEST(AppMessages, Formatter) {
  struct Case {
    const char* format;
    QList<TMsgArg> args;
    const char* expected;  // nullptr: the format must be refused
  };
  const QString text = QStringLiteral("COM1");
  const Case cases[] = {
      {"port \"%s\" busy", {text}, "port \"COM1\" busy"},
      {"(position %d)", {int32_t{12}}, "(position 12)"},
      {"%d|%5d|%-5d|%.3d|%.0d", {int32_t{-7}, int32_t{42}, int32_t{42}, int32_t{5}, int32_t{0}},
       "-7|   42|42   |005|0"},
      {"%.3d", {int32_t{-5}}, "-005"},
      {"%x %X %.4x", {int32_t{255}, int32_t{-1}, int32_t{10}}, "FF FFFFFFFF 000A"},
      {"%u %U", {int32_t{-1}, int32_t{7}}, "4294967295 7"},
      {"[%6s][%-6s][%.2s]", {text, text, text}, "[  COM1][COM1  ][CO]"},
      {"100%% %s", {text}, "100% COM1"},
      {"no specifiers", {text, int32_t{1}}, "no specifiers"},  // extra arguments are ignored
      {"%s", {QString::fromUtf8("Профиль")}, "Профиль"},
      {"%d", {text}, nullptr},                  // kind does not fit
      {"%s", {int32_t{1}}, nullptr},
      {"%s %s", {text}, nullptr},               // missing argument
      {"%n", {int32_t{1}}, nullptr},            // unknown letter
      {"%f", {int32_t{1}}, nullptr},
      {"%0:s", {text}, nullptr},                // argument indexes are not part of the language
      {"tail %", {}, nullptr},
      {"%-", {text}, nullptr},
  };
  for (const Case& c : cases) {
    QString out = QStringLiteral("untouched");
    const bool ok = FormatMsgText(QString::fromUtf8(c.format), c.args, &out);
    if (c.expected) {
      EXPECT_TRUE(ok) << c.format;
      EXPECT_EQ(out, QString::fromUtf8(c.expected)) << c.format;
    } else {
      EXPECT_FALSE(ok) << c.format;
      EXPECT_EQ(out, QStringLiteral("untouched")) << c.format;
    }
  }
}

class InstalledTable : public ::testing::Test {
 protected:
  void TearDown() override { RemoveAppMsgTable(this); }
};

TEST_F(InstalledTable, TranslationUsedOnlyWhenItFitsTheArguments) {
  InstallAppMsgTable(this, {{msgPortBusy, QString::fromUtf8("Порт \"%s\" занят")},
                            {msgParamSyntax, QString::fromUtf8("[Ошибка (позиция %s)]")},
                            {msgFormatStandard, QString::fromUtf8("%s %s")},
                            {msgDeleteProfileAsk, QString::fromUtf8("Удалить профиль?")},
                            {msgHelpFailed, QString()}});
  EXPECT_EQ(FormatAppMsg(msgPortBusy, {QStringLiteral("ttyUSB0")}), QString::fromUtf8("Порт \"ttyUSB0\" занят"));
  // %s where the message passes a number: the built-in text is shown.
  EXPECT_EQ(FormatAppMsg(msgParamSyntax, {int32_t{4}}), "[Error: syntax parameters (position 4)]");
  // More specifiers than arguments.
  EXPECT_EQ(FormatAppMsg(msgFormatStandard, {QStringLiteral("Fmt")}), "Fmt (standard)");
  // Fewer specifiers than arguments is safe and allowed.
  EXPECT_EQ(FormatAppMsg(msgDeleteProfileAsk, {QStringLiteral("p")}), QString::fromUtf8("Удалить профиль?"));
  // An empty translation makes the message empty.
  EXPECT_EQ(AppMsg(msgHelpFailed), QString());
  EXPECT_EQ(FormatAppMsg(msgHelpFailed), QString());
  // Untranslated messages keep the built-in text.
  EXPECT_EQ(FormatAppMsg(msgFormatNotSet), "[format is not set]");
  // A program call that does not fit even the built-in text shows that text.
  EXPECT_EQ(FormatAppMsg(msgFormatCustom), "%s (custom)");

  // Another owner cannot remove this table; its owner can.
  int other = 0;
  RemoveAppMsgTable(&other);
  EXPECT_EQ(AppMsg(msgPortBusy), QString::fromUtf8("Порт \"%s\" занят"));
  RemoveAppMsgTable(this);
  EXPECT_EQ(AppMsg(msgPortBusy), BuiltinAppMsg(msgPortBusy));
}

}  // namespace
