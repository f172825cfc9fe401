// The vocabulary of cards and formats: card types as the reader names them,
// the six format classes, and one conversion format. Profiles (lists of
// formats per class, their files) build on these.
#pragma once

#include <QString>

#include <cstdint>

// The card type read from the reader (one byte).
enum TovkCardType : uint8_t {
  ovkc_Unk = 0,     // unknown
  ovkc_UL = 1,      // Mifare UltraLight
  ovkc_1K = 2,      // Mifare 1K
  ovkc_Hid = 3,     // HID
  ovkc_Em = 4,      // Em-Marine
  ovkc_Cod433 = 5,  // 433 MHz code
  ovkc_iCode = 6,   // iCode
  ovkc_Df = 7,      // Mifare DF
  ovkc_4K = 8,      // Mifare 4K
  ovkc_Ex = 9,      // Exclusive: a line of bare hexadecimal bytes in brackets
  ovkc_DS = 10,     // Dallas key
};

// The format class: one tab of the main window, one list in every profile.
enum TCvtFmtType : uint8_t {
  cft_MUL = 0,    // Mifare UltraLight, DESFire and Dallas
  cft_M1K = 1,    // Mifare 1K/4K
  cft_Hid = 2,    // HID
  cft_Emm = 3,    // Em-Marine and 433 MHz code
  cft_iCode = 4,  // iCode
  cft_Ex = 5,     // Exclusive
};
inline constexpr int kCvtFmtTypeCount = 6;

// The class that converts cards of a type; any value outside the table
// converts as Mifare UltraLight.
TCvtFmtType CardTypeToCvtFmtType(TovkCardType AType);
// The class word in files and on the command line: "MUL", "M1K", "HID",
// "EMM", "IC", "EX".
QString CvtFmtTypeName(TCvtFmtType AType);

// One conversion format, owned by the list that holds it.
struct TCvtFmt {
  uint32_t m_nFmtId = 0;  // unique within its class in one profile, 1 or more
  QString m_sName;        // never empty in a loaded profile
  QString m_sHint;        // free description, may hold line breaks
  QString m_sTemplate;    // escapes and format specifiers
  QString m_sReplaces;    // space-separated parameter tokens
};
