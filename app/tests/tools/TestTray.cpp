#include "TestTray.h"

#include <chrono>
#include <sstream>

namespace testtools {

using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Command(const std::string& APath, const std::vector<std::string>& AArgs) {
  std::vector<std::string> argv{APath};
  argv.insert(argv.end(), AArgs.begin(), AArgs.end());
  return argv;
}

}  // namespace

TestTray::TestTray(const std::string& APath, const std::vector<std::string>& AArgs)
    : m_proc(Command(APath, AArgs), CurrentEnvironment(), {.pipeIn = true, .captureOut = true}) {}

bool TestTray::Ready() {
  const auto line = m_proc.ReadLine(kReactMs);
  if (!line || line->rfind("ready ", 0) != 0) return false;
  m_strip = std::stoul(line->substr(6));
  return true;
}

std::optional<int> TestTray::End() {
  m_proc.CloseInput();
  return m_proc.WaitExit(kReactMs);
}

bool TestTray::WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!ACondition()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const auto line = m_proc.ReadLine(int(left));
    if (!line) return ACondition();
    Note(*line);
  }
  return true;
}

std::optional<DockedIcon> TestTray::OnlyIcon(int ATimeoutMs) {
  if (!WaitFor([&] { return m_icons.size() == 1; }, ATimeoutMs)) return std::nullopt;
  return m_icons[0];
}

void TestTray::Note(const std::string& ALine) {
  std::istringstream in(ALine);
  std::string what;
  DockedIcon icon;
  in >> what >> icon.window;
  if (what == "dock") {
    in >> icon.rect.x >> icon.rect.y >> icon.rect.width >> icon.rect.height;
    m_icons.push_back(icon);
  } else if (what == "undock") {
    std::erase_if(m_icons, [&](const DockedIcon& i) { return i.window == icon.window; });
  } else if (what == "key") {
    std::istringstream bytes(ALine.substr(3));
    for (unsigned b = 0; bytes >> std::hex >> b;) m_typed += char(b);
  }
}

}  // namespace testtools
