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
  // Starts the tray host at APath with AArgs; Ready() tells when it holds
  // the tray.
  explicit TestTray(const std::string& APath, const std::vector<std::string>& AArgs = {});

  bool Ready();
  // The tray's own window, where the icons dock (known once Ready).
  x11test::XWindow Strip() const { return m_strip; }
  // What the keys the tray got while it had the keyboard give, so far.
  const std::string& Typed() const { return m_typed; }
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
  x11test::XWindow m_strip = 0;
  std::vector<DockedIcon> m_icons;
  std::string m_typed;
};

}  // namespace testtools
