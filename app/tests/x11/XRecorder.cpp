#include "XRecorder.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace x11test {

struct XRecorder::Impl {
  Display* dpy = nullptr;
  int wake = -1;
  bool inner = false;
};

namespace {

// How long a window with an inner key window takes to move the focus on.
constexpr int kInnerFocusDelayMs = 100;

}  // namespace

XRecorder::XRecorder(const std::string& ATitle, bool AUtf8Title, Keys AKeys) : m_impl(std::make_unique<Impl>()) {
  XInitThreads();
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return;
  m_impl->dpy = dpy;
  m_impl->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  m_impl->inner = AKeys == Keys::Inner;
  const int screen = DefaultScreen(dpy);
  ::Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 10, 10, 300, 200, 0,
                                 BlackPixel(dpy, screen), WhitePixel(dpy, screen));
  ::Window keys = w;
  if (m_impl->inner) {
    keys = XCreateSimpleWindow(dpy, w, 0, 0, 300, 200, 0, BlackPixel(dpy, screen), WhitePixel(dpy, screen));
    XSelectInput(dpy, keys, KeyPressMask);
    XMapWindow(dpy, keys);
    XSelectInput(dpy, w, StructureNotifyMask | FocusChangeMask);
  } else {
    XSelectInput(dpy, w, KeyPressMask | StructureNotifyMask | FocusChangeMask);
  }
  XStoreName(dpy, w, ATitle.c_str());
  if (AUtf8Title) {
    XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_NAME", False),
                    XInternAtom(dpy, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(ATitle.data()),
                    static_cast<int>(ATitle.size()));
  }
  XMapRaised(dpy, w);
  // Viewable before anyone tries to give it the focus.
  for (XEvent ev;;) {
    XWindowEvent(dpy, w, StructureNotifyMask, &ev);
    if (ev.type == MapNotify) break;
  }
  if (m_impl->inner) {
    XSetInputFocus(dpy, keys, RevertToParent, CurrentTime);
    XSync(dpy, False);
  }
  m_window = w;
  m_keyWindow = keys;
  m_thread = std::thread([this] { Loop(); });
}

XRecorder::~XRecorder() {
  if (m_thread.joinable()) {
    m_stop = true;
    uint64_t one = 1;
    if (write(m_impl->wake, &one, sizeof one) < 0) {
    }
    m_thread.join();
  }
  if (m_impl->dpy) {
    if (m_window) XDestroyWindow(m_impl->dpy, m_window);
    XCloseDisplay(m_impl->dpy);
  }
  if (m_impl->wake >= 0) close(m_impl->wake);
}

void XRecorder::Loop() {
  Display* dpy = m_impl->dpy;
  using Clock = std::chrono::steady_clock;
  constexpr Clock::time_point kNever = Clock::time_point::max();
  Clock::time_point moveFocusAt = kNever;  // when the focus goes on to the inner window
  while (!m_stop) {
    if (moveFocusAt != kNever && Clock::now() >= moveFocusAt) {
      moveFocusAt = kNever;
      XSetInputFocus(dpy, m_keyWindow, RevertToParent, CurrentTime);
      XFlush(dpy);
    }
    while (XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == MappingNotify) {
        XRefreshKeyboardMapping(&ev.xmapping);
        continue;
      }
      // The window itself got the focus (not through its inner window).
      if (m_impl->inner && ev.type == FocusIn && ev.xfocus.window == m_window && ev.xfocus.mode == NotifyNormal &&
          (ev.xfocus.detail == NotifyAncestor || ev.xfocus.detail == NotifyNonlinear ||
           ev.xfocus.detail == NotifyInferior)) {
        moveFocusAt = Clock::now() + std::chrono::milliseconds(kInnerFocusDelayMs);
        continue;
      }
      if (ev.type != KeyPress) continue;
      char buf[16];
      KeySym sym = 0;
      int n = XLookupString(&ev.xkey, buf, sizeof buf, &sym, nullptr);
      std::string got;
      if (sym == XK_Return && (ev.xkey.state & ControlMask))
        got = "\n";  // what Ctrl+Return means on the US layout
      else if (n > 0)
        got.assign(buf, static_cast<size_t>(n));
      else if (!IsModifierKey(sym))
        got = "?";
      std::lock_guard<std::mutex> hold(m_lock);
      m_text += got;
      if (!got.empty()) m_lastKey = std::chrono::steady_clock::now();
    }
    int timeout = -1;
    if (moveFocusAt != kNever)
      timeout = int(std::max<long long>(
          0, std::chrono::duration_cast<std::chrono::milliseconds>(moveFocusAt - Clock::now()).count() + 1));
    pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {m_impl->wake, POLLIN, 0}};
    poll(fds, 2, timeout);
  }
}

std::string XRecorder::Text() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_text;
}

std::chrono::steady_clock::time_point XRecorder::LastKeyTime() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_lastKey;
}

void XRecorder::Clear() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_text.clear();
}

bool XRecorder::WaitFor(const std::string& AExpected, int ATimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (Text() != AExpected) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

namespace {

template <typename F>
bool WithDisplay(F AFn) {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  bool result = AFn(dpy);
  XSync(dpy, False);
  XCloseDisplay(dpy);
  return result;
}

}  // namespace

void SetCapsLock(bool AOn) {
  WithDisplay([&](Display* d) {
    return XkbLockModifiers(d, XkbUseCoreKbd, LockMask, AOn ? LockMask : 0) != 0;
  });
}

bool CapsLock() {
  return WithDisplay([](Display* d) {
    XkbStateRec state{};
    XkbGetState(d, XkbUseCoreKbd, &state);
    return (state.locked_mods & LockMask) != 0;
  });
}

void FocusNothing() {
  WithDisplay([](Display* d) {
    XSetInputFocus(d, None, RevertToNone, CurrentTime);
    return true;
  });
}

void FocusInPlace(unsigned long AWindow) {
  WithDisplay([&](Display* d) {
    XSetInputFocus(d, AWindow, RevertToParent, CurrentTime);
    return true;
  });
}

unsigned long FocusedWindow() {
  unsigned long focus = 0;
  WithDisplay([&](Display* d) {
    ::Window w = 0;
    int revert = 0;
    XGetInputFocus(d, &w, &revert);
    focus = w;
    return true;
  });
  return focus;
}

void RequestDock(unsigned long AWindow) {
  WithDisplay([&](Display* d) {
    const ::Window tray = XGetSelectionOwner(d, XInternAtom(d, "_NET_SYSTEM_TRAY_S0", False));
    if (!tray) return false;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = tray;
    ev.xclient.message_type = XInternAtom(d, "_NET_SYSTEM_TRAY_OPCODE", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = CurrentTime;
    ev.xclient.data.l[1] = 0;  // dock request
    ev.xclient.data.l[2] = long(AWindow);
    XSendEvent(d, tray, False, NoEventMask, &ev);
    return true;
  });
}

bool SetKeyboardLayout(const std::string& AArgs) {
  return std::system(("setxkbmap " + AArgs).c_str()) == 0;
}

}  // namespace x11test
