#include "AppMessages.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

namespace {

struct BuiltinMsg {
  int n;
  const char* text;
};

// The built-in texts, byte for byte as the program has always shown them.
constexpr BuiltinMsg kBuiltin[] = {
    {1, "Failed to open profile \"%s\"."},
    {3, "[Error: syntax parameters (position %d)]"},
    {4, "Syntax error parameters: the number of incorrect specifier (position %d)"},
    {5, "Syntax error parameters: Not true number of bytes in number (position %d)"},
    {6, "Syntax error parameters: number of bytes more than the maximum (position %d)"},
    {8, "Incorrect parameters: the number of parameters in the line pattern not match the number "
        "of parameters in the \"Parameters\"."},
    {9, "Could not start Help."},
    {10, "Could not open port: port \"%s\" does not exist."},
    {11, "Could not open port: port \"%s\" occupied by another program."},
    {12, "Failed to delete profile %s."},
    {13, "Failed to create a profile file %s."},
    {14, "Profile \"%s\" already exists. Replace?"},
    {15, "Delete profile \"%s\"?"},
    {16, "Failed to create a format."},
    {17, "Unable to change the format."},
    {18, "Unable to remove the format \"%s\"."},
    {19, "%s (standard)"},
    {20, "%s (custom)"},
    {21, "[format is not set]"},
    {22, "Enable"},
    {23, "Disable"},
};

// The installed translations. Messages are shown on the GUI thread, but the
// lookup is cheap enough to guard, so a message fetched elsewhere never sees
// a table half replaced.
std::mutex g_lock;
const void* g_owner = nullptr;
std::map<int, QString> g_texts;

std::optional<QString> TranslatedMsg(int N) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (const auto it = g_texts.find(N); it != g_texts.end()) return it->second;
  return std::nullopt;
}

QString Pad(const QString& AText, int AWidth, bool ALeft) {
  if (AText.size() >= AWidth) return AText;
  const QString fill(AWidth - AText.size(), u' ');
  return ALeft ? AText + fill : fill + AText;
}

// Reads a run of decimal digits at APos; -1 when there is none. Runs too long
// to be a sensible width are refused rather than overflowing.
int ReadCount(const QString& AFormat, qsizetype& APos) {
  int v = -1;
  while (APos < AFormat.size() && AFormat[APos] >= u'0' && AFormat[APos] <= u'9') {
    v = (v < 0 ? 0 : v * 10) + (AFormat[APos].unicode() - u'0');
    if (v > 9999) return -2;
    ++APos;
  }
  return v;
}

}  // namespace

const std::vector<int>& AppMsgNumbers() {
  static const std::vector<int> numbers = [] {
    std::vector<int> v;
    for (const BuiltinMsg& m : kBuiltin) v.push_back(m.n);
    return v;
  }();
  return numbers;
}

bool IsAppMsgNumber(int N) {
  return std::any_of(std::begin(kBuiltin), std::end(kBuiltin), [N](const BuiltinMsg& m) { return m.n == N; });
}

QString BuiltinAppMsg(int N) {
  for (const BuiltinMsg& m : kBuiltin)
    if (m.n == N) return QString::fromUtf8(m.text);
  return QString();
}

QString AppMsg(int N) {
  if (std::optional<QString> t = TranslatedMsg(N)) return *t;
  return BuiltinAppMsg(N);
}

QString FormatAppMsg(int N, const QList<TMsgArg>& AArgs) {
  QString result;
  if (std::optional<QString> t = TranslatedMsg(N); t && FormatMsgText(*t, AArgs, &result)) return result;
  const QString builtin = BuiltinAppMsg(N);
  // The program's own call does not fit its own text: show the text rather
  // than nothing.
  return FormatMsgText(builtin, AArgs, &result) ? result : builtin;
}

bool FormatMsgText(const QString& AFormat, const QList<TMsgArg>& AArgs, QString* AResult) {
  QString out;
  qsizetype argIndex = 0;
  qsizetype i = 0;
  const qsizetype n = AFormat.size();
  while (i < n) {
    const QChar c = AFormat[i++];
    if (c != u'%') {
      out += c;
      continue;
    }
    if (i < n && AFormat[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    const bool left = i < n && AFormat[i] == u'-';
    if (left) ++i;
    const int width = ReadCount(AFormat, i);
    int prec = -1;
    if (i < n && AFormat[i] == u'.') {
      ++i;
      prec = ReadCount(AFormat, i);
      if (prec == -1) prec = 0;
    }
    if (width == -2 || prec == -2 || i >= n) return false;
    const char16_t kind = AFormat[i++].toLower().unicode();
    if (argIndex >= AArgs.size()) return false;
    const TMsgArg& arg = AArgs[argIndex++];
    QString field;
    if (kind == u's') {
      const QString* s = std::get_if<QString>(&arg);
      if (!s) return false;
      field = prec >= 0 ? s->left(prec) : *s;
    } else if (kind == u'd' || kind == u'u' || kind == u'x') {
      const int64_t* v = std::get_if<int64_t>(&arg);
      if (!v) return false;
      bool negative = false;
      QString digits;
      if (kind == u'd') {
        negative = *v < 0;
        digits = QString::number(negative ? 0 - static_cast<uint64_t>(*v) : static_cast<uint64_t>(*v));
      } else {
        // A negative 32-bit value shows as the unsigned value of its bits,
        // as the messages' numbers always have.
        const uint64_t u = *v < 0 && *v >= INT32_MIN ? static_cast<uint32_t>(*v) : static_cast<uint64_t>(*v);
        digits = kind == u'u' ? QString::number(u) : QString::number(u, 16).toUpper();
      }
      if (prec > digits.size()) digits = QString(prec - digits.size(), u'0') + digits;
      field = negative ? u'-' + digits : digits;
    } else {
      return false;
    }
    out += Pad(field, width, left);
  }
  *AResult = out;
  return true;
}

void InstallAppMsgTable(const void* AOwner, std::map<int, QString> ATexts) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_owner = AOwner;
  g_texts = std::move(ATexts);
}

void RemoveAppMsgTable(const void* AOwner) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_owner != AOwner) return;
  g_owner = nullptr;
  g_texts.clear();
}
