// The tests' own connection to the X server, for looking at and acting on
// another program's windows from outside, as a user would: which top-level
// windows a process has, waiting for them, whether they are mapped and
// where they stack, the input focus, clicks and keys by XTest, the window
// manager's close request, and the requests a program sends to a window
// manager (there is none under the tests' Xvfb, but the probe can stand in
// for one). X errors about windows that vanish while we look at them are
// ignored (for the whole process). No Xlib in this header.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace x11test {

using XWindow = unsigned long;

struct XRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const XRect&) const = default;
};

class XProbe {
 public:
  // What WaitWindow looks for.
  enum class Kind {
    Main,   // a top-level window for the window manager (not override-redirect)
    Popup,  // an override-redirect window: a menu, a tooltip
  };

  XProbe();  // on $DISPLAY; Ok() tells whether that worked
  ~XProbe();
  XProbe(const XProbe&) = delete;
  XProbe& operator=(const XProbe&) = delete;
  bool Ok() const;

  // The top-level windows (children of the root) that APid owns by its
  // _NET_WM_PID, from the bottom of the stack to the top, with the given
  // window type (the end of _NET_WM_WINDOW_TYPE_..., e.g. "UTILITY",
  // "DIALOG", "POPUP_MENU"; empty for any).
  std::vector<XWindow> WindowsOf(pid_t APid, const std::string& AType = {});
  // The first of those that is mapped (viewable); 0 when none.
  XWindow ViewableWindowOf(pid_t APid, const std::string& AType = {});
  // A pop-up menu of the process on the screen: a viewable window that
  // passes by the window manager (override-redirect) and is no tooltip.
  XWindow MenuOf(pid_t APid);
  // Waits at most ATimeoutMs for a viewable top-level window of process
  // APid of the given kind (a Main window of WM_CLASS class AClass). The
  // window, or 0 on time-out.
  XWindow WaitWindow(pid_t APid, Kind AKind, const std::string& AClass, int ATimeoutMs);
  bool Viewable(XWindow AWindow);
  // The process a window belongs to by its _NET_WM_PID; 0 when unknown.
  pid_t PidOf(XWindow AWindow);
  // The window's title (_NET_WM_NAME, UTF-8); empty when it has none.
  std::string Title(XWindow AWindow);
  // In root coordinates; all zero for a window that is gone.
  XRect Geometry(XWindow AWindow);
  // Where the window stands among the root's children, 0 at the bottom;
  // -1 when it is not one of them.
  int StackPos(XWindow AWindow);
  // The window that has the keyboard focus.
  XWindow Focus();
  // Raises AWindow and gives it the input focus; false when it does not
  // have it within ATimeoutMs.
  bool GiveFocus(XWindow AWindow, int ATimeoutMs);
  // The colour of a pixel of a window, as 0xRRGGBB.
  unsigned Pixel(XWindow AWindow, int AX, int AY);

  // Checks ACondition whenever X events arrive, and every AStepMs between
  // them (never when AStepMs is negative, for what only an event brings
  // about), until it holds or ATimeoutMs have passed.
  bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs = 5000, int AStepMs = 20);

  // Asks a window to close, as a window manager's close button does
  // (WM_DELETE_WINDOW).
  void Close(XWindow AWindow);
  // Moves a top-level window as a user dragging it would have it moved.
  void Move(XWindow AWindow, int AX, int AY);
  // A click (press and release) with a mouse button at a point of the
  // screen; never a double click with the one before (it waits as long as
  // that takes).
  void Click(int AX, int AY, unsigned AButton);
  // The pointer moves to a point of the screen, no button pressed.
  void MovePointer(int AX, int AY);
  // From now on, notes when a client takes the keyboard from AWindow by a
  // grab (as an open menu does), without taking part in it.
  void WatchKeyboardGrab(XWindow AWindow);
  // Whether that happened since (WatchKeyboardGrab begins anew).
  bool KeyboardGrabbedFrom(XWindow AWindow);
  // A key pressed and released, by its keysym name ("Up", "Return").
  void Key(const std::string& AKeysym);
  // A plain window of the test's own, mapped and raised, covering ARect.
  XWindow Cover(const XRect& ARect);
  // Requests meant for a window manager reach only the one client that
  // redirects the root's children. While AOn, the probe is that client: it
  // notes them and grants every map and configure request as asked (during
  // WaitFor and the probe's other calls).
  void StandInForWindowManager(bool AOn);
  // Whether the window asked the window manager to iconify it (the
  // WM_CHANGE_STATE message sent to the root) while the probe stood in.
  bool IconifyRequested(XWindow AWindow);

 private:
  void Drain();

  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace x11test
