#include "XProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

namespace x11test {

namespace {

int IgnoreErrors(Display*, XErrorEvent*) {
  // The windows looked at belong to other programs and may go at any time.
  return 0;
}

// IconicState of WM_CHANGE_STATE.
constexpr long kIconic = 3;

// Longer than the double-click time of the usual toolkits (400 ms).
constexpr std::chrono::milliseconds kDoubleClickTime{500};

}  // namespace

struct XProbe::Impl {
  Display* dpy = nullptr;
  Window root = 0;
  std::vector<Window> own;
  std::set<Window> iconifyRequests;
  std::set<Window> grabbedFrom;
  unsigned lastButton = 0;  // of the last click, and when it was done
  std::chrono::steady_clock::time_point lastClick;
  Atom A(const char* AName) { return XInternAtom(dpy, AName, False); }

  // The root's children, from the bottom of the stack to the top.
  std::vector<Window> TopLevels() {
    Window rootOut = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> windows;
    if (!XQueryTree(dpy, root, &rootOut, &parent, &children, &count)) return windows;
    if (children) {
      windows.assign(children, children + count);
      XFree(children);
    }
    return windows;
  }

  bool Cardinal(Window AWindow, Atom AProp, unsigned long& AValue) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(dpy, AWindow, AProp, 0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
      if (format == 32 && count == 1) {
        AValue = reinterpret_cast<unsigned long*>(data)[0];
        found = true;
      }
      XFree(data);
    }
    return found;
  }

  // The first atom of a list property (a window type may list several;
  // the first is the one meant); 0 when there is none.
  Atom FirstAtom(Window AWindow, Atom AProp) {
    Atom type = 0, first = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, AWindow, AProp, 0, 1, False, XA_ATOM, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
      if (format == 32 && count >= 1) first = reinterpret_cast<Atom*>(data)[0];
      XFree(data);
    }
    return first;
  }

  // A viewable window of APid of the kind WaitWindow looks for.
  bool Matches(Window AWindow, pid_t APid, Kind AKind, const std::string& AClass) {
    XWindowAttributes attrs{};
    if (!XGetWindowAttributes(dpy, AWindow, &attrs) || attrs.map_state != IsViewable) return false;
    unsigned long owner = 0;
    if (!Cardinal(AWindow, A("_NET_WM_PID"), owner) || owner != static_cast<unsigned long>(APid)) return false;
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

XProbe::XProbe() : m_impl(std::make_unique<Impl>()) {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return;
  XSetErrorHandler(IgnoreErrors);
  m_impl->dpy = dpy;
  m_impl->root = DefaultRootWindow(dpy);
  // Maps, unmaps and restacking of top-level windows, and the requests
  // clients send to the (absent) window manager, all come to the root.
  XSelectInput(dpy, m_impl->root, SubstructureNotifyMask);
  XSync(dpy, False);
}

XProbe::~XProbe() {
  if (!m_impl->dpy) return;
  for (Window w : m_impl->own) XDestroyWindow(m_impl->dpy, w);
  XCloseDisplay(m_impl->dpy);
}

bool XProbe::Ok() const { return m_impl->dpy != nullptr; }

std::vector<XWindow> XProbe::WindowsOf(pid_t APid, const std::string& AType) {
  std::vector<XWindow> found;
  const Atom pidAtom = m_impl->A("_NET_WM_PID");
  const Atom typeAtom = m_impl->A("_NET_WM_WINDOW_TYPE");
  const Atom wanted = AType.empty() ? 0 : m_impl->A(("_NET_WM_WINDOW_TYPE_" + AType).c_str());
  for (Window w : m_impl->TopLevels()) {
    unsigned long pid = 0;
    if (!m_impl->Cardinal(w, pidAtom, pid) || pid != static_cast<unsigned long>(APid)) continue;
    if (wanted && m_impl->FirstAtom(w, typeAtom) != wanted) continue;
    found.push_back(w);
  }
  return found;
}

XWindow XProbe::ViewableWindowOf(pid_t APid, const std::string& AType) {
  for (XWindow w : WindowsOf(APid, AType))
    if (Viewable(w)) return w;
  return 0;
}

XWindow XProbe::MenuOf(pid_t APid) {
  const Atom tooltip = m_impl->A("_NET_WM_WINDOW_TYPE_TOOLTIP");
  const Atom typeAtom = m_impl->A("_NET_WM_WINDOW_TYPE");
  for (XWindow w : WindowsOf(APid)) {
    XWindowAttributes attrs;
    if (XGetWindowAttributes(m_impl->dpy, w, &attrs) && attrs.map_state == IsViewable && attrs.override_redirect &&
        m_impl->FirstAtom(w, typeAtom) != tooltip)
      return w;
  }
  return 0;
}

XWindow XProbe::WaitWindow(pid_t APid, Kind AKind, const std::string& AClass, int ATimeoutMs) {
  // A window being mapped is announced to the root, so only events wake
  // the search: the benchmark times the start-up by it, and looking in
  // short steps would both delay it and load the server meanwhile.
  XWindow found = 0;
  const auto seen = [&] {
    const std::vector<Window> windows = m_impl->TopLevels();
    // From the top of the stack down.
    for (auto w = windows.rbegin(); w != windows.rend() && !found; ++w)
      if (m_impl->Matches(*w, APid, AKind, AClass)) found = *w;
    return found != 0;
  };
  WaitFor(seen, ATimeoutMs, -1);
  return found;
}

bool XProbe::Viewable(XWindow AWindow) {
  XWindowAttributes attrs;
  return AWindow && XGetWindowAttributes(m_impl->dpy, AWindow, &attrs) && attrs.map_state == IsViewable;
}

pid_t XProbe::PidOf(XWindow AWindow) {
  unsigned long pid = 0;
  return m_impl->Cardinal(AWindow, m_impl->A("_NET_WM_PID"), pid) ? pid_t(pid) : 0;
}

std::string XProbe::Title(XWindow AWindow) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(m_impl->dpy, AWindow, m_impl->A("_NET_WM_NAME"), 0, 1024, False,
                         m_impl->A("UTF8_STRING"), &type, &format, &count, &after, &data) == Success &&
      data) {
    if (format == 8) title.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
  }
  return title;
}

XRect XProbe::Geometry(XWindow AWindow) {
  XWindowAttributes attrs;
  if (!XGetWindowAttributes(m_impl->dpy, AWindow, &attrs)) return {};
  int x = 0, y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(m_impl->dpy, AWindow, m_impl->root, 0, 0, &x, &y, &child)) return {};
  return {x, y, attrs.width, attrs.height};
}

int XProbe::StackPos(XWindow AWindow) {
  const std::vector<Window> windows = m_impl->TopLevels();
  const auto at = std::find(windows.begin(), windows.end(), AWindow);
  return at == windows.end() ? -1 : int(at - windows.begin());
}

XWindow XProbe::Focus() {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(m_impl->dpy, &focus, &revert);
  return focus;
}

bool XProbe::GiveFocus(XWindow AWindow, int ATimeoutMs) {
  Display* dpy = m_impl->dpy;
  // The server refuses the focus to a window that is not viewable yet:
  // asked again until it holds.
  const auto focused = [&] {
    XRaiseWindow(dpy, AWindow);
    XSetInputFocus(dpy, AWindow, RevertToPointerRoot, CurrentTime);
    XSync(dpy, False);
    return Focus() == AWindow;
  };
  return WaitFor(focused, ATimeoutMs);
}

unsigned XProbe::Pixel(XWindow AWindow, int AX, int AY) {
  XImage* image = XGetImage(m_impl->dpy, AWindow, AX, AY, 1, 1, AllPlanes, ZPixmap);
  if (!image) return 0;
  const unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  // The server's default visual here is 24-bit true colour.
  return unsigned(pixel & 0xFFFFFF);
}

void XProbe::Drain() {
  Display* dpy = m_impl->dpy;
  const Atom changeState = m_impl->A("WM_CHANGE_STATE");
  while (XPending(dpy)) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    switch (ev.type) {
      case FocusOut:
        if (ev.xfocus.mode == NotifyGrab) m_impl->grabbedFrom.insert(ev.xfocus.window);
        break;
      case ClientMessage:
        if (ev.xclient.message_type == changeState && ev.xclient.data.l[0] == kIconic)
          m_impl->iconifyRequests.insert(ev.xclient.window);
        break;
      // While the probe stands in for a window manager, it grants what
      // clients ask for, unchanged.
      case MapRequest:
        XMapWindow(dpy, ev.xmaprequest.window);
        break;
      case ConfigureRequest: {
        const XConfigureRequestEvent& r = ev.xconfigurerequest;
        XWindowChanges changes{r.x, r.y, r.width, r.height, r.border_width, r.above, r.detail};
        XConfigureWindow(dpy, r.window, unsigned(r.value_mask), &changes);
        break;
      }
      case CirculateRequest:
        XCirculateSubwindows(dpy, ev.xcirculaterequest.parent,
                             ev.xcirculaterequest.place == PlaceOnTop ? RaiseLowest : LowerHighest);
        break;
      default:
        break;
    }
  }
}

bool XProbe::WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs, int AStepMs) {
  // Most changes come with an event; the rest (a process ending, pixels
  // drawn) are caught by the short step.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    Drain();
    if (ACondition()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    // The condition's own requests read the events that came before their
    // replies into Xlib's queue: those are no longer on the connection for
    // poll to see, so they are taken first.
    if (XEventsQueued(m_impl->dpy, QueuedAlready) > 0) continue;
    pollfd p{ConnectionNumber(m_impl->dpy), POLLIN, 0};
    poll(&p, 1, int(AStepMs < 0 ? left : std::min<long long>(left, AStepMs)));
  }
}

void XProbe::Close(XWindow AWindow) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = AWindow;
  ev.xclient.message_type = m_impl->A("WM_PROTOCOLS");
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = long(m_impl->A("WM_DELETE_WINDOW"));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(m_impl->dpy, AWindow, False, NoEventMask, &ev);
  XSync(m_impl->dpy, False);
}

void XProbe::Move(XWindow AWindow, int AX, int AY) {
  XMoveWindow(m_impl->dpy, AWindow, AX, AY);
  XSync(m_impl->dpy, False);
}

void XProbe::Click(int AX, int AY, unsigned AButton) {
  Display* dpy = m_impl->dpy;
  // A press of the same button soon after the last would make a double
  // click of the two (and one at another place may be near enough): it
  // waits until the last one is past the toolkits' double-click time.
  const auto since = std::chrono::steady_clock::now() - m_impl->lastClick;
  if (AButton == m_impl->lastButton && since < kDoubleClickTime) std::this_thread::sleep_for(kDoubleClickTime - since);
  XTestFakeMotionEvent(dpy, DefaultScreen(dpy), AX, AY, CurrentTime);
  XTestFakeButtonEvent(dpy, AButton, True, CurrentTime);
  XTestFakeButtonEvent(dpy, AButton, False, CurrentTime);
  XSync(dpy, False);
  m_impl->lastButton = AButton;
  m_impl->lastClick = std::chrono::steady_clock::now();
}

void XProbe::MovePointer(int AX, int AY) {
  Display* dpy = m_impl->dpy;
  XTestFakeMotionEvent(dpy, DefaultScreen(dpy), AX, AY, CurrentTime);
  XSync(dpy, False);
}

void XProbe::WatchKeyboardGrab(XWindow AWindow) {
  // Trying a grab of our own to see would take part in the race for it:
  // the focus window is told instead, by a FocusOut of the grab mode.
  Drain();
  m_impl->grabbedFrom.erase(AWindow);
  XSelectInput(m_impl->dpy, AWindow, FocusChangeMask);
  XSync(m_impl->dpy, False);
}

bool XProbe::KeyboardGrabbedFrom(XWindow AWindow) {
  Drain();
  return m_impl->grabbedFrom.count(AWindow) > 0;
}

void XProbe::Key(const std::string& AKeysym) {
  Display* dpy = m_impl->dpy;
  const KeyCode code = XKeysymToKeycode(dpy, XStringToKeysym(AKeysym.c_str()));
  if (!code) return;
  XTestFakeKeyEvent(dpy, code, True, CurrentTime);
  XTestFakeKeyEvent(dpy, code, False, CurrentTime);
  XSync(dpy, False);
}

XWindow XProbe::Cover(const XRect& ARect) {
  Display* dpy = m_impl->dpy;
  const int screen = DefaultScreen(dpy);
  Window w = XCreateSimpleWindow(dpy, m_impl->root, ARect.x, ARect.y, unsigned(ARect.width),
                                 unsigned(ARect.height), 0, BlackPixel(dpy, screen), BlackPixel(dpy, screen));
  // Placed where asked, as there is no window manager to place it.
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  XChangeWindowAttributes(dpy, w, CWOverrideRedirect, &attrs);
  XStoreName(dpy, w, "Cover");
  XMapRaised(dpy, w);
  XSync(dpy, False);
  m_impl->own.push_back(w);
  WaitFor([&] { return Viewable(w); }, 2000);
  return w;
}

void XProbe::StandInForWindowManager(bool AOn) {
  Drain();
  XSelectInput(m_impl->dpy, m_impl->root, SubstructureNotifyMask | (AOn ? SubstructureRedirectMask : 0));
  XSync(m_impl->dpy, False);
  Drain();
}

bool XProbe::IconifyRequested(XWindow AWindow) {
  Drain();
  return m_impl->iconifyRequests.count(AWindow) > 0;
}

}  // namespace x11test
