// The formatter that fills templates: its language, its limits and its
// failures.
#include <gtest/gtest.h>

#include "FmtArgs.h"

namespace {

struct FormatCase {
  const char* format;
  TVaList args;
  QString expected;
};

TEST(FormatArgs, Language) {
  const int32_t w32 = static_cast<int32_t>(0x88060403u);
  const FormatCase cases[] = {
      {"%.2X", {10}, "0A"},
      {"%.3u,%.5u", {5, 300}, "005,00300"},
      {"%u", {w32}, "2282095619"},
      {"%d", {w32}, "-2012871677"},  // bit 31 set prints negative
      {"%D|%U|%x|%X", {7, 8, 255, 171}, "7|8|FF|AB"},
      {"%x", {-1}, "FFFFFFFF"},
      {"%.0d|%.0u|%.0x", {0, 0, 0}, "0|0|0"},
      {"%.d", {0}, "0"},
      {"%5d|%-5d|%5.3d", {42, 42, 7}, "   42|42   |  007"},
      {"%.5d|%6.3d", {-12, -5}, "-00012|  -005"},
      {"%d", {INT32_MIN}, "-2147483648"},
      {"%s|%.3s|%6s|%-6s|%S", {"Mifare", "Mifare", "HID", "HID", "x"}, "Mifare|Mif|   HID|HID   |x"},
      {"%.0s|", {"abc"}, "|"},
      {"100%% %d%%", {5}, "100% 5%"},
      {"no specifiers", {}, "no specifiers"},
      {"%d", {1, 2}, "1"},  // unused arguments are ignored
      {"a\tb\r", {}, "a\tb\r"},
  };
  for (const FormatCase& c : cases) EXPECT_EQ(FormatArgs(c.format, c.args), c.expected) << c.format;
  // Control characters, including the character 0, pass through.
  EXPECT_EQ(FormatArgs(QString("%d") + QChar(0) + "x", {3}), QString("3") + QChar(0) + "x");
}

TEST(FormatArgs, WidthAndPrecisionAreCapped) {
  EXPECT_EQ(FormatArgs("%99999999999999999999d", {1}).size(), kMaxFmtField);
  EXPECT_EQ(FormatArgs("%.5000u", {1}).size(), kMaxFmtField);
  EXPECT_EQ(FormatArgs("%-2000s|", {"a"}).size(), kMaxFmtField + 1);
}

TEST(FormatArgs, FailsCleanly) {
  const FormatCase cases[] = {
      {"%d", {"text"}, {}},       // string for a number
      {"%x", {"text"}, {}},
      {"%s", {5}, {}},            // integer for a string
      {"%q", {5}, {}},            // unknown letter
      {"%f", {5}, {}},
      {"%*d", {5, 5}, {}},        // "*" widths are not part of the language
      {"%0:d", {5}, {}},          // nor argument indexes
      {"%--5d", {5}, {}},
      {"%d %d", {5}, {}},         // missing argument
      {"%d", {}, {}},
      {"abc%", {5}, {}},          // a lone "%" at the end
      {"%", {5}, {}},
      {"%-5", {5}, {}},           // cut off inside the specifier
      {"%5.", {5}, {}},
  };
  for (const FormatCase& c : cases) EXPECT_THROW(FormatArgs(c.format, c.args), EFormatError) << c.format;
}

TEST(FormatArgs, ArgumentList) {
  const std::pair<const char*, int> counts[] = {
      {"", 0}, {"abc", 0}, {"%d", 1}, {"%%", 0}, {"%%d", 0}, {"%d%%%s", 2},
      {"%.2X%.2X%.2X%.2X", 4}, {"abc%", 1}, {"%", 1}, {"%%%", 1}, {"%-5.3d %5s", 2},
  };
  for (const auto& [format, count] : counts) {
    TVaList args{QString("stale")};
    InitFmtArgs(args, format);
    ASSERT_EQ(static_cast<int>(args.size()), count) << format;
    for (const TFmtArg& a : args) {
      const int32_t* v = std::get_if<int32_t>(&a);
      EXPECT_TRUE(v && *v == 0) << format;
    }
  }

  TVaList args;
  InitFmtArgs(args, "%d %s %d");
  SetFmtArgs(args, 1, {QString("x"), 7, 99});  // the value beyond the end is dropped
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(FormatArgs("%d %s %d", args), "0 x 7");
  SetFmtArgs(args, 3, {1});
  SetFmtArgs(args, -1, {1});
  EXPECT_EQ(FormatArgs("%d %s %d", args), "0 x 7");
  ClearFmtArgs(args);
  EXPECT_TRUE(args.empty());
}

}  // namespace
