#include "XRecorder.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace x11test {

struct XRecorder::Impl {
  Display* dpy = nullptr;
  int wake = -1;
};

XRecorder::XRecorder(const std::string& ATitle, bool AUtf8Title) : m_impl(std::make_unique<Impl>()) {
  XInitThreads();
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return;
  m_impl->dpy = dpy;
  m_impl->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int screen = DefaultScreen(dpy);
  ::Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 10, 10, 300, 200, 0,
                                 BlackPixel(dpy, screen), WhitePixel(dpy, screen));
  XSelectInput(dpy, w, KeyPressMask | StructureNotifyMask | FocusChangeMask);
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
  m_window = w;
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
  while (!m_stop) {
    while (XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == MappingNotify) {
        XRefreshKeyboardMapping(&ev.xmapping);
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
    pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {m_impl->wake, POLLIN, 0}};
    poll(fds, 2, -1);
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

bool SetKeyboardLayout(const std::string& AArgs) {
  return std::system(("setxkbmap " + AArgs).c_str()) == 0;
}

}  // namespace x11test
