// The built-in standard formats against the engine: every one passes the
// checks of the format editor, and a few convert reader lines to the texts
// worked out by hand.
#include <gtest/gtest.h>

#include "CardEngine.h"
#include "CardParser.h"
#include "Profiles.h"

namespace {

// The formats as the program loads them (their exact texts are pinned by
// the standard formats' own test).
const TStdProfile& Standard() {
  static TStdProfile profile;
  static const bool loaded = profile.LoadFromRes("STDFMTS");
  if (!loaded) throw std::runtime_error("the built-in formats do not load");
  return profile;
}

const TCvtFmt& Find(TCvtFmtType ACls, uint32_t AId) {
  const TUIntKeyObjectList& list = Standard().GetFmtList(ACls);
  const int i = list.IndexOf(AId);
  if (i < 0) throw std::out_of_range("no such standard format");
  return *list.Items(i);
}

TEST(StdFormats, PassTheEditorChecks) {
  int total = 0;
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    const auto cls = TCvtFmtType(c);
    for (const auto& f : Standard().GetFmtList(cls)) {
      const std::string name = (CvtFmtTypeName(cls) + '.' + QString::number(f->m_nFmtId)).toStdString();
      int specifiers = -1, tokens = -1, pos = -1;
      EXPECT_TRUE(CheckTemplate(f->m_sTemplate, &specifiers)) << name;
      EXPECT_EQ(CheckReplaces(f->m_sReplaces, CvtFmtByteCount(cls), &pos, &tokens), 0)
          << name << " at " << pos;
      EXPECT_EQ(specifiers, tokens) << name;
      ++total;
    }
  }
  EXPECT_EQ(total, 86);
}

TEST(StdFormats, ConvertReaderLines) {
  struct Case {
    const char* line;
    TCvtFmtType cls;
    int id;
    QString expected;
  };
  const Case cases[] = {
      {"Mifare[04A1B2C3D4E5F6] (UL)", cft_MUL, 1, "04F6E5D4"},
      {"Mifare[04A1B2C3D4E5F6] (UL)", cft_MUL, 7, "246\t58836"},  // F6, E5D4
      {"Mifare[04A1B2C3D4E5F6] (UL)", cft_MUL, 13, "004\t58870"},  // E5F6
      // A Dallas key whose CRC block is the classic 02 1C B8 01 00 00 00 / A2.
      {"Dallas[FF00000001B81C02]", cft_MUL, 16, "021CB801000000A2"},
      {"Mifare[01020304] (1K)", cft_M1K, 9, "197121"},
      // "w32" here is the keyword W32 (keywords are read before width
      // letters), not the bytes 3 and 2: the Wiegand-32 word of the card.
      {"Mifare[01020304] (1K)", cft_M1K, 14, "002\t2282095619"},
      {"Mifare[01020304] (4K)", cft_M1K, 17, "0100000003020101"},
      {"Mifare[01020304] (1K)", cft_M1K, 18, "003,00513"},
      {"HID[0A0B0C0D] 1234", cft_Hid, 10, "1234"},
      {"HID[0A0B0C0D] 1234", cft_Hid, 11, "0131234"},
      {"HID[01020304] 1286", cft_Hid, 19, "0106050403020178"},
      {"HID[01020304] 4660", cft_Hid, 21, "2C486C001A"},  // 4660 = 1234h
      {"Em-Marine[0102A1B2C3] 161,45763", cft_Emm, 28, "161,45763"},
      {"Em-Marine[0102] 3,1029", cft_Emm, 2, "CA00010203040501"},
      {"Em-Marine[0102] 3,1029", cft_Emm, 17, "258\t3\t1029"},
      {"Em-Marine[0102] 3,1029", cft_Emm, 21, "50020600204000"},
      {"Em-Marine[0102] 3,1029", cft_Emm, 22, "00000006080A"},
      {"Em-Marine[0102] 3,1029", cft_Emm, 25, "A020C0001A\n"},
      {"Em-Marine[0102] 3,1029", cft_Emm, 27, "35000000FCFBFA01"},
      {"COD433[7F] 12,300", cft_Emm, 2, "5D00017F0C012C01"},
      {"iCode[0102030405060708]", cft_iCode, 1, "006\t01800"},
      {"[0102030405060708]", cft_Ex, 1, "08 07 06 05 04 03\r"},
  };
  for (const Case& c : cases) {
    const auto card = ParseCardText(c.line, kDefCmtNone);
    ASSERT_TRUE(card) << c.line;
    ASSERT_EQ(CardTypeToCvtFmtType(card->type), c.cls) << c.line;
    const TCvtFmt& f = Find(c.cls, uint32_t(c.id));
    QString text;
    int pos = 0;
    ASSERT_EQ(CardToText(f.m_sTemplate, f.m_sReplaces, card->type, card->bytes, nullptr, text, pos), 0)
        << c.line;
    EXPECT_EQ(text, c.expected) << c.line << " by " << CvtFmtTypeName(c.cls).toStdString() << '.' << c.id;
  }
}

}  // namespace
