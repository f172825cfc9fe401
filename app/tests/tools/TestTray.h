// The notification area of the tests (sorvex_trayhost, started as a child),
// and what it reported so far: the icons docked in it and where they are.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "x11/XProbe.h"

namespace testtools {

struct DockedIcon {
  x11test::XWindow window = 0;
  x11test::XRect rect;  // in root coordinates
  int CentreX() const { return rect.x + rect.width / 2; }
  int CentreY() const { return rect.y + rect.height / 2; }
};

class TestTray {
 public:
  // Starts the tray host at APath; Ready() tells when it holds the tray.
  explicit TestTray(const std::string& APath);

  bool Ready();
  // Ends the tray as the tests do: its input closes.
  std::optional<int> End();
  const std::vector<DockedIcon>& Icons() const { return m_icons; }
  // Reads the tray's reports until ACondition holds, at most ATimeoutMs.
  bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs = kReactMs);
  // The one icon docked, once there is exactly one.
  std::optional<DockedIcon> OnlyIcon(int ATimeoutMs = kStartMs);

  // Limits for what normally takes a fraction of a second; a program's
  // start takes longest under the sanitizers.
  static constexpr int kReactMs = 5000;
  static constexpr int kStartMs = 20000;

 private:
  void Note(const std::string& ALine);

  ChildProcess m_proc;
  std::vector<DockedIcon> m_icons;
};

}  // namespace testtools
