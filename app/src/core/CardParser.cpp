#include "CardParser.h"

#include <climits>

#include "AppUtils.h"

namespace {

// The text routines below count positions from 1 and clamp like the
// classic string functions: a part beyond the text is empty, never an
// access outside it.
QString Copy(const QString& S, int AIndex, int ACount) {
  if (AIndex < 1) {
    ACount += AIndex - 1;
    AIndex = 1;
  }
  if (ACount <= 0 || AIndex > S.size()) return QString();
  return S.mid(AIndex - 1, ACount);
}

// 1-based position of ASub at or after AFrom; 0 when absent.
int Pos(QStringView ASub, const QString& S, int AFrom = 1) {
  if (AFrom < 1) AFrom = 1;
  if (AFrom > S.size()) return 0;
  return static_cast<int>(S.indexOf(ASub, AFrom - 1)) + 1;
}

QString AsciiUpper(QString S) {
  for (QChar& c : S)
    if (c.unicode() >= 'a' && c.unicode() <= 'z') c = QChar(c.unicode() - ('a' - 'A'));
  return S;
}

const QString kDigits = QStringLiteral("0123456789");

// A run of decimal digits as a 32-bit integer; nothing when the run is
// empty, holds anything else or is too large.
std::optional<int32_t> DecimalOf(const QString& ARun) {
  if (ARun.isEmpty()) return std::nullopt;
  int64_t v = 0;
  for (QChar c : ARun) {
    if (c.unicode() < '0' || c.unicode() > '9') return std::nullopt;
    v = v * 10 + (c.unicode() - '0');
    if (v > INT32_MAX) return std::nullopt;
  }
  return static_cast<int32_t>(v);
}

// The hexadecimal pair at APos (1-based) as a byte. A pair cut short by the
// end of the line reads what is there; an empty or non-hexadecimal pair
// throws EConvertError.
uint8_t PairAt(const QString& S, int APos) { return static_cast<uint8_t>(HexToInt(Copy(S, APos, 2))); }

// "[" hex "]": the card number is read from its end, byte 0 last.
ParsedCard ParseExclusive(const QString& S) {
  const int n = (S.size() - 2) / 2;
  ParsedCard card{ovkc_Ex, CardBytes(n)};
  for (int i = 0; i < n; ++i) card.bytes[i] = PairAt(S, S.size() - 2 - 2 * i);
  return card;
}

// "COD433[" pair "]" ... decimal "," decimal.
std::optional<ParsedCard> ParseCod433(const QString& S) {
  const int p = Pos(u"[", S);
  if (p == 0) return std::nullopt;
  ParsedCard card{ovkc_Cod433, CardBytes(5)};
  card.bytes[0] = 1;
  card.bytes[1] = PairAt(S, p + 1);
  const int c = Pos(u",", S, p + 3);
  if (c == 0) return std::nullopt;
  int first = c;
  while (first > 1 && S[first - 2].unicode() >= '0' && S[first - 2].unicode() <= '9') --first;
  const auto facility = DecimalOf(Copy(S, first, c - first));
  if (!facility) return std::nullopt;
  const int end = FindCharNotOf(kDigits, S, c + 1);
  const auto number = DecimalOf(Copy(S, c + 1, (end ? end : S.size() + 1) - c - 1));
  if (!number) return std::nullopt;
  card.bytes[2] = *facility & 0xFF;
  card.bytes[3] = (*number >> 8) & 0xFF;
  card.bytes[4] = *number & 0xFF;
  return card;
}

// The kind of a Mifare line from its markers; ovkc_Unk when it stays open.
// Throws EConvertError when a "(" is followed by no digit.
TovkCardType MifareType(const QString& S, int b) {
  if (S.contains(u"UL")) return ovkc_UL;
  if (S.contains(u"1K")) return ovkc_1K;
  if (S.contains(u"DF")) return ovkc_Df;
  if (S.contains(u"4K")) return ovkc_4K;
  const int p = Pos(u"(", S);
  if (p == 0) return ovkc_Unk;
  const int q = FindCharNotOf(kDigits, S, p + 1);
  if (q == 0) return ovkc_Unk;
  const auto size = DecimalOf(Copy(S, p + 1, q - p - 1));
  if (!size) throw EConvertError("no size after '(' in a Mifare line");
  if (*size == 4) return ovkc_1K;
  // 14 hexadecimal characters (7 bytes) between the brackets: UltraLight.
  if (Pos(u"]", S, b + 1) == b + 15) return ovkc_UL;
  return ovkc_Unk;
}

TovkCardType DefaultType(int ADefCmt) {
  switch (ADefCmt) {
    case kDefCmtMUL:
      return ovkc_UL;
    case kDefCmtM1K:
      return ovkc_1K;
    case kDefCmtHid:
      return ovkc_Hid;
    case kDefCmtEmm:
      return ovkc_Em;
    case kDefCmtIC:
      return ovkc_iCode;
    case kDefCmtEx:
      return ovkc_Ex;
    default:
      return ovkc_Unk;
  }
}

std::optional<ParsedCard> Parse(const QString& S, int ADefCmt) {
  const int L = S.size();
  if (L >= 3 && S.startsWith(u'[') && S.endsWith(u']')) return ParseExclusive(S);
  if (L > 6 && AsciiUpper(S.left(6)) == u"COD433") return ParseCod433(S);

  const int b = Pos(u"[", S);
  if (b < 2) return std::nullopt;
  const QString word = AsciiUpper(S.left(b - 1));
  TovkCardType type = ovkc_Unk;
  if (word == u"DALLAS")
    type = ovkc_DS;
  else if (word == u"MIFARE")
    type = MifareType(S, b);
  else if (word == u"HID")
    type = ovkc_Hid;
  else if (word == u"EM-MARINE")
    type = ovkc_Em;
  else if (word == u"ICODE")
    type = ovkc_iCode;
  if (type == ovkc_Unk) type = DefaultType(ADefCmt);
  if (type == ovkc_Unk) return std::nullopt;

  const int e = Pos(u"]", S, b + 1);
  if (e <= b + 2) return std::nullopt;
  const int n = (e - b - 1) / 2;
  ParsedCard card{type, {}};
  auto pairs = [&](int AFirst) {
    for (int i = AFirst; i < n; ++i) card.bytes.push_back(PairAt(S, b + 1 + 2 * i));
  };
  switch (type) {
    case ovkc_UL:
    case ovkc_1K:
    case ovkc_iCode:
    case ovkc_Df:
    case ovkc_4K:
      pairs(0);
      break;
    case ovkc_DS:
      pairs(1);  // the first pair is not part of the number
      break;
    case ovkc_Hid: {
      pairs(0);
      const int d = FindCharOf(kDigits, S, e);
      if (d == 0) return std::nullopt;
      const int end = FindCharNotOf(kDigits, S, d);
      const auto number = DecimalOf(Copy(S, d, (end ? end : L + 1) - d));
      if (!number) return std::nullopt;
      card.bytes.push_back((*number >> 8) & 0xFF);
      card.bytes.push_back(*number & 0xFF);
      break;
    }
    case ovkc_Em: {
      pairs(0);
      static const QString kSet = QStringLiteral("1234567890.,");
      const int d = FindCharOf(kSet, S, e);
      if (d == 0) return std::nullopt;
      const int end = FindCharNotOf(kSet, S, d);
      const QString run = Copy(S, d, (end ? end : L + 1) - d);
      const int comma = run.indexOf(u',');
      if (comma < 0) return std::nullopt;
      const auto facility = DecimalOf(run.left(comma));
      const auto number = DecimalOf(run.mid(comma + 1));
      if (!facility || !number) return std::nullopt;
      card.bytes.push_back(*facility & 0xFF);
      card.bytes.push_back((*number >> 8) & 0xFF);
      card.bytes.push_back(*number & 0xFF);
      break;
    }
    default:
      // Exclusive by the default choice: no rule reads such a line's bytes.
      return std::nullopt;
  }
  return card;
}

}  // namespace

std::optional<ParsedCard> ParseCardText(const QString& ALine, int ADefCmt) {
  try {
    return Parse(ALine, ADefCmt);
  } catch (const EConvertError&) {
    return std::nullopt;  // a malformed hexadecimal pair or Mifare size
  }
}

bool IsNoCardLine(const QString& ALine) {
  return ALine.left(7).compare(u"No Card", Qt::CaseInsensitive) == 0;
}

void CardLineBuffer::Append(const QByteArray& AData) { m_sBuf += QString::fromLatin1(AData); }

bool CardLineBuffer::TakeLine(QString& ALine) {
  const int cr = m_sBuf.indexOf(u'\r', m_nPos);
  if (cr < 0) {
    // No complete line left: drop what was cut, and the oldest waiting text
    // beyond the cap.
    m_sBuf.remove(0, std::max<qsizetype>(m_nPos, m_sBuf.size() - kMaxPending));
    m_nPos = 0;
    return false;
  }
  int first = m_nPos, last = cr;
  while (first < last && m_sBuf[first] == u'\n') ++first;
  while (last > first && m_sBuf[last - 1] == u'\n') --last;
  ALine = m_sBuf.mid(first, last - first);
  m_nPos = cr + 1;
  if (m_nPos < m_sBuf.size() && m_sBuf[m_nPos] == u'\n') ++m_nPos;
  return true;
}
