// The message table, its lookup and the formatter of translated texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "AppMessages.h"
#include "common/QStringPrinter.h"

namespace {

// Each message with the arguments the program passes it: the built-in text
// (what is shown without a language, and whenever a translation does not
// fit) must take exactly these, so that no caller shows a bare "%s" and no
// argument is dropped. The numbers are what language files address.
TEST(AppMessages, EachBuiltinTextTakesTheArgumentsItsCallersPass) {
  const QString port = QStringLiteral("ttyUSB0"), name = QStringLiteral("Office");
  const std::vector<std::pair<int, QList<TMsgArg>>> calls = {
      {msgOpenProfileFailed, {name}},   {msgParamSyntax, {int32_t{17}}},
      {msgParamBadSpecifier, {int32_t{17}}}, {msgParamBadByteCount, {int32_t{17}}},
      {msgParamTooManyBytes, {int32_t{17}}}, {msgParamCountMismatch, {}},
      {msgHelpFailed, {}},              {msgPortNotExists, {port}},
      {msgPortBusy, {port}},            {msgDeleteProfileFailed, {name}},
      {msgCreateProfileFailed, {name}}, {msgProfileExists, {name}},
      {msgDeleteProfileAsk, {name}},    {msgCreateFormatFailed, {}},
      {msgChangeFormatFailed, {}},      {msgRemoveFormatFailed, {name}},
      {msgFormatStandard, {name}},      {msgFormatCustom, {name}},
      {msgFormatNotSet, {}},            {msgEnable, {}},
      {msgDisable, {}},                 {msgPortOpenFailed, {port, QStringLiteral("why")}},
      {msgPortAccessDenied, {QStringLiteral("dialout")}},
      {msgLogNotWritten, {QStringLiteral("/home/u/.config/Sorvex/_ttyUSB0.log: No space left on device")}},
      {msgSettingsNotSaved, {QStringLiteral("/home/u/.config/Sorvex/Sorvex.ini: Read-only file system")}},
      {msgNotTypedNoDisplay, {}},       {msgNotTypedNoWindow, {}},
      {msgPortNameTooLong, {int32_t{30}}},
  };
  std::vector<int> numbers;
  for (const auto& [n, args] : calls) {
    numbers.push_back(n);
    const QString text = BuiltinAppMsg(n);
    EXPECT_FALSE(text.isEmpty()) << n;
    EXPECT_EQ(AppMsg(n), text) << n << ": no language is loaded";
    QString shown;
    ASSERT_TRUE(FormatMsgText(text, args, &shown)) << n << " does not take its arguments: " << text.toStdString();
    EXPECT_EQ(FormatAppMsg(n, args), shown) << n;
    EXPECT_FALSE(shown.contains(u'%')) << n << ": " << shown.toStdString();
    if (!args.isEmpty()) {
      QString fewer;
      EXPECT_FALSE(FormatMsgText(text, args.mid(0, args.size() - 1), &fewer))
          << n << " leaves its last argument out: " << text.toStdString();
    }
  }
  // The texts quoted to users by the port switch, as they stand.
  EXPECT_EQ(FormatAppMsg(msgPortNotExists, {port}), "Could not open port: port \"ttyUSB0\" does not exist.");
  EXPECT_EQ(FormatAppMsg(msgPortBusy, {port}), "Could not open port: port \"ttyUSB0\" occupied by another program.");

  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(AppMsgNumbers(), numbers) << "a message without a caller above, or a caller without a message";
  for (int n : numbers) EXPECT_TRUE(IsAppMsgNumber(n)) << n;
  for (int n : {0, 2, 7, 31, -1}) {
    EXPECT_FALSE(IsAppMsgNumber(n)) << n;
    EXPECT_TRUE(BuiltinAppMsg(n).isEmpty()) << n;
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
