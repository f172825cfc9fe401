// The user in front of the X server, for the tests that drive the real
// program from outside: it waits for the program's windows to appear, gives
// the input focus to a window, clicks and presses keys through XTest. One
// connection of its own; no Xlib in this header.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace x11test {

struct WindowRect {
  int x = 0, y = 0, width = 0, height = 0;  // x and y on the root window
};

class XDriver {
 public:
  enum class Kind {
    Main,   // a top-level window for the window manager (not override-redirect)
    Popup,  // an override-redirect window: a menu, a tooltip
  };

  // Opens the connection and starts watching top-level windows being
  // mapped. X errors about windows that vanish while we look at them are
  // ignored (for the whole process).
  XDriver();
  ~XDriver();
  XDriver(const XDriver&) = delete;
  XDriver& operator=(const XDriver&) = delete;

  bool Ok() const;
  // Waits at most ATimeoutMs for a viewable top-level window of process
  // APid of the given kind (a Main window of WM_CLASS class AClass). The
  // window, or 0 on time-out.
  unsigned long WaitWindow(pid_t APid, Kind AKind, const std::string& AClass, int ATimeoutMs);
  WindowRect Geometry(unsigned long AWindow);
  // Gives AWindow the input focus; false when it does not have it within
  // ATimeoutMs.
  bool Focus(unsigned long AWindow, int ATimeoutMs);
  // Moves the pointer to (AX, AY) on the root window and clicks AButton.
  void Click(int AX, int AY, unsigned AButton);
  // Presses and releases the key of AKeysym.
  void PressKey(unsigned long AKeysym);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace x11test
