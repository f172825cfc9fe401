// The card-line parser: the line forms of the reader, the default-format
// choice, and the cutting of received bytes into lines.
#include <gtest/gtest.h>

#include "CardParser.h"
#include "EngineTestUtil.h"

namespace {

constexpr TovkCardType kNone = TovkCardType(255);  // the line is dropped

struct ParseCase {
  const char* line;
  int defCmt;
  TovkCardType type;
  const char* bytes;
};

TEST(ParseCardText, LineForms) {
  const ParseCase cases[] = {
      // The worked lines.
      {"[0102030405]", 0, ovkc_Ex, "05 04 03 02 01"},
      {"Em-Marine[0102A1B2C3] 161,45763", 0, ovkc_Em, "01 02 A1 B2 C3 A1 B2 C3"},
      {"COD433[7F] 12,300", 0, ovkc_Cod433, "01 7F 0C 01 2C"},
      {"Dallas[1122334455667788]", 0, ovkc_DS, "22 33 44 55 66 77 88"},
      // Exclusive: read from the end; an odd character after "[" is unused.
      {"[ABC]", 0, ovkc_Ex, "BC"},
      {"[A]", 0, ovkc_Ex, ""},  // one character between the brackets: no bytes
      {"[]", 1, kNone, ""},  // too short, and no word before "["
      {"[0G]", 0, kNone, ""},
      {"[0102", 1, kNone, ""},
      // 433 MHz, including truncated forms.
      {"cod433[7F] 12,300", 0, ovkc_Cod433, "01 7F 0C 01 2C"},
      {"COD433[7f]300,70000", 0, ovkc_Cod433, "01 7F 2C 11 70"},
      {"COD433[7F] ,300", 1, kNone, ""},
      {"COD433[7F] 12,", 1, kNone, ""},
      {"COD433[7F] 12 300", 1, kNone, ""},
      {"COD433[7F] 99999999999,1", 1, kNone, ""},
      {"COD433[7F", 1, kNone, ""},
      {"COD433[", 1, kNone, ""},
      {"COD433[7] 1,2", 1, kNone, ""},  // the pair is "7]"
      {"COD433 7F", 1, kNone, ""},
      {"COD433", 1, kNone, ""},
      // Dallas: the first pair is skipped.
      {"Dallas[1]", 1, kNone, ""},
      {"Dallas[11]", 0, ovkc_DS, ""},
      {"Dallas[112233]", 0, ovkc_DS, "22 33"},
      {"DALLAS[11223]", 0, ovkc_DS, "22"},
      // Mifare: markers anywhere in the line, in the order UL, 1K, DF, 4K.
      {"Mifare[04A1B2C3D4E5F6] (UL)", 0, ovkc_UL, "04 A1 B2 C3 D4 E5 F6"},
      {"MIFARE[04A1B2C3] (1K)", 0, ovkc_1K, "04 A1 B2 C3"},
      {"Mifare[04A1B2C3] (4K)", 0, ovkc_4K, "04 A1 B2 C3"},
      {"Mifare[04A1B2C3] 4K UL", 0, ovkc_UL, "04 A1 B2 C3"},
      {"Mifare[04DF1234]", 0, ovkc_Df, "04 DF 12 34"},  // "DF" in the digits
      {"Mifare[04df1234]", 0, kNone, ""},               // the search is case-sensitive
      {"Mifare[04A1B2C3] (4)", 0, ovkc_1K, "04 A1 B2 C3"},
      {"Mifare[04A1B2C3D4E5F6] (7)", 0, ovkc_UL, "04 A1 B2 C3 D4 E5 F6"},  // "]" 15 after "["
      {"Mifare[04A1B2C3D4E5F6]", 0, kNone, ""},  // open: the default choice decides
      {"Mifare[04A1B2C3D4E5F6]", 2, ovkc_1K, "04 A1 B2 C3 D4 E5 F6"},
      {"Mifare[04A1B2C3] (7)", 0, kNone, ""},
      {"Mifare[04A1B2C3] (7)", 1, ovkc_UL, "04 A1 B2 C3"},
      {"Mifare[04A1B2C3] (7", 1, ovkc_UL, "04 A1 B2 C3"},  // no non-digit after: open
      {"Mifare[04A1B2C3] (x)", 1, kNone, ""},              // no digit after "(": fails
      {"Mifare[04A1B2C3] (99999999999)", 1, kNone, ""},
      {"Mifare[0G1122334455667788] UL", 1, kNone, ""},
      // HID: a decimal number after the brackets, as two bytes.
      {"HID[0A0B0C0D] 1234", 0, ovkc_Hid, "0A 0B 0C 0D 04 D2"},
      {"HID[0A] 77", 0, ovkc_Hid, "0A 00 4D"},
      {"hid[0A]x70000y", 0, ovkc_Hid, "0A 11 70"},
      {"HID[0A0B0C0D]", 1, kNone, ""},
      {"HID[0A] 99999999999", 1, kNone, ""},
      // Em-Marine: "facility,number" after the brackets.
      {"Em-Marine[0102A1B2C3]", 1, kNone, ""},  // no ","
      {"Em-Marine[0102A1B2C3] 161.5,45763", 1, kNone, ""},
      {"Em-Marine[0102A1B2C3] 161,45763,1", 1, kNone, ""},
      {"Em-Marine[0102A1B2C3] ,45763", 1, kNone, ""},
      {"iCode[0102030405060708]", 0, ovkc_iCode, "01 02 03 04 05 06 07 08"},
      // Too little between the brackets.
      {"X[0]", 1, kNone, ""},
      {"X[01]", 1, ovkc_UL, "01"},
      {"X[0102", 1, kNone, ""},
      // Unknown words go to the default choice (the word is not trimmed).
      {"Unknown[0102]", 0, kNone, ""},
      {" Mifare[0102] (1K)", 1, ovkc_UL, "01 02"},
      {"Unknown[0102]", 2, ovkc_1K, "01 02"},
      {"Unknown[0102]", 3, kNone, ""},
      {"Unknown[0102] 5", 3, ovkc_Hid, "01 02 00 05"},
      {"Unknown[0102] 5,6", 4, ovkc_Em, "01 02 05 00 06"},
      {"Unknown[0102]", 5, ovkc_iCode, "01 02"},
      {"Unknown[0102]", 6, kNone, ""},  // Exclusive has no rule for such a line
      {"Unknown[0102]", 7, kNone, ""},
      {"Mifar\xE9[0102]", 1, ovkc_UL, "01 02"},
  };
  for (const ParseCase& c : cases) {
    const auto card = ParseCardText(QString::fromLatin1(c.line), c.defCmt);
    if (c.type == kNone) {
      EXPECT_FALSE(card) << c.line << " with default " << c.defCmt;
      continue;
    }
    ASSERT_TRUE(card) << c.line << " with default " << c.defCmt;
    EXPECT_EQ(card->type, c.type) << c.line;
    EXPECT_EQ(card->bytes, Bytes(c.bytes)) << c.line;
  }
}

TEST(ParseCardText, NoCardLines) {
  for (const char* line : {"No Card", "NO CARD", "no card present", "No Cards"})
    EXPECT_TRUE(IsNoCardLine(line)) << line;
  for (const char* line : {"No Car", " No Card", "NoCard", ""}) EXPECT_FALSE(IsNoCardLine(line)) << line;
}

// Feeds the deliveries and collects every line cut after each one.
std::vector<QStringList> Cut(CardLineBuffer& ABuf, const std::vector<QByteArray>& ADeliveries) {
  std::vector<QStringList> out;
  for (const QByteArray& d : ADeliveries) {
    ABuf.Append(d);
    QStringList lines;
    QString line;
    while (ABuf.TakeLine(line)) lines << line;
    out.push_back(lines);
  }
  return out;
}

TEST(CardLineBuffer, Cutting) {
  struct Case {
    std::vector<QByteArray> deliveries;
    std::vector<QStringList> lines;  // after each delivery
    QString pending;
  };
  const Case cases[] = {
      {{"Mifare[04A1", "B2C3D4E5F6] (UL)\r\n"}, {{}, {"Mifare[04A1B2C3D4E5F6] (UL)"}}, ""},
      {{"a\r\nb\rc\nd\r"}, {{"a", "b", "c\nd"}}, ""},  // a lone LF does not end a line
      {{"\n\na\n\r"}, {{"a"}}, ""},
      {{"a\r", "\nb\r"}, {{"a"}, {"b"}}, ""},
      {{"x\n"}, {{}}, "x\n"},
      {{"\r\r\n\r"}, {{"", "", ""}}, ""},
      {{"a\rb"}, {{"a"}}, "b"},
      {{QByteArray("M\xE9\x00z\r", 5)}, {{QString("M\u00E9") + QChar(0) + "z"}}, ""},
  };
  for (const Case& c : cases) {
    CardLineBuffer buf;
    EXPECT_EQ(Cut(buf, c.deliveries), c.lines) << c.deliveries[0].constData();
    EXPECT_EQ(buf.Pending(), c.pending) << c.deliveries[0].constData();
  }
}

TEST(CardLineBuffer, WaitingTextIsCapped) {
  CardLineBuffer buf;
  // A big delivery of whole lines is cut completely.
  QByteArray many;
  for (int i = 0; i < 1000; ++i) many += "HID[01] " + QByteArray::number(i) + "\r";
  auto lines = Cut(buf, {many});
  ASSERT_EQ(lines[0].size(), 1000);
  EXPECT_EQ(lines[0].back(), "HID[01] 999");

  // Without a CR only the newest text is kept.
  QByteArray noCr = QByteArray(3000, 'A') + QByteArray(3000, 'B');
  lines = Cut(buf, {noCr, noCr});
  EXPECT_TRUE(lines[0].isEmpty() && lines[1].isEmpty());
  ASSERT_EQ(buf.Pending().size(), CardLineBuffer::kMaxPending);
  EXPECT_EQ(buf.Pending(), QString(1096, 'A') + QString(3000, 'B'));
  lines = Cut(buf, {"\rHID[01] 5\r"});
  ASSERT_EQ(lines[0].size(), 2);
  EXPECT_EQ(lines[0][1], "HID[01] 5");
}

}  // namespace
