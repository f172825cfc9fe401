// The conversion engine: the token grammar, the values of tokens on each
// card type, the escapes, the check-byte and Wiegand arithmetic and whole
// conversions.
#include <gtest/gtest.h>

#include "CardEngine.h"
#include "EngineTestUtil.h"

namespace {

struct Token {
  int result;
  int posAfter;
  TAParIdxs idxs;
  int modifier;
};

struct TokenCase {
  const char* text;
  int byteCount;
  std::vector<Token> tokens;  // then the end of tokens
};

TEST(ParTokens, Grammar) {
  const TokenCase cases[] = {
      // No blank is needed before a token that starts outside the index set.
      {"b3w54", 7, {{0, 3, {3}, 0}, {0, 6, {5, 4}, 0}}},
      // "CT" is a keyword only as the last two characters: here C is a width
      // letter with the index T.
      {"CT W26", 7, {{0, 3, {par_Sum0}, 0}, {0, 8, {par_W26}, 0}}},
      {"W26 CT", 7, {{0, 5, {par_W26}, 0}, {0, 7, {par_CardType}, 0}}},
      // A second blank hides the keyword: W is a width letter, 2 and 6 indexes.
      {"B1  W26", 7, {{0, 3, {1}, 0}, {0, 8, {2, 6}, 0}}},
      {"l012Z", 4, {{0, 6, {0, 1, 2, par_Zero}, 0}}},
      {"w43", 5, {{0, 4, {4, 3}, 0}}},  // the first index character is byte 0
      {"~b4 ~W43 ^b2", 5,
       {{0, 4, {4}, kParModReverse}, {0, 9, {4, 3}, kParModReverse}, {0, 13, {2}, kParModInvert}}},
      {"W26A W32B W32 AD1", 7,
       {{0, 5, {par_W26A}, 0}, {0, 10, {par_W32B}, 0}, {0, 15, {par_W32}, 0}, {0, 19, {par_AD1}, 0}}},
      {"W26AB1", 7, {{0, 5, {par_W26A}, 0}, {0, 7, {1}, 0}}},
      {"LXYTV DTTTT", 0,
       {{0, 6, {par_CrcX, par_CrcY, par_Sum2, par_CrcV}, 0}, {0, 12, {par_Sum0, par_Sum1, par_Sum2, par_Sum3}, 0}}},
      {"SFE", 16, {{0, 4, {15, 14}, 0}}},
      // Errors leave APos where they were found.
      {"B3B2", 7, {{perr_ByteCount, 2, {}, 0}}},  // B is a hexadecimal digit too
      {"B7", 7, {{perr_MaxIndex, 2, {}, 0}}},
      {"W64", 5, {{perr_MaxIndex, 2, {}, 0}}},
      {"Q1", 7, {{perr_Specifier, 1, {}, 0}}},
      {"~Q1", 7, {{perr_Specifier, 2, {}, 0}}},
      {"B1 ~", 7, {{0, 3, {1}, 0}, {perr_Specifier, 4, {}, 0}}},
      {"W4 B1", 7, {{perr_ByteCount, 2, {}, 0}}},
      {"", 7, {}},
  };
  for (const TokenCase& c : cases) {
    const QString text = PrepareReplaces(c.text);
    int pos = 1;
    for (size_t i = 0; i < c.tokens.size(); ++i) {
      const Token& want = c.tokens[i];
      TAParIdxs idxs;
      int modifier = -1;
      const int r = NextParToken(text, c.byteCount, pos, &idxs, &modifier);
      ASSERT_EQ(r, want.result) << c.text << " token " << i;
      EXPECT_EQ(pos, want.posAfter) << c.text << " token " << i;
      if (r != 0) break;
      EXPECT_EQ(idxs, want.idxs) << c.text << " token " << i;
      // Keywords leave the modifier alone.
      EXPECT_EQ(modifier, want.idxs[0] <= par_W26 ? -1 : want.modifier) << c.text << " token " << i;
    }
    if (c.tokens.empty() || c.tokens.back().result == 0) {
      EXPECT_EQ(NextParToken(text, c.byteCount, pos), kParTokensEnd) << c.text;
    }
  }
}

TEST(ParTokens, CheckReplaces) {
  struct Case {
    const char* text;
    int byteCount;
    int result;
    int posOrCount;
  };
  const Case cases[] = {
      {"b0 b6 b5 b4", 7, 0, 4},
      {"b0 b7", 7, perr_MaxIndex, 5},  // index 7 on a 7-byte card; 6 is fine
      {"  b1 b9  ", 7, perr_MaxIndex, 5},  // positions count in the trimmed text
      {"b3 w54 AD1 CT", 7, 0, 4},
      {"", 0, 0, 0},
      {"   ", 0, 0, 0},
      {"b0", 0, perr_MaxIndex, 2},  // a card without bytes has no index
      {"bz bx by bv dtttt w26 w26a w32 w32b ad1 ct", 0, 0, 11},
      {"b1\tb2", 7, perr_Specifier, 3},
      {"B3B2", 7, perr_ByteCount, 2},
      {"b1 ^", 7, perr_Specifier, 4},
  };
  for (const Case& c : cases) {
    int pos = -1, count = -1;
    EXPECT_EQ(CheckReplaces(c.text, c.byteCount, &pos, &count), c.result) << c.text;
    EXPECT_EQ(c.result == 0 ? count : pos, c.posOrCount) << c.text;
  }
  EXPECT_EQ(ParWidthOf('C'), 1);
  EXPECT_EQ(ParWidthOf('S'), 2);
  EXPECT_EQ(ParWidthOf('I'), 4);
  EXPECT_EQ(ParWidthOf('b'), 0);  // the reader sees upper case only

  int count = -1;
  EXPECT_TRUE(CheckTemplate(" %.3u%%\\#44%.5u ", &count));
  EXPECT_EQ(count, 4);  // every "%", each of a pair too
}

// The format editor checks parameters against the byte count of the class
// being edited: an index must be below it, and a value outside the classes
// allows no index at all.
TEST(ParTokens, CheckedAgainstTheClassByteCount) {
  struct Case {
    int cls;
    const char* text;
    int result;
    int posOrCount;
  };
  const Case cases[] = {
      {cft_MUL, "b6", 0, 1},
      {cft_MUL, "b7", perr_MaxIndex, 2},
      {cft_M1K, "l0123", 0, 1},
      {cft_M1K, "b0 b4", perr_MaxIndex, 5},
      {cft_Hid, "AD1 w54", 0, 2},
      {cft_Hid, "B6", perr_MaxIndex, 2},
      {cft_Emm, "w43", 0, 1},
      {cft_Emm, "w53", perr_MaxIndex, 2},
      {cft_iCode, "b5 w76", 0, 2},
      {cft_iCode, "b8", perr_MaxIndex, 2},
      {cft_Ex, "B6", 0, 1},
      {cft_Ex, "sFE", 0, 1},
      {6, "", 0, 0},
      {6, "W26", 0, 1},
      {6, "b0", perr_MaxIndex, 2},
      {255, "bZ b0", perr_MaxIndex, 5},
  };
  for (const Case& c : cases) {
    int pos = -1, count = -1;
    EXPECT_EQ(CheckReplaces(c.text, CvtFmtByteCount(TCvtFmtType(c.cls)), &pos, &count), c.result)
        << c.cls << ": " << c.text;
    EXPECT_EQ(c.result == 0 ? count : pos, c.posOrCount) << c.cls << ": " << c.text;
  }
}

TEST(Escapes, Table) {
  struct Case {
    const char* templ;
    QString expected;
    int beeps;
  };
  const Case cases[] = {
      {"\\#65\\#066", "AB", 0},
      {"\\#", "\\#", 0},
      {"\\#x", "\\#x", 0},
      {"\\#0650", "A0", 0},  // three digits at most
      {"\\#9", "\t", 0},
      {"\\$4a", "J", 0},
      {"\\$G1", "\\$G1", 0},
      {"\\$414", "A4", 0},  // two hexadecimal digits at most
      {"\\-sy", "50020600204000", 0},
      {"\\-SY.", "50020600204000.", 0},
      {"\\-XY", "XY", 0},
      {"\\-syx", "syx", 0},
      {"\\-", "", 0},
      {"\\\"\\'\\\\", "\"'\\", 0},
      {"\\\\n", "\\n", 0},
      {"\\b\\t\\n\\f\\v\\r", "\b\t\n\n\n\r", 0},
      {"x\\ay\\a", "xy", 2},
      {"\\q\\T\\N", "", 0},  // escape letters are case-sensitive
      {"abc\\", "abc\\", 0},
      {"%u\\t%u", "%u\t%u", 0},
      {"%.3U\\#44%.5U", "%.3U,%.5U", 0},
  };
  const CardBytes card = Bytes("01 02 03 04 05");
  for (const Case& c : cases) {
    CountingBeep beep;
    EXPECT_EQ(ExpandEscapes(c.templ, card, &beep), c.expected) << c.templ;
    EXPECT_EQ(beep.count, c.beeps) << c.templ;
  }
  EXPECT_EQ(ExpandEscapes("\\0", card, nullptr), QString(QChar(0)));
  EXPECT_EQ(ExpandEscapes("\\a", card, nullptr), "");  // no beep wired: still nothing inserted
}

TEST(Arithmetic, WorkedValues) {
  // The block is fed from B[6] down to B[0]: 02 1C B8 01 00 00 00 gives A2.
  EXPECT_EQ(CalcCrc8({0x00, 0x00, 0x00, 0x01, 0xB8, 0x1C, 0x02}), 0xA2);
  EXPECT_EQ(CalcCrc8({0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00}), 0x0B);  // the other order differs
  EXPECT_EQ(CalcWiegand26(Bytes("00 00 03 04 05")), 0x0006080Au);
  EXPECT_EQ(CalcWiegand26(Bytes("00 00 FF FF FF")), 0x01FFFFFFu);  // both halves even: bit 0 only
  EXPECT_EQ(CalcWiegand26(Bytes("00 00 00 00 00")), 0x00000001u);
  EXPECT_EQ(CalcWiegand32(Bytes("01 02 03 04")), 0x88060403u);
  EXPECT_EQ(CalcWiegand32(Bytes("00 00 00 80")), 0x00000001u);  // the top bit of b3 is lost
  EXPECT_EQ(CalcW32B(Bytes("01 02 03 04")), 0x08060402u);
  EXPECT_EQ(CalcAD1(Bytes("00 00 00 00 12 34")), 0x2C48u);
  EXPECT_EQ(IntToOctStr(0, 0), "");
  EXPECT_EQ(IntToOctStr(0, 3), "000");
  EXPECT_EQ(IntToOctStr(8, 1), "10");
  EXPECT_EQ(IntToOctStr(0x030405, 8), "00602005");
  EXPECT_EQ(IntToOctStr(0xFFFFFFFF, 0), "37777777777");
  EXPECT_EQ(SyCode(Bytes("01 02 03 04 05")), "50020600204000");
  EXPECT_EQ(SyCode(Bytes("FF FF FF FF FF")), "77777777777771");
}

// The value of one token on a card.
TFmtArg Value(TovkCardType ACardType, const CardBytes& ABytes, const char* AToken) {
  const QString text = PrepareReplaces(AToken);
  int pos = 1, modifier = kParModNone;
  TAParIdxs idxs;
  EXPECT_EQ(NextParToken(text, static_cast<int>(ABytes.size()), pos, &idxs, &modifier), 0) << AToken;
  return ParTokenValue(idxs, modifier, ACardType, ABytes);
}

TEST(ParValues, ByCardType) {
  struct Case {
    TovkCardType type;
    const char* bytes;
    const char* token;
    TFmtArg expected;
  };
  const char* ul = "01 02 03 04 05 06 07";
  const char* m1k = "01 02 03 04";
  const char* hid = "01 02 03 04 12 34";
  const char* em = "01 02 03 04 05";
  const Case cases[] = {
      // Card bytes by index, the first index character in the lowest byte.
      {ovkc_UL, ul, "l012Z", 0x00030201},
      {ovkc_Em, em, "w43", 0x0405},
      {ovkc_Ex, "10 20", "s01", 0x2010},
      // X: the block of the card type through CRC-8; Y and V likewise.
      {ovkc_UL, ul, "bX", 0xF6},
      {ovkc_DS, ul, "bX", 0xF6},
      {ovkc_Df, ul, "bX", 0},
      {ovkc_UL, ul, "bY", 0},
      {ovkc_1K, m1k, "bX", 0x9F},
      {ovkc_4K, m1k, "bX", 0x9F},
      {ovkc_1K, m1k, "bY", 0x01},
      {ovkc_1K, m1k, "bV", 0},
      {ovkc_Hid, "01 02 03 04 05 06", "bX", 0x78},
      {ovkc_Hid, "01 02 03 04 05 06", "bY", 0x53},
      {ovkc_Em, em, "bX", 0xCA},
      {ovkc_Em, em, "bY", 0x41},
      {ovkc_Em, em, "bV", 0x35},
      {ovkc_Cod433, em, "sVX", 0xCA35},
      {ovkc_iCode, "01 02 03 04 05 06 07 08", "sXY", 0},
      // T: b0 + b4 and its carry, Em-Marine and 433 MHz only.
      {ovkc_Em, "F0 00 00 00 20", "dTTTT", 0x0110},
      {ovkc_Cod433, "F0 00 00 00 20", "bT", 0x10},
      {ovkc_1K, "F0 00 00 00 20", "dTTTT", 0},
      // Keywords.
      {ovkc_1K, m1k, "W26", 0x00060403},   // of b2 b1 b0
      {ovkc_4K, m1k, "W26A", 0x02020403},  // of 01 b1 b0
      {ovkc_Em, em, "W26", 0x0006080A},    // of b2 b3 b4
      {ovkc_Cod433, em, "W26", 0},
      {ovkc_UL, ul, "W26", 0},
      {ovkc_1K, m1k, "W32", int32_t(0x88060403u)},
      {ovkc_1K, m1k, "W32B", 0x08060402},
      {ovkc_Em, em, "W32", 0},
      {ovkc_Hid, hid, "AD1", 0x2C48},
      {ovkc_1K, "01 02 03 04 12 34", "AD1", 0},
      {ovkc_UL, ul, "CT", QString("Mifare UltraLight")},
      {ovkc_DS, ul, "CT", QString("Dallas")},
      {ovkc_Cod433, em, "CT", 0},  // no name: the integer 0
      // Modifiers.
      {ovkc_Em, em, "~b4", 0xA0},
      {ovkc_Em, em, "~w43", 0xA020},  // all 16 bits of 0x0405 reversed
      {ovkc_Em, em, "^b2", 0xFC},
      {ovkc_Em, em, "^w10", 0xFEFD},
      {ovkc_Em, em, "~l0ZZZ", int32_t(0x80000000u)},
      {ovkc_Em, em, "~lZZZ0", 0x80},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Value(c.type, Bytes(c.bytes), c.token), c.expected) << c.token << " on type " << int(c.type);
}

struct ConvertCase {
  const char* templ;
  const char* replaces;
  TovkCardType type;
  const char* bytes;
  QString expected;
};

TEST(CardToText, Conversions) {
  const ConvertCase cases[] = {
      {"%.2X%.2X%.2X%.2X", "b0 b6 b5 b4", ovkc_UL, "01 02 03 04 05 06 07", "01070605"},
      {"%u", "l012Z", ovkc_1K, "01 02 03 04", "197121"},
      {"%u", "w43", ovkc_Em, "01 02 03 04 05", "1029"},
      {"%u", "W32", ovkc_1K, "01 02 03 04", "2282095619"},
      {"%d", "W32", ovkc_1K, "01 02 03 04", "-2012871677"},
      {"%.8X %s", "W26 CT", ovkc_1K, "01 02 03 04", "00060403 Mifare 1K"},
      {"%d", "b1 b2", ovkc_UL, "01 02 03", "2"},      // extra tokens are unused
      {"%d-%d", "b1", ovkc_UL, "01 02 03", "2-0"},    // missing ones give 0
      {"abc", "", ovkc_UL, "", "abc"},
      {"%d", "", ovkc_UL, "", "0"},
      {"\\#37d", " b1 ", ovkc_UL, "01 02", "2"},      // escapes come before the formatter
      {"%.2X", "b6", ovkc_UL, "01 02 03 04 05 06 07", "07"},
      {"\\-sy", "", ovkc_Em, "01 02 03 04", "00020600204000"},  // b4 missing reads 0
  };
  for (const ConvertCase& c : cases) {
    QString text;
    int pos = 0;
    ASSERT_EQ(CardToText(c.templ, c.replaces, c.type, Bytes(c.bytes), nullptr, text, pos), 0) << c.templ;
    EXPECT_EQ(text, c.expected) << c.templ << " / " << c.replaces;
  }
}

TEST(CardToText, ParameterErrorsAndFormatterFailures) {
  struct ErrorCase {
    const char* templ;
    const char* replaces;
    int result;
    int pos;
  };
  // Tokens beyond the specifiers are unused but checked all the same: an
  // error in one stops the conversion before anything is formatted.
  const ErrorCase errors[] = {
      {"%d%d", "b0 b7", perr_MaxIndex, 5},
      {"%d", "b0 b9", perr_MaxIndex, 5},
      {"%d", "b0 q1", perr_Specifier, 4},
      {"%d", "b0 b3b2", perr_ByteCount, 5},
      {"abc", "b0 ~", perr_Specifier, 4},
  };
  const CardBytes card7 = Bytes("01 02 03 04 05 06 07");
  QString text = "untouched";
  int pos = 0;
  for (const ErrorCase& c : errors) {
    EXPECT_EQ(CardToText(c.templ, c.replaces, ovkc_UL, card7, nullptr, text, pos), c.result) << c.replaces;
    EXPECT_EQ(pos, c.pos) << c.replaces;
  }
  EXPECT_EQ(text, "untouched");

  const ConvertCase failing[] = {
      {"%s", "b1", ovkc_UL, "01 02", {}},                // an integer for %s
      {"%d", "CT", ovkc_UL, "01 02", {}},                // a string for %d
      {"%s", "CT", ovkc_Cod433, "01 02 03 04 05", {}},   // no type name: the integer 0
      {"%q", "b1", ovkc_UL, "01 02", {}},
      {"abc%", "", ovkc_UL, "01 02", {}},
  };
  for (const ConvertCase& c : failing)
    EXPECT_THROW(CardToText(c.templ, c.replaces, c.type, Bytes(c.bytes), nullptr, text, pos), EFormatError)
        << c.templ;
  EXPECT_EQ(text, "untouched");

  // The beep sounds while the template is expanded.
  CountingBeep beep;
  ASSERT_EQ(CardToText("\\a%d", "b0", ovkc_UL, Bytes("05"), &beep, text, pos), 0);
  EXPECT_EQ(text, "5");
  EXPECT_EQ(beep.count, 1);
}

// Every special value and the SY code on cards shorter than the bytes they
// read: missing bytes read as 0x00 and nothing outside the card is touched
// (the sanitizer build checks the second half).
TEST(CardToText, ShortCards) {
  const char* specials[] = {"bZ", "bX", "bY", "bV", "dTTTT", "W26", "W26A", "W32", "W32B", "AD1", "CT",
                            "~LXYVT", "^LXYVT"};
  const char* cards[] = {"", "A5", "A5 5A C3 3C"};
  for (int t = ovkc_Unk; t <= ovkc_DS; ++t) {
    for (const char* card : cards) {
      const CardBytes bytes = Bytes(card);
      for (const char* special : specials) {
        QString text;
        int pos = 0;
        const bool isString = QString(special) == "CT" && !GetCardTypeName(TovkCardType(t)).isEmpty();
        ASSERT_EQ(CardToText(isString ? "%s" : "%u", special, TovkCardType(t), bytes, nullptr, text, pos), 0)
            << special << " type " << t << " card '" << card << "'";
        EXPECT_FALSE(text.isEmpty());
      }
      QString text;
      int pos = 0;
      ASSERT_EQ(CardToText("\\-sy", "", TovkCardType(t), bytes, nullptr, text, pos), 0);
      EXPECT_EQ(text.size(), 14);
    }
  }
  // Values on a card without bytes are those of an all-zero card.
  const CardBytes none;
  EXPECT_EQ(Value(ovkc_Em, none, "bX"), TFmtArg(0x3D));  // CRC of 00 00 00 00 00 00 01
  EXPECT_EQ(Value(ovkc_Em, none, "W26"), TFmtArg(1));
  EXPECT_EQ(Value(ovkc_1K, none, "W32"), TFmtArg(1));
  EXPECT_EQ(Value(ovkc_Hid, Bytes("01 02 03 04 80"), "AD1"), TFmtArg(0x0001));  // b5 missing
  EXPECT_EQ(SyCode(none), "00000000000000");
}

TEST(CardTypeNames, Table) {
  const std::pair<TovkCardType, const char*> names[] = {
      {ovkc_Unk, ""},          {ovkc_UL, "Mifare UltraLight"}, {ovkc_1K, "Mifare 1K"},
      {ovkc_Hid, "HID"},       {ovkc_Em, "Em-Marine"},         {ovkc_Cod433, ""},
      {ovkc_iCode, "iCode"},   {ovkc_Df, "Mifare DF"},         {ovkc_4K, "Mifare 4K"},
      {ovkc_Ex, "Exclusive"},  {ovkc_DS, "Dallas"},            {TovkCardType(11), ""},
  };
  for (const auto& [type, name] : names) EXPECT_EQ(GetCardTypeName(type), name) << int(type);
}

}  // namespace
