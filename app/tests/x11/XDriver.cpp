#include "XDriver.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace x11test {

namespace {

using Clock = std::chrono::steady_clock;

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

int MsLeft(Clock::time_point AEnd) {
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(AEnd - Clock::now()).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

// The 32-bit items of a window property, empty when it has none.
std::vector<unsigned long> Property32(Display* ADpy, Window AWindow, Atom AProperty) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> items;
  if (XGetWindowProperty(ADpy, AWindow, AProperty, 0, 64, False, AnyPropertyType, &type, &format, &count,
                         &after, &data) == Success &&
      data && format == 32) {
    const auto* values = reinterpret_cast<const unsigned long*>(data);  // Xlib widens to long
    items.assign(values, values + count);
  }
  if (data) XFree(data);
  return items;
}

}  // namespace

struct XDriver::Impl {
  Display* dpy = nullptr;
  Window root = 0;
  Atom pid = 0;

  bool Matches(Window AWindow, pid_t APid, Kind AKind, const std::string& AClass) {
    XWindowAttributes attrs{};
    if (!XGetWindowAttributes(dpy, AWindow, &attrs) || attrs.map_state != IsViewable) return false;
    const std::vector<unsigned long> owner = Property32(dpy, AWindow, pid);
    if (owner.empty() || owner[0] != static_cast<unsigned long>(APid)) return false;
    if (AKind == Kind::Popup) return attrs.override_redirect;
    if (attrs.override_redirect) return false;
    XClassHint hint{};
    if (!XGetClassHint(dpy, AWindow, &hint)) return false;
    const bool same = hint.res_class && AClass == hint.res_class;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return same;
  }
};

XDriver::XDriver() : m_impl(std::make_unique<Impl>()) {
  XSetErrorHandler(IgnoreErrors);
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return;
  m_impl->dpy = dpy;
  m_impl->root = DefaultRootWindow(dpy);
  m_impl->pid = XInternAtom(dpy, "_NET_WM_PID", False);
  XSelectInput(dpy, m_impl->root, SubstructureNotifyMask);
  XSync(dpy, False);
}

XDriver::~XDriver() {
  if (m_impl->dpy) XCloseDisplay(m_impl->dpy);
}

bool XDriver::Ok() const { return m_impl->dpy != nullptr; }

unsigned long XDriver::WaitWindow(pid_t APid, Kind AKind, const std::string& AClass, int ATimeoutMs) {
  Display* dpy = m_impl->dpy;
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  // Windows mapped before now are in the tree; later ones are announced.
  Window rootOut = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(dpy, m_impl->root, &rootOut, &parent, &children, &count)) {
    for (unsigned i = count; i-- > 0 && !found;)
      if (m_impl->Matches(children[i], APid, AKind, AClass)) found = children[i];
    if (children) XFree(children);
  }
  while (!found) {
    while (!found && XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == MapNotify && m_impl->Matches(ev.xmap.window, APid, AKind, AClass)) found = ev.xmap.window;
    }
    if (found) break;
    const int left = MsLeft(end);
    if (left == 0) break;
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    poll(&p, 1, left);
  }
  return found;
}

WindowRect XDriver::Geometry(unsigned long AWindow) {
  WindowRect rect;
  XWindowAttributes attrs{};
  Window child = 0;
  if (!XGetWindowAttributes(m_impl->dpy, AWindow, &attrs)) return rect;
  XTranslateCoordinates(m_impl->dpy, AWindow, m_impl->root, 0, 0, &rect.x, &rect.y, &child);
  rect.width = attrs.width;
  rect.height = attrs.height;
  return rect;
}

bool XDriver::Focus(unsigned long AWindow, int ATimeoutMs) {
  Display* dpy = m_impl->dpy;
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    XRaiseWindow(dpy, AWindow);
    XSetInputFocus(dpy, AWindow, RevertToPointerRoot, CurrentTime);
    XSync(dpy, False);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy, &focus, &revert);
    if (focus == AWindow) return true;
    // Not viewable yet: the server refused the focus.
    if (MsLeft(end) == 0) return false;
    usleep(10 * 1000);
  }
}

void XDriver::Click(int AX, int AY, unsigned AButton) {
  Display* dpy = m_impl->dpy;
  XTestFakeMotionEvent(dpy, -1, AX, AY, CurrentTime);
  XTestFakeButtonEvent(dpy, AButton, True, CurrentTime);
  XTestFakeButtonEvent(dpy, AButton, False, CurrentTime);
  XSync(dpy, False);
}

void XDriver::PressKey(unsigned long AKeysym) {
  Display* dpy = m_impl->dpy;
  const KeyCode code = XKeysymToKeycode(dpy, AKeysym);
  XTestFakeKeyEvent(dpy, code, True, CurrentTime);
  XTestFakeKeyEvent(dpy, code, False, CurrentTime);
  XSync(dpy, False);
}

}  // namespace x11test
