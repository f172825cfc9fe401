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
    // Ours: a port that fails to open for any other reason than a missing or
    // busy device (on Linux mostly a port the user has no access to).
    {24, "Could not open port: port \"%s\": %s"},
    // Ours: why, when the device is there but this user may not use it.
    {25, "this user may not read and write the device, which belongs to the group \"%s\" (add the user to "
         "that group and log in again)."},
    // Ours: the transfer log or the settings cannot be written (a full disk,
    // a read-only folder), told once in the window's status line.
    {26, "Could not write the transfer log: %s"},
    {27, "Could not save the settings: %s"},
    // Ours: a card's text that could not be typed, shown in place of the
    // window it went to and logged so.
    {28, "[not typed: typing needs an X11 display]"},
    {29, "[not typed: no window to type into]"},
    // Ours: why, for a port name longer than the port library takes.
    {30, "its name is longer than the %d characters a port name may have."},
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
  try {
    *AResult = FormatArgs(AFormat, TVaList(AArgs.begin(), AArgs.end()));
    return true;
  } catch (const EFormatError&) {
    return false;
  }
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
