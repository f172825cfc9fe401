// The texts of the status codes, byte for byte, and the copying export.
#include <gtest/gtest.h>

#include <string>

#include "ylvane.h"

namespace {

std::u16string Text(HRESULT code, uint32_t lang) {
  char16_t buf[128];
  int32_t len = -1;
  if (YV_GetStatusText(code, lang, buf, 128, &len) != S_OK) return u"<none>";
  EXPECT_EQ(std::char_traits<char16_t>::length(buf), static_cast<size_t>(len));
  return buf;
}

TEST(StatusText, EnglishAndRussianAsGiven) {
  struct Case {
    HRESULT code;
    const char16_t* english;
    const char16_t* russian;
  } cases[] = {
      {YV_S_CANCELED, u"Operation canceled.\r\n", u"Операция отменена.\r\n"},
      {YV_E_PORT_BUSY, u"Port busy.\r\n", u"Порт занят.\r\n"},
      {YV_E_FTD2XX_LOAD, u"Failed to load FTD2XX.DLL.\r\n", u"Неудалось загрузить FTD2XX.DLL.\r\n"},
      {YV_E_NOT_INITIALIZED, u"\"Initialize\" has not been called.\r\n",
       u"Не проинициализировано функцией \"Initialize\".\r\n"},
      {YV_E_BUFFER_TOO_SMALL, u"The buffer size is too small.\r\n",
       u"Размер буфера слишком мал.\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(c.code, YV_LANG_ENGLISH), c.english);
    EXPECT_EQ(Text(c.code, YV_LANG_RUSSIAN), c.russian);
  }
  // Every library code from 0x201 to 0x20C has both texts.
  for (uint32_t n = 0x201; n <= 0x20C; ++n) {
    HRESULT code = static_cast<HRESULT>((n <= 0x202 ? 0x00040000u : 0x80040000u) | n);
    EXPECT_NE(Text(code, YV_LANG_ENGLISH), u"<none>") << std::hex << code;
    EXPECT_NE(Text(code, YV_LANG_RUSSIAN), u"<none>") << std::hex << code;
  }
}

TEST(StatusText, SmallBufferUnknownCodeAndLanguage) {
  char16_t buf[12];
  int32_t len = -1;
  // "Port busy.\r\n" is 12 characters and needs 13 with its terminator.
  EXPECT_EQ(YV_GetStatusText(YV_E_PORT_BUSY, YV_LANG_ENGLISH, buf, 12, &len),
            YV_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 12);
  EXPECT_EQ(YV_GetStatusText(YV_E_PORT_BUSY, YV_LANG_ENGLISH, nullptr, 0, &len),
            YV_E_BUFFER_TOO_SMALL);
  len = -1;
  EXPECT_EQ(YV_GetStatusText(YV_E_PORT_BUSY, YV_LANG_ENGLISH, nullptr, 13, &len), E_INVALIDARG);
  EXPECT_EQ(YV_GetStatusText(YV_E_PORT_BUSY, YV_LANG_ENGLISH, buf, -1, &len), E_INVALIDARG);
  EXPECT_EQ(len, -1);
  EXPECT_EQ(YV_GetStatusText(E_INVALIDARG, YV_LANG_ENGLISH, buf, 12, &len), E_INVALIDARG);
  EXPECT_EQ(YV_GetStatusText(S_OK, YV_LANG_ENGLISH, buf, 12, &len), E_INVALIDARG);
  EXPECT_EQ(YV_GetStatusText(YV_E_PORT_BUSY, 1031, buf, 12, &len), E_INVALIDARG);
}

}  // namespace
