#include "CardEngine.h"

#include <algorithm>
#include <bit>

namespace {

// A card byte, or 0x00 for a byte the card does not have: short cards reach
// the fixed-byte values (CRC blocks, Wiegand words, SY) too.
inline uint8_t At(const CardBytes& B, size_t i) { return i < B.size() ? B[i] : 0; }

inline bool IsAsciiDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

int HexDigitValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  return -1;
}

bool IsIndexChar(QChar c) {
  const char16_t u = c.unicode();
  return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || u == 'Z' || u == 'X' || u == 'Y' ||
         u == 'T' || u == 'V';
}

uint32_t ReverseBits(uint32_t AValue, int ABits) {
  uint32_t r = 0;
  for (int j = 0; j < ABits; ++j)
    if (AValue & (1u << j)) r |= 1u << (ABits - 1 - j);
  return r;
}

int OnesIn(uint32_t AValue) { return std::popcount(AValue); }

bool IsMifare1K(TovkCardType t) { return t == ovkc_1K || t == ovkc_4K; }
bool IsEmMarine(TovkCardType t) { return t == ovkc_Em || t == ovkc_Cod433; }

// The CRC blocks per card type; types without one give 0x00.
uint8_t CrcX(TovkCardType t, const CardBytes& b) {
  switch (t) {
    case ovkc_UL:
    case ovkc_DS:
      return CalcCrc8({At(b, 0), At(b, 1), At(b, 2), At(b, 3), At(b, 4), At(b, 5), At(b, 6)});
    case ovkc_1K:
    case ovkc_4K:
      return CalcCrc8({0, 0, At(b, 3), At(b, 2), At(b, 1), At(b, 0), 1});
    case ovkc_Hid:
      return CalcCrc8({At(b, 0), At(b, 1), At(b, 2), At(b, 3), At(b, 4), At(b, 5), 1});
    case ovkc_Em:
    case ovkc_Cod433:
      return CalcCrc8({0, At(b, 0), At(b, 1), At(b, 2), At(b, 3), At(b, 4), 1});
    default:
      return 0;
  }
}

uint8_t CrcY(TovkCardType t, const CardBytes& b) {
  if (IsMifare1K(t)) return CalcCrc8({0, 0, 0, At(b, 2), At(b, 1), At(b, 0), 1});
  if (t == ovkc_Hid) return CalcCrc8({0, 0, 0, At(b, 3), At(b, 4), At(b, 5), 1});
  if (IsEmMarine(t)) return CalcCrc8({0, 0, 0, At(b, 2), At(b, 3), At(b, 4), 1});
  return 0;
}

uint8_t CrcV(TovkCardType t, const CardBytes& b) {
  if (!IsEmMarine(t)) return 0;
  return CalcCrc8({0, 0, 0, uint8_t(At(b, 2) ^ 0xFF), uint8_t(At(b, 3) ^ 0xFF), uint8_t(At(b, 4) ^ 0xFF), 1});
}

// The sum bytes of Em-Marine and 433 MHz cards: b0 + b4 and its carry.
uint8_t SumByte(TovkCardType t, const CardBytes& b, int APosition) {
  if (!IsEmMarine(t)) return 0;
  const unsigned sum = At(b, 0) + At(b, 4);
  if (APosition == 0) return sum & 0xFF;
  if (APosition == 1) return sum >> 8;
  return 0;
}

uint32_t KeywordValue(int32_t ACode, TovkCardType t, const CardBytes& b) {
  switch (ACode) {
    case par_W26:
      if (IsMifare1K(t)) return CalcWiegand26({0, 0, At(b, 2), At(b, 1), At(b, 0)});
      if (t == ovkc_Em) return CalcWiegand26(b);
      return 0;
    case par_W26A:
      return IsMifare1K(t) ? CalcWiegand26({0, 0, 1, At(b, 1), At(b, 0)}) : 0;
    case par_W32:
      return IsMifare1K(t) ? CalcWiegand32(b) : 0;
    case par_W32B:
      return IsMifare1K(t) ? CalcW32B(b) : 0;
    case par_AD1:
      return t == ovkc_Hid ? CalcAD1(b) : 0;
    default:
      return 0;
  }
}

uint32_t Word32(const CardBytes& b) {
  return At(b, 0) | At(b, 1) << 8 | At(b, 2) << 16 | uint32_t(At(b, 3)) << 24;
}

}  // namespace

QString GetCardTypeName(TovkCardType ACardType) {
  switch (ACardType) {
    case ovkc_UL:
      return QStringLiteral("Mifare UltraLight");
    case ovkc_1K:
      return QStringLiteral("Mifare 1K");
    case ovkc_Hid:
      return QStringLiteral("HID");
    case ovkc_Em:
      return QStringLiteral("Em-Marine");
    case ovkc_iCode:
      return QStringLiteral("iCode");
    case ovkc_Df:
      return QStringLiteral("Mifare DF");
    case ovkc_4K:
      return QStringLiteral("Mifare 4K");
    case ovkc_Ex:
      return QStringLiteral("Exclusive");
    case ovkc_DS:
      return QStringLiteral("Dallas");
    default:
      return QString();
  }
}

QString PrepareReplaces(const QString& AText) {
  int first = 0, last = AText.size();
  while (first < last && AText[first].unicode() <= ' ') ++first;
  while (last > first && AText[last - 1].unicode() <= ' ') --last;
  QString t = AText.mid(first, last - first);
  for (QChar& c : t)
    if (c.unicode() >= 'a' && c.unicode() <= 'z') c = QChar(c.unicode() - ('a' - 'A'));
  return t;
}

int ParWidthOf(QChar ch) {
  switch (ch.unicode()) {
    case 'B':
    case 'C':
      return 1;
    case 'S':
    case 'W':
      return 2;
    case 'D':
    case 'I':
    case 'L':
      return 4;
    default:
      return 0;
  }
}

int NextParToken(const QString& AText, int AByteCount, int& APos, TAParIdxs* AIdxs, int* AModifier) {
  const int L = AText.size();
  auto at = [&](int p) { return AText[p - 1]; };  // 1-based, p in 1..L
  if (L == 0 || APos > L) return kParTokensEnd;
  if (APos < 1) APos = 1;
  // One blank between tokens is passed over here; a second one is what
  // keeps a following keyword from being recognised.
  if (at(APos) == u' ') ++APos;
  int f = APos;
  while (f <= L && at(f) == u' ') ++f;
  if (f > L) return kParTokensEnd;

  // Keywords, at APos (not at f). "CT" only as the last two characters.
  const QStringView K = QStringView(AText).mid(APos - 1, 4);
  int32_t keyword = 0;
  int skip = 4;
  if (K == u"CT") {
    keyword = par_CardType;
    skip = 2;
  } else if (K == u"W26A") {
    keyword = par_W26A;
  } else if (K == u"W32B") {
    keyword = par_W32B;
  } else if (K == u"W26 " || K == u"W26") {
    keyword = par_W26;
  } else if (K == u"W32 " || K == u"W32") {
    keyword = par_W32;
  } else if (K == u"AD1 " || K == u"AD1") {
    keyword = par_AD1;
  }
  if (keyword) {
    APos += skip;
    if (AIdxs) AIdxs->assign(1, keyword);
    return kParTokenRead;
  }

  int modifier = kParModNone;
  if (at(f) == u'~')
    modifier = kParModReverse;
  else if (at(f) == u'^')
    modifier = kParModInvert;
  if (modifier != kParModNone) {
    if (f == L) return perr_Specifier;
    ++f;
  }
  APos = f;
  const int n = ParWidthOf(at(APos));
  if (n == 0) return perr_Specifier;
  if (AModifier) *AModifier = modifier;
  if (AIdxs) AIdxs->assign(n, 0);
  ++APos;
  int run = APos;
  while (run <= L && IsIndexChar(at(run))) ++run;
  if (run - APos != n) return perr_ByteCount;
  for (int k = 0; k < n; ++k, ++APos) {
    int32_t code;
    switch (at(APos).unicode()) {
      case 'Z':
        code = par_Zero;
        break;
      case 'X':
        code = par_CrcX;
        break;
      case 'Y':
        code = par_CrcY;
        break;
      case 'T':
        code = par_Sum0 - k;
        break;
      case 'V':
        code = par_CrcV;
        break;
      default:
        code = HexDigitValue(at(APos));
        if (code >= AByteCount) return perr_MaxIndex;
    }
    if (AIdxs) (*AIdxs)[k] = code;
  }
  return kParTokenRead;
}

int CheckReplaces(const QString& AText, int AByteCount, int* APos, int* ACount) {
  const QString T = PrepareReplaces(AText);
  int pos = 1, count = 0;
  for (;;) {
    const int r = NextParToken(T, AByteCount, pos);
    if (r == kParTokensEnd) {
      if (ACount) *ACount = count;
      return 0;
    }
    if (r != kParTokenRead) {
      if (APos) *APos = pos;
      return r;
    }
    ++count;
  }
}

bool CheckTemplate(const QString& ATemplate, int* ACount) {
  if (ACount) *ACount = ATemplate.count(u'%');
  return true;
}

uint8_t CalcCrc8(const std::array<uint8_t, 7>& B) {
  uint8_t crc = 0;
  for (int i = 6; i >= 0; --i) {
    uint8_t byte = B[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = (crc ^ byte) & 1;
      crc >>= 1;
      if (mix) crc ^= 0x8C;
      byte >>= 1;
    }
  }
  return crc;
}

uint32_t CalcWiegand26(const CardBytes& ABytes) {
  uint32_t v = (At(ABytes, 2) << 16 | At(ABytes, 3) << 8 | At(ABytes, 4)) << 1;
  if (OnesIn(v & 0x00001FFEu) % 2 == 0) v |= 1u;        // odd parity over bits 1..12
  if (OnesIn(v & 0x01FFE000u) % 2 == 1) v |= 1u << 25;  // even parity over bits 13..24
  return v;
}

uint32_t CalcWiegand32(const CardBytes& ABytes) {
  uint32_t v = Word32(ABytes) << 1;
  if (OnesIn(v & 0x0000FFFEu) % 2 == 0) v |= 1u;
  if (OnesIn(v & 0x7FFF0000u) % 2 == 1)
    v |= 1u << 31;
  else
    v &= ~(1u << 31);
  return v;
}

uint32_t CalcW32B(const CardBytes& ABytes) { return Word32(ABytes) << 1; }

uint32_t CalcAD1(const CardBytes& ABytes) { return ReverseBits(At(ABytes, 4) << 8 | At(ABytes, 5), 16); }

QString IntToOctStr(uint32_t AValue, int AWidth) {
  QString digits;
  for (; AValue != 0; AValue >>= 3) digits.prepend(QChar(u'0' + (AValue & 7)));
  if (digits.size() < AWidth) digits.prepend(QString(AWidth - digits.size(), u'0'));
  return digits;
}

QString SyCode(const CardBytes& ABytes) {
  const uint32_t high = At(ABytes, 2) << 16 | At(ABytes, 3) << 8 | At(ABytes, 4);
  const uint32_t low = At(ABytes, 0) << 8 | At(ABytes, 1);
  QString h = IntToOctStr(high, 8), l = IntToOctStr(low, 6);
  std::reverse(h.begin(), h.end());
  std::reverse(l.begin(), l.end());
  return h + l;
}

QString ExpandEscapes(const QString& ATemplate, const CardBytes& ABytes, ISystemBeep* ABeep) {
  const int n = ATemplate.size();
  const QChar* t = ATemplate.constData();
  QString out;
  out.reserve(n);
  int i = 0;
  while (i < n) {
    // A backslash as the last character is kept as it is.
    if (t[i] != u'\\' || i == n - 1) {
      out += t[i++];
      continue;
    }
    const char16_t e = t[i + 1].unicode();
    i += 2;
    switch (e) {
      case '"':
      case '\'':
      case '\\':
        out += QChar(e);
        break;
      case '#': {
        int v = 0, k = 0;
        for (; k < 3 && i < n && IsAsciiDigit(t[i]); ++k, ++i) v = v * 10 + (t[i].unicode() - '0');
        if (k == 0)
          out += u"\\#";
        else
          out += QChar(char16_t(v));
        break;
      }
      case '$': {
        int v = 0, k = 0;
        for (; k < 2 && i < n && HexDigitValue(t[i]) >= 0; ++k, ++i) v = v * 16 + HexDigitValue(t[i]);
        if (k == 0)
          out += u"\\$";
        else
          out += QChar(char16_t(v));
        break;
      }
      case '0':
        out += QChar(u'\0');
        break;
      case 'a':
        if (ABeep) ABeep->Beep();
        break;
      case 'b':
        out += QChar(u'\b');
        break;
      case 't':
        out += QChar(u'\t');
        break;
      case 'n':
      case 'f':
      case 'v':
        out += QChar(u'\n');
        break;
      case 'r':
        out += QChar(u'\r');
        break;
      case '-': {
        // Only the run "SY" (any case) is consumed; any other run stays as
        // ordinary text and only the backslash and the "-" vanish.
        int j = i;
        while (j < n && t[j].isLetterOrNumber()) ++j;
        if (j - i == 2 && (t[i] == u's' || t[i] == u'S') && (t[i + 1] == u'y' || t[i + 1] == u'Y')) {
          out += SyCode(ABytes);
          i = j;
        }
        break;
      }
      default:
        break;  // an unknown escape vanishes with its backslash
    }
  }
  return out;
}

TFmtArg ParTokenValue(const TAParIdxs& AIdxs, int AModifier, TovkCardType ACardType, const CardBytes& ABytes) {
  uint32_t v = 0;
  const int n = static_cast<int>(AIdxs.size());
  for (int k = 0; k < n && k < 4; ++k) {
    const int32_t code = AIdxs[k];
    uint8_t byte = 0;
    if (code >= 0) {
      byte = At(ABytes, code);
    } else {
      switch (code) {
        case par_Zero:
          break;
        case par_CrcX:
          byte = CrcX(ACardType, ABytes);
          break;
        case par_CrcY:
          byte = CrcY(ACardType, ABytes);
          break;
        case par_CrcV:
          byte = CrcV(ACardType, ABytes);
          break;
        case par_Sum0:
        case par_Sum1:
        case par_Sum2:
        case par_Sum3:
          byte = SumByte(ACardType, ABytes, par_Sum0 - code);
          break;
        case par_CardType: {
          QString name = GetCardTypeName(ACardType);
          if (!name.isEmpty()) return name;
          return int32_t{0};
        }
        default:
          // A keyword sets the whole word.
          v = KeywordValue(code, ACardType, ABytes);
          continue;
      }
    }
    v |= uint32_t(byte) << (8 * k);
  }
  if (AModifier == kParModReverse) {
    const int bits = 8 * std::min(n, 4);
    const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    v = (v & ~mask) | ReverseBits(v & mask, bits);
  } else if (AModifier == kParModInvert) {
    for (int k = 0; k < n && k < 4; ++k) v ^= 0xFFu << (8 * k);
  }
  return static_cast<int32_t>(v);
}

int CardToText(const QString& ATemplate, const QString& AReplaces, TovkCardType ACardType,
               const CardBytes& ABytes, ISystemBeep* ABeep, QString& AText, int& AErrPos) {
  const QString F = ExpandEscapes(ATemplate, ABytes, ABeep);
  const QString P = PrepareReplaces(AReplaces);
  const int byteCount = static_cast<int>(ABytes.size());
  if (int err = CheckReplaces(P, byteCount, &AErrPos)) return err;

  TVaList args;
  InitFmtArgs(args, F);
  // Extra tokens were checked above and stay unused; once the tokens run
  // out the remaining arguments keep the integer 0.
  int pos = 1;
  TAParIdxs idxs;
  for (size_t i = 0; i < args.size(); ++i) {
    int modifier = kParModNone;
    if (NextParToken(P, byteCount, pos, &idxs, &modifier) != kParTokenRead) break;
    SetFmtArgs(args, static_cast<int>(i), {ParTokenValue(idxs, modifier, ACardType, ABytes)});
  }
  AText = FormatArgs(F, args);
  return 0;
}
