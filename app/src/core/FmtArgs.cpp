#include "FmtArgs.h"

#include <algorithm>

namespace {

bool IsDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

// Reads a run of decimal digits at APos, capped at kMaxFmtField.
int ReadField(const QChar* AText, int ALen, int& APos) {
  int v = 0;
  for (; APos < ALen && IsDigit(AText[APos]); ++APos)
    v = std::min(kMaxFmtField, v * 10 + (AText[APos].unicode() - '0'));
  return v;
}

// The digits of AValue in base 10 or 16 (upper case), at least APrec of them.
void AppendDigits(QString& AOut, uint32_t AValue, unsigned ABase, int APrec) {
  char16_t buf[16];
  int n = 0;
  do {
    unsigned d = AValue % ABase;
    buf[n++] = static_cast<char16_t>(d < 10 ? '0' + d : 'A' + d - 10);
    AValue /= ABase;
  } while (AValue != 0);
  for (int i = n; i < APrec; ++i) AOut += u'0';
  while (n > 0) AOut += QChar(buf[--n]);
}

void AppendPadded(QString& AOut, const QString& AField, int AWidth, bool ALeft) {
  const int pad = std::max(0, AWidth - static_cast<int>(AField.size()));
  if (!ALeft) AOut += QString(pad, u' ');
  AOut += AField;
  if (ALeft) AOut += QString(pad, u' ');
}

[[noreturn]] void Fail(const char* AWhat, const QString& AFormat) {
  throw EFormatError(std::string(AWhat) + " in format '" + AFormat.toStdString() + "'");
}

}  // namespace

int CountFmtArgs(const QString& AFormat) {
  int count = 0;
  const int n = AFormat.size();
  for (int i = 0; i < n; ++i) {
    if (AFormat[i] != u'%') continue;
    if (i + 1 < n && AFormat[i + 1] == u'%')
      ++i;
    else
      ++count;
  }
  return count;
}

void InitFmtArgs(TVaList& AArgs, const QString& AFormat) {
  AArgs.assign(CountFmtArgs(AFormat), TFmtArg(int32_t{0}));
}

void SetFmtArgs(TVaList& AArgs, int AIndex, std::initializer_list<TFmtArg> AValues) {
  if (AIndex < 0) return;
  size_t i = AIndex;
  for (auto it = AValues.begin(); it != AValues.end() && i < AArgs.size(); ++it, ++i) AArgs[i] = *it;
}

void ClearFmtArgs(TVaList& AArgs) { AArgs.clear(); }

QString FormatArgs(const QString& AFormat, const TVaList& AArgs) {
  const QChar* p = AFormat.constData();
  const int n = AFormat.size();
  QString out;
  out.reserve(n + 16);
  size_t next = 0;
  QString field;
  int i = 0;
  while (i < n) {
    // Plain text up to the next specifier goes over in one piece.
    int j = i;
    while (j < n && p[j] != u'%') ++j;
    if (j > i) out.append(p + i, j - i);
    if (j >= n) break;
    i = j + 1;
    if (i < n && p[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    bool left = false;
    if (i < n && p[i] == u'-') {
      left = true;
      ++i;
    }
    const int width = ReadField(p, n, i);
    int prec = -1;
    if (i < n && p[i] == u'.') {
      ++i;
      prec = ReadField(p, n, i);
    }
    if (i >= n) Fail("specifier cut off", AFormat);
    char16_t conv = p[i++].unicode();
    if (conv >= 'A' && conv <= 'Z') conv += 'a' - 'A';
    if (conv != 'd' && conv != 'u' && conv != 'x' && conv != 's') Fail("unknown conversion", AFormat);
    if (next >= AArgs.size()) Fail("missing argument", AFormat);
    const TFmtArg& arg = AArgs[next++];
    field.clear();
    if (conv == 's') {
      const QString* s = std::get_if<QString>(&arg);
      if (!s) Fail("integer argument for %s", AFormat);
      field = prec >= 0 ? s->left(prec) : *s;
    } else {
      const int32_t* v = std::get_if<int32_t>(&arg);
      if (!v) Fail("string argument for a number", AFormat);
      uint32_t u = static_cast<uint32_t>(*v);
      if (conv == 'd' && *v < 0) {
        field += u'-';
        u = 0u - u;
      }
      AppendDigits(field, u, conv == 'x' ? 16 : 10, prec);
    }
    AppendPadded(out, field, width, left);
  }
  return out;
}
