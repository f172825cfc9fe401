// The conversion engine: turns a card (its type and bytes) into the text a
// target system expects, following a format's template and parameter string.
//
// The template holds escapes (expanded first) and format specifiers. The
// parameter string holds one token per specifier: a width letter and as many
// index characters as the width has bytes ("b3", "w54", "l012Z"), optionally
// after "~" (reverse the bits) or "^" (invert the bytes), or a keyword ("W26",
// "W26A", "W32", "W32B", "AD1", "CT").
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

#include "FmtArgs.h"
#include "Profiles.h"

// The bytes of one card, byte 0 first.
using CardBytes = std::vector<uint8_t>;

// The byte list of one parameter token: element k says what byte k of the
// token's value is (k = 0 the least significant): a card byte index 0..15 or
// one of the codes below. A keyword token has exactly one element.
using TAParIdxs = std::vector<int32_t>;

enum : int32_t {
  par_Zero = -1,        // "Z": 0x00
  par_CrcX = -2,        // "X": CRC-8 of the card's X block
  par_CrcY = -3,        // "Y": CRC-8 of the card's Y block
  par_Sum0 = -4,        // "T" at index position 0..3 of its token
  par_Sum1 = -5,
  par_Sum2 = -6,
  par_Sum3 = -7,
  par_W26 = -100,       // Wiegand-26 word
  par_AD1 = -101,       // HID bytes 4 and 5, bit-reversed
  par_CrcV = -102,      // "V": CRC-8 of the V block
  par_W26A = -103,      // Wiegand-26 word with facility 1
  par_W32 = -104,       // 32-bit Wiegand word
  par_W32B = -105,      // 32-bit value shifted left by one
  par_CardType = -200,  // the card type name, as a string
};

// Results of the token reader. 0 and 1 are not errors.
enum : int {
  kParTokenRead = 0,   // a token was read
  kParTokensEnd = 1,   // no more tokens
  perr_Specifier = 2,  // not a width letter (or a modifier with nothing after it)
  perr_ByteCount = 3,  // the number of index characters does not fit the width
  perr_MaxIndex = 4,   // a card index not below the card's byte count
};

// Modifiers of a token.
enum : int { kParModNone = 0, kParModReverse = 1, kParModInvert = 2 };

// The system's beep, sounded by "\a" in a template.
class ISystemBeep {
 public:
  virtual ~ISystemBeep() = default;
  virtual void Beep() = 0;
};

// The name shown for a card type and given by "CT"; empty for unknown and
// 433 MHz cards.
QString GetCardTypeName(TovkCardType ACardType);

// A parameter string as the token reader reads it: ASCII upper case, without
// blanks and control characters at either end. Letters are upper-cased one
// for one, so positions in it are positions in what the user typed, shifted
// only by the leading blanks cut off.
QString PrepareReplaces(const QString& AText);

// Bytes of a width letter: B and C 1, S and W 2, D, I and L 4; 0 for any
// other character.
int ParWidthOf(QChar ch);

// Reads one token of the prepared text AText from APos (1-based) and leaves
// APos after it; on an error APos is where the error was found.
int NextParToken(const QString& AText, int AByteCount, int& APos, TAParIdxs* AIdxs = nullptr,
                 int* AModifier = nullptr);
// Reads the whole parameter string. 0 with the number of tokens in ACount,
// or the first error with its 1-based position (in the prepared text) in APos.
int CheckReplaces(const QString& AText, int AByteCount, int* APos = nullptr, int* ACount = nullptr);
// The number of "%" characters of a template (each of a "%%" pair counts);
// always true. The format editor compares it with the token count.
bool CheckTemplate(const QString& ATemplate, int* ACount = nullptr);

// Dallas 1-Wire CRC-8 of a 7-byte block fed from B[6] down to B[0].
uint8_t CalcCrc8(const std::array<uint8_t, 7>& B);
// Wiegand-26 of bytes 2, 3, 4 of ABytes (byte 2 most significant).
uint32_t CalcWiegand26(const CardBytes& ABytes);
// Wiegand-32 of bytes 0..3 (byte 0 least significant).
uint32_t CalcWiegand32(const CardBytes& ABytes);
// Bytes 0..3 (byte 0 least significant) shifted left by one.
uint32_t CalcW32B(const CardBytes& ABytes);
// Bytes 4 and 5 as a 16-bit number (byte 4 high) with its bits reversed.
uint32_t CalcAD1(const CardBytes& ABytes);
// Octal digits of AValue (none for 0) padded with "0" to AWidth.
QString IntToOctStr(uint32_t AValue, int AWidth);
// The 14-digit SY code of bytes 0..4.
QString SyCode(const CardBytes& ABytes);

// The template with its escapes expanded; "\a" sounds ABeep (when given).
QString ExpandEscapes(const QString& ATemplate, const CardBytes& ABytes, ISystemBeep* ABeep);

// The argument one token gives on a card: the card type name for "CT" (when
// the type has one), else the 32-bit value built from the token's elements,
// with the modifier applied. Card bytes a card does not have read as 0x00.
TFmtArg ParTokenValue(const TAParIdxs& AIdxs, int AModifier, TovkCardType ACardType,
                      const CardBytes& ABytes);

// The whole conversion up to the text to deliver: escapes, the parameter
// check, one argument per specifier, the formatter. Returns 0 with the text
// in AText, or a parameter error (2..4) with its position in AErrPos. Throws
// EFormatError when the formatter rejects the template.
int CardToText(const QString& ATemplate, const QString& AReplaces, TovkCardType ACardType,
               const CardBytes& ABytes, ISystemBeep* ABeep, QString& AText, int& AErrPos);
