#include "XDesktop.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <thread>

namespace x11 {

struct Connection {
  Display* dpy = nullptr;
  Window root = 0;
  XkbDescPtr xkb = nullptr;

  // Following the keyboard (FollowFocus): the top-level windows whose focus
  // we hear of, and the ones that had the focus, the latest first, each
  // with whether the focus was last on one of its inner windows rather than
  // on the top-level window itself.
  struct Focused {
    Window top;
    bool inner;
  };
  bool following = false;
  std::vector<Window> watched;
  std::vector<Focused> focusOrder;

  ~Connection() {
    if (xkb) XkbFreeKeyboard(xkb, 0, True);
    if (dpy) XCloseDisplay(dpy);
  }
  Atom Intern(const char* AName) { return XInternAtom(dpy, AName, False); }
  // The keyboard map as it is now (layouts may change between cards).
  bool RefreshMap() {
    XkbDescPtr fresh = XkbGetMap(dpy, XkbAllClientInfoMask, XkbUseCoreKbd);
    if (!fresh) return xkb != nullptr;
    if (xkb) XkbFreeKeyboard(xkb, 0, True);
    xkb = fresh;
    return true;
  }
};

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMs(int64_t AMs) {
  if (AMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(AMs));
}

// Requests on windows that may vanish at any time fail with an X error,
// which by default ends the process; the trap swallows them instead.
int g_errors = 0;
int CountError(Display*, XErrorEvent*) {
  ++g_errors;
  return 0;
}

class ErrorTrap {
 public:
  explicit ErrorTrap(Display* ADpy) : m_dpy(ADpy), m_old(XSetErrorHandler(CountError)) {
    m_before = g_errors;
  }
  ~ErrorTrap() {
    XSync(m_dpy, False);
    XSetErrorHandler(m_old);
  }
  bool Failed() {
    XSync(m_dpy, False);
    return g_errors != m_before;
  }

 private:
  Display* m_dpy;
  XErrorHandler m_old;
  int m_before = 0;
};

// A property's items, when it has the type and item size asked for: the
// one fetch both readers below share.
template <class Item, int Format>
std::vector<Item> FetchProperty(Connection& AConn, Window AWindow, Atom AProperty, Atom AType) {
  std::vector<Item> items;
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  ErrorTrap trap(AConn.dpy);
  if (XGetWindowProperty(AConn.dpy, AWindow, AProperty, 0, 1 << 16, False, AType, &type, &format,
                         &count, &after, &data) == Success &&
      data && type == AType && format == Format) {
    // Xlib hands 32-bit items over as longs, 8-bit ones as bytes.
    auto* values = reinterpret_cast<const Item*>(data);
    items.assign(values, values + count);
  }
  if (data) XFree(data);
  return items;
}

// A property of 32-bit items (windows, atoms) as a list.
std::vector<unsigned long> ListProperty(Connection& AConn, Window AWindow, Atom AProperty,
                                        Atom AType) {
  return FetchProperty<unsigned long, 32>(AConn, AWindow, AProperty, AType);
}

std::string ByteProperty(Connection& AConn, Window AWindow, Atom AProperty, Atom AType) {
  const std::vector<char> bytes = FetchProperty<char, 8>(AConn, AWindow, AProperty, AType);
  return std::string(bytes.begin(), bytes.end());
}

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string Utf8To16(const std::string& AText) {
  std::u16string out;
  size_t i = 0;
  while (i < AText.size()) {
    const auto b = static_cast<unsigned char>(AText[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len > 0 && i + len <= AText.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto c = static_cast<unsigned char>(AText[i + k]);
      ok = (c >> 6) == 2;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

bool Viewable(Connection& AConn, Window AWindow, bool ASkipOverrideRedirect) {
  XWindowAttributes attrs;
  ErrorTrap trap(AConn.dpy);
  if (!XGetWindowAttributes(AConn.dpy, AWindow, &attrs) || trap.Failed()) return false;
  if (attrs.map_state != IsViewable || attrs.c_class != InputOutput) return false;
  return !(ASkipOverrideRedirect && attrs.override_redirect);
}

bool WmSupports(Connection& AConn, const char* AAtom) {
  const auto supported = ListProperty(AConn, AConn.root, AConn.Intern("_NET_SUPPORTED"), XA_ATOM);
  return std::find(supported.begin(), supported.end(), AConn.Intern(AAtom)) != supported.end();
}

void SendToWm(Connection& AConn, Window AWindow, const char* AMessage, long A0, long A1, long A2) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = AWindow;
  ev.xclient.message_type = AConn.Intern(AMessage);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = A0;
  ev.xclient.data.l[1] = A1;
  ev.xclient.data.l[2] = A2;
  XSendEvent(AConn.dpy, AConn.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
  XFlush(AConn.dpy);
}

// The client window a top-level window stands for. Under a reparenting
// window manager the top-level window is the manager's frame, which has no
// title of its own; the client is the window inside it that carries
// WM_STATE (set by the manager on every window it manages). Without a
// window manager nothing carries it and the top-level window is the client.
Window ClientOf(Connection& AConn, Window ATop) {
  const Atom wmState = AConn.Intern("WM_STATE");
  ErrorTrap trap(AConn.dpy);
  // Breadth first: the client is a direct child of the frame, or a little
  // deeper under some managers.
  std::vector<Window> level{ATop};
  for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
    std::vector<Window> next;
    for (Window w : level) {
      Atom type = 0;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      const bool has = XGetWindowProperty(AConn.dpy, w, wmState, 0, 0, False, AnyPropertyType, &type, &format,
                                          &count, &after, &data) == Success &&
                       type != None;
      if (data) XFree(data);
      if (has) return w;
      Window root = 0, parent = 0, *children = nullptr;
      unsigned n = 0;
      if (XQueryTree(AConn.dpy, w, &root, &parent, &children, &n) && children) {
        next.insert(next.end(), children, children + n);
        XFree(children);
      }
    }
    level = std::move(next);
  }
  return ATop;
}

// The child of the root that contains AWindow; 0 for the root or an unknown
// window.
Window TopOf(Connection& AConn, Window AWindow) {
  Window w = AWindow;
  ErrorTrap trap(AConn.dpy);
  while (w != 0 && w != AConn.root) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(AConn.dpy, w, &root, &parent, &children, &count)) return 0;
    if (children) XFree(children);
    if (parent == AConn.root) return w;
    w = parent;
  }
  return 0;
}

bool Contains(const std::vector<Window>& AList, Window AWindow) {
  return std::find(AList.begin(), AList.end(), AWindow) != AList.end();
}

// The events this connection always wants of a window; the waits add
// theirs for their time and then go back to these.
long StandingMask(Connection& AConn, Window AWindow) {
  if (AWindow == AConn.root) return AConn.following ? SubstructureNotifyMask : NoEventMask;
  return Contains(AConn.watched, AWindow) ? FocusChangeMask : NoEventMask;
}

void Watch(Connection& AConn, Window AWindow) {
  if (Contains(AConn.watched, AWindow)) return;
  ErrorTrap trap(AConn.dpy);  // it may be gone already
  XSelectInput(AConn.dpy, AWindow, FocusChangeMask);
  AConn.watched.push_back(AWindow);
}

void Forget(Connection& AConn, Window AWindow) {
  std::erase(AConn.watched, AWindow);
  std::erase_if(AConn.focusOrder, [&](const Connection::Focused& f) { return f.top == AWindow; });
}

// The focus came to AWindow (AInner: to one of its inner windows).
void NoteFocus(Connection& AConn, Window AWindow, bool AInner) {
  const Window top = TopOf(AConn, AWindow);
  if (!top) return;
  std::erase_if(AConn.focusOrder, [&](const Connection::Focused& f) { return f.top == top; });
  AConn.focusOrder.insert(AConn.focusOrder.begin(), {top, AInner || AWindow != top});
  // Only the last few ever matter.
  constexpr size_t kKept = 32;
  if (AConn.focusOrder.size() > kKept) AConn.focusOrder.resize(kKept);
}

// A top-level window we have just heard of. Its focus events come from now
// on; it may have taken the focus already, before we asked for them (a new
// window often takes it at once), which the focus as it is now tells.
void WatchNew(Connection& AConn, Window AWindow) {
  Watch(AConn, AWindow);
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(AConn.dpy, &focus, &revert);
  if (focus != None && focus != PointerRoot && TopOf(AConn, focus) == AWindow) NoteFocus(AConn, focus, false);
}

// What an event tells of the keyboard's way: top-level windows coming and
// going, the focus entering one or moving inside it.
void NoteEvent(Connection& AConn, const XEvent& AEvent) {
  switch (AEvent.type) {
    case CreateNotify:
      if (AEvent.xcreatewindow.parent == AConn.root) WatchNew(AConn, AEvent.xcreatewindow.window);
      break;
    case ReparentNotify:
      // Into the root (given back by a tray or a window manager), or away
      // from it (into a frame, whose own focus events tell from now on).
      if (AEvent.xreparent.parent == AConn.root) {
        WatchNew(AConn, AEvent.xreparent.window);
      } else if (Contains(AConn.watched, AEvent.xreparent.window)) {
        Forget(AConn, AEvent.xreparent.window);
        ErrorTrap trap(AConn.dpy);
        XSelectInput(AConn.dpy, AEvent.xreparent.window, NoEventMask);
      }
      break;
    case DestroyNotify:
      Forget(AConn, AEvent.xdestroywindow.window);
      break;
    case FocusIn:
    case FocusOut: {
      const XFocusChangeEvent& f = AEvent.xfocus;
      // A keyboard grab taking and giving back the keyboard (an open menu)
      // moves nothing.
      if (!AConn.following || f.mode == NotifyGrab || f.mode == NotifyUngrab) break;
      if (f.type == FocusIn) {
        if (f.detail == NotifyPointer || f.detail == NotifyPointerRoot || f.detail == NotifyDetailNone) break;
        NoteFocus(AConn, f.window, f.detail == NotifyVirtual || f.detail == NotifyNonlinearVirtual);
      } else if (f.detail == NotifyInferior) {
        // Moved on into one of the window's inner windows, as toolkits do.
        NoteFocus(AConn, f.window, true);
      }
      break;
    }
    default:
      break;
  }
}

XkbStateRec KeyboardState(Connection& AConn) {
  XkbStateRec state{};
  XkbGetState(AConn.dpy, XkbUseCoreKbd, &state);
  return state;
}

}  // namespace

std::unique_ptr<XDesktop> XDesktop::Open(const std::string& ADisplay) {
  XInitThreads();
  auto conn = std::make_unique<Connection>();
  conn->dpy = XOpenDisplay(ADisplay.empty() ? nullptr : ADisplay.c_str());
  if (!conn->dpy) return nullptr;
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(conn->dpy, &event, &error, &major, &minor)) return nullptr;
  int opcode = 0;
  major = XkbMajorVersion;
  minor = XkbMinorVersion;
  if (!XkbQueryExtension(conn->dpy, &opcode, &event, &error, &major, &minor)) return nullptr;
  conn->root = DefaultRootWindow(conn->dpy);
  // Our key events go through even while another client grabs the server.
  XTestGrabControl(conn->dpy, True);
  if (!conn->RefreshMap()) return nullptr;
  return std::unique_ptr<XDesktop>(new XDesktop(std::move(conn)));
}

bool XDesktop::Reachable(const std::string& ADisplay) {
  xcb_connection_t* conn = xcb_connect(ADisplay.empty() ? nullptr : ADisplay.c_str(), nullptr);
  const bool ok = xcb_connection_has_error(conn) == 0;
  xcb_disconnect(conn);  // a failed connection is freed the same way
  return ok;
}

XDesktop::XDesktop(std::unique_ptr<Connection> AConn) : m_conn(std::move(AConn)) {}

XDesktop::~XDesktop() = default;

WindowId XDesktop::ForegroundWindow() {
  Connection& c = *m_conn;
  const auto active = ListProperty(c, c.root, c.Intern("_NET_ACTIVE_WINDOW"), XA_WINDOW);
  if (!active.empty() && active[0] != 0) return active[0];
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(c.dpy, &focus, &revert);
  if (focus == None || focus == PointerRoot) return 0;
  const Window top = TopLevelOf(focus);
  return top ? ClientOf(c, top) : 0;
}

WindowId XDesktop::TopLevelOf(WindowId AWindow) { return TopOf(*m_conn, AWindow); }

WindowId XDesktop::OwnTopLevel(WindowId AWindow) {
  Connection& c = *m_conn;
  // A window of its own is its top-level window's client; a window that
  // another program's window embeds is not.
  const Window top = TopOf(c, AWindow);
  return top && ClientOf(c, top) == AWindow ? top : 0;
}

bool XDesktop::TopLevelPosition(WindowId AWindow, int& AX, int& AY) {
  Connection& c = *m_conn;
  const Window top = TopLevelOf(AWindow);
  if (!top) return false;
  ErrorTrap trap(c.dpy);
  XWindowAttributes a;
  if (!XGetWindowAttributes(c.dpy, top, &a) || trap.Failed()) return false;
  AX = a.x;
  AY = a.y;
  return true;
}

bool XDesktop::SameTopLevel(WindowId A, WindowId B) {
  if (A == 0 || B == 0) return false;
  return A == B || TopLevelOf(A) == TopLevelOf(B);
}

std::u16string XDesktop::WindowTitle(WindowId AWindow, size_t AMaxUnits) {
  Connection& c = *m_conn;
  std::string utf8 = ByteProperty(c, AWindow, c.Intern("_NET_WM_NAME"), c.Intern("UTF8_STRING"));
  if (utf8.empty()) {
    ErrorTrap trap(c.dpy);
    XTextProperty prop{};
    if (XGetWMName(c.dpy, AWindow, &prop) && prop.value) {
      char** list = nullptr;
      int count = 0;
      if (Xutf8TextPropertyToTextList(c.dpy, &prop, &list, &count) >= Success && count > 0 &&
          list)
        utf8 = list[0];
      if (list) XFreeStringList(list);
      XFree(prop.value);
    }
  }
  std::u16string title = Utf8To16(utf8);
  if (title.size() > AMaxUnits) {
    title.resize(AMaxUnits);
    if (!title.empty() && title.back() >= 0xD800 && title.back() <= 0xDBFF) title.pop_back();
  }
  return title;
}

WindowId XDesktop::WindowBelow(WindowId AWindow, const std::vector<WindowId>& ASkip) {
  Connection& c = *m_conn;
  auto skipped = [](const std::vector<WindowId>& AList, WindowId AWin) {
    return std::find(AList.begin(), AList.end(), AWin) != AList.end();
  };
  // The window manager's list of its clients, bottom to top.
  const auto stacking =
      ListProperty(c, c.root, c.Intern("_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
  if (!stacking.empty()) {
    auto it = std::find(stacking.begin(), stacking.end(), AWindow);
    if (it == stacking.end()) return 0;
    while (it != stacking.begin()) {
      --it;
      if (!skipped(ASkip, *it) && Viewable(c, *it, false)) return *it;
    }
    return 0;
  }
  // No window manager: the root's children, bottom to top. Override-redirect
  // windows (menus, tooltips) never take the keyboard.
  const Window top = TopLevelOf(AWindow);
  std::vector<WindowId> skipTops;
  for (WindowId w : ASkip) skipTops.push_back(TopLevelOf(w));
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  WindowId below = 0;
  if (top && XQueryTree(c.dpy, c.root, &root, &parent, &children, &count) && children) {
    auto* end = children + count;
    auto* it = std::find(children, end, top);
    while (it != end && it != children) {
      --it;
      if (!skipped(skipTops, *it) && Viewable(c, *it, true)) {
        below = *it;
        break;
      }
    }
  }
  if (children) XFree(children);
  return below;
}

WindowId XDesktop::TopLevelAt(int AX, int AY) {
  Connection& c = *m_conn;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  WindowId found = 0;
  if (XQueryTree(c.dpy, c.root, &root, &parent, &children, &count) && children) {
    ErrorTrap trap(c.dpy);  // a window may go away while we look
    // Bottom to top: the last one holding the point is the one seen there.
    for (unsigned i = count; i-- > 0 && !found;) {
      XWindowAttributes a;
      if (!XGetWindowAttributes(c.dpy, children[i], &a) || a.map_state != IsViewable) continue;
      if (AX >= a.x && AY >= a.y && AX < a.x + a.width + 2 * a.border_width &&
          AY < a.y + a.height + 2 * a.border_width)
        found = children[i];
    }
  }
  if (children) XFree(children);
  return found;
}

void XDesktop::Activate(WindowId AWindow) {
  Connection& c = *m_conn;
  if (WmSupports(c, "_NET_ACTIVE_WINDOW")) {
    // Source 2: a pager's request, which window managers do not refuse.
    SendToWm(c, AWindow, "_NET_ACTIVE_WINDOW", 2, CurrentTime, 0);
    return;
  }
  ErrorTrap trap(c.dpy);
  XRaiseWindow(c.dpy, AWindow);
  XSetInputFocus(c.dpy, AWindow, RevertToParent, CurrentTime);
}

bool XDesktop::WaitForeground(WindowId AWindow, int ATimeoutMs, bool AInner) {
  Connection& c = *m_conn;
  auto arrived = [&] {
    if (!SameTopLevel(ForegroundWindow(), AWindow)) return false;
    // A window manager may announce the active window before it moves the
    // input focus, and keys follow the focus.
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(c.dpy, &focus, &revert);
    if (AInner) return focus != PointerRoot && focus != AWindow && SameTopLevel(focus, AWindow);
    return focus == PointerRoot || SameTopLevel(focus, AWindow);
  };
  // Woken by the changes that matter: the focus entering the window, the
  // window manager's active window changing.
  {
    ErrorTrap trap(c.dpy);
    XSelectInput(c.dpy, c.root, StandingMask(c, c.root) | PropertyChangeMask);
    XSelectInput(c.dpy, AWindow, StandingMask(c, AWindow) | FocusChangeMask);
  }
  const int64_t end = NowMs() + ATimeoutMs;
  bool result = false;
  for (;;) {
    if (arrived()) {
      result = true;
      break;
    }
    const int64_t left = end - NowMs();
    if (left <= 0) break;
    // Events read along with the replies above are already queued.
    if (XQLength(c.dpy) == 0) {
      pollfd p{ConnectionNumber(c.dpy), POLLIN, 0};
      poll(&p, 1, static_cast<int>(left));
    }
    ReadEvents();
  }
  ErrorTrap trap(c.dpy);
  XSelectInput(c.dpy, AWindow, StandingMask(c, AWindow));
  XSelectInput(c.dpy, c.root, StandingMask(c, c.root));
  return result;
}

void XDesktop::FollowFocus() {
  Connection& c = *m_conn;
  if (c.following) return;
  c.following = true;
  // The root first: a window made while the others are looked up is told
  // of all the same.
  XSelectInput(c.dpy, c.root, StandingMask(c, c.root));
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(c.dpy, c.root, &root, &parent, &children, &count) && children) {
    for (unsigned i = 0; i < count; ++i) Watch(c, children[i]);
    XFree(children);
  }
  // Where the keyboard is now is the first thing known.
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(c.dpy, &focus, &revert);
  if (focus != None && focus != PointerRoot) NoteFocus(c, focus, false);
}

int XDesktop::ConnectionFd() const { return ConnectionNumber(m_conn->dpy); }

void XDesktop::ReadEvents() {
  Connection& c = *m_conn;
  while (XPending(c.dpy)) {
    XEvent ev;
    XNextEvent(c.dpy, &ev);
    NoteEvent(c, ev);
  }
}

WindowId XDesktop::LastFocused(const std::vector<WindowId>& ASkipTops, bool* AInner) {
  Connection& c = *m_conn;
  if (AInner) *AInner = false;
  if (!c.following) return 0;
  // Everything the server has told up to now.
  XSync(c.dpy, False);
  ReadEvents();
  for (const Connection::Focused& f : c.focusOrder) {
    if (std::find(ASkipTops.begin(), ASkipTops.end(), f.top) != ASkipTops.end()) continue;
    if (!Viewable(c, f.top, true)) continue;
    // A window manager's frame always has the focus inside it, on the
    // client or deeper: there the flag tells nothing.
    if (WmSupports(c, "_NET_ACTIVE_WINDOW")) return ClientOf(c, f.top);
    if (AInner) *AInner = f.inner;
    return f.top;
  }
  return 0;
}

void XDesktop::SetKeepAbove(WindowId AWindow, bool AOn) {
  Connection& c = *m_conn;
  if (!WmSupports(c, "_NET_WM_STATE_ABOVE")) return;
  SendToWm(c, AWindow, "_NET_WM_STATE", AOn ? 1 : 0,
           static_cast<long>(c.Intern("_NET_WM_STATE_ABOVE")), 0);
}

void XDesktop::SyncConnection(xcb_connection_t* AConnection) {
  // A request with a reply: the server handles a connection's requests in
  // order, so once the reply is here everything before it is done.
  if (AConnection) std::free(xcb_get_input_focus_reply(AConnection, xcb_get_input_focus(AConnection), nullptr));
}

int XDesktop::CurrentGroup() { return KeyboardState(*m_conn).locked_group; }

void XDesktop::LockGroup(int AGroup) {
  XkbLockGroup(m_conn->dpy, XkbUseCoreKbd, static_cast<unsigned>(AGroup));
  XSync(m_conn->dpy, False);
}

bool XDesktop::CapsLockOn() { return (KeyboardState(*m_conn).locked_mods & LockMask) != 0; }

int XDesktop::GroupCount() {
  XkbDescPtr xkb = m_conn->xkb;
  int groups = 0;
  for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc)
    groups = std::max(groups, static_cast<int>(XkbKeyNumGroups(xkb, kc)));
  return groups;
}

int XDesktop::UsGroup() {
  Connection& c = *m_conn;
  // "rules\0model\0layouts\0variants\0options\0", the layouts comma-separated
  // in group order.
  const std::string names = ByteProperty(c, c.root, c.Intern("_XKB_RULES_NAMES"), XA_STRING);
  std::vector<std::string> fields;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find('\0', start);
    if (end == std::string::npos) end = names.size();
    fields.push_back(names.substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() < 3) return -1;
  const std::string& layouts = fields[2];
  int group = 0;
  start = 0;
  const int groups = GroupCount();
  while (start <= layouts.size() && group < groups) {
    size_t end = layouts.find(',', start);
    if (end == std::string::npos) end = layouts.size();
    if (layouts.compare(start, end - start, "us") == 0) return group;
    ++group;
    start = end + 1;
  }
  return -1;
}

void XDesktop::RefreshKeyboardMap() { m_conn->RefreshMap(); }

int XDesktop::FindKeycode(const Key& AKey, int AGroup) {
  XkbDescPtr xkb = m_conn->xkb;
  for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
    const int groups = XkbKeyNumGroups(xkb, kc);
    if (groups == 0) continue;
    // A key with fewer groups wraps the group around, as the server does.
    const int g = AGroup < groups ? AGroup : AGroup % groups;
    if (XkbKeySymEntry(xkb, kc, 0, g) != AKey.base) continue;
    if (AKey.shifted == AKey.base) return kc;
    if (XkbKeyGroupWidth(xkb, kc, g) >= 2 && XkbKeySymEntry(xkb, kc, 1, g) == AKey.shifted)
      return kc;
  }
  return 0;
}

// ---- typing ------------------------------------------------------------------

XDesktop::Typing::Typing(XDesktop& ADesktop, const std::vector<Key>& AKeys) : m_desktop(ADesktop) {
  m_desktop.RefreshKeyboardMap();
  m_oldGroup = m_desktop.CurrentGroup();
  m_group = m_desktop.UsGroup();
  if (m_group < 0) {
    // No "us" layout: the group that has most of the keys, the current one
    // when it is as good as any.
    auto found = [&](int AGroup) {
      return std::count_if(AKeys.begin(), AKeys.end(),
                           [&](const Key& k) { return m_desktop.FindKeycode(k, AGroup) != 0; });
    };
    m_group = m_oldGroup;
    auto best = found(m_group);
    for (int g = 0, n = m_desktop.GroupCount(); g < n; ++g) {
      auto count = found(g);
      if (count > best) {
        best = count;
        m_group = g;
      }
    }
  }
  if (m_group != m_oldGroup) m_desktop.LockGroup(m_group);
  XkbDescPtr xkb = m_desktop.m_conn->xkb;
  for (int kc = xkb->max_key_code; kc >= xkb->min_key_code; --kc)
    if (XkbKeyNumGroups(xkb, kc) == 0) m_freeKeycodes.push_back(kc);
  // Missing keys get their spares now, while nothing is typed yet: clients
  // read a changed map when they get to it, which may be well after the
  // change, so the map had better not change again under the typing.
  for (const Key& key : AKeys) {
    if (m_freeKeycodes.empty()) break;
    if (m_desktop.FindKeycode(key, m_group) == 0) SpareFor(key);
  }
}

XDesktop::Typing::~Typing() { RestoreLayout(); }

int XDesktop::Typing::SpareFor(const Key& AKey) {
  for (Spare& s : m_spares)
    if (s.key == AKey) return s.keycode;
  Display* dpy = m_desktop.m_conn->dpy;
  Spare* spare = nullptr;
  if (!m_freeKeycodes.empty()) {
    m_spares.push_back({m_freeKeycodes.back(), AKey, 0});
    m_freeKeycodes.pop_back();
    spare = &m_spares.back();
  } else if (!m_spares.empty()) {
    // All spares in use: the one used longest ago, once clients had their
    // time to read what it typed.
    spare = &*std::min_element(m_spares.begin(), m_spares.end(),
                               [](const Spare& a, const Spare& b) { return a.lastUseMs < b.lastUseMs; });
    SleepMs(spare->lastUseMs + kSpareHoldMs - NowMs());
    spare->key = AKey;
  } else {
    return 0;
  }
  KeySym syms[2] = {AKey.base, AKey.shifted};
  XChangeKeyboardMapping(dpy, spare->keycode, 2, syms, 1);
  XSync(dpy, False);
  return spare->keycode;
}

void XDesktop::Typing::Send(const Key& AKey, bool ADown) {
  if (m_ended) return;
  int kc = m_desktop.FindKeycode(AKey, m_group);
  Spare* used = nullptr;
  if (kc == 0) {
    kc = SpareFor(AKey);
    for (Spare& s : m_spares)
      if (s.keycode == kc) used = &s;
  }
  if (kc == 0) return;  // no key and no spare keycode: the key is lost
  Display* dpy = m_desktop.m_conn->dpy;
  XTestFakeKeyEvent(dpy, static_cast<unsigned>(kc), ADown ? True : False, CurrentTime);
  XFlush(dpy);
  if (used) used->lastUseMs = NowMs();
}

void XDesktop::Typing::RestoreLayout() {
  if (m_ended) return;
  m_ended = true;
  Display* dpy = m_desktop.m_conn->dpy;
  XSync(dpy, False);
  if (!m_spares.empty()) {
    int64_t last = 0;
    for (const Spare& s : m_spares) last = std::max(last, s.lastUseMs);
    SleepMs(last + kSpareHoldMs - NowMs());
    for (const Spare& s : m_spares) {
      KeySym none[2] = {NoSymbol, NoSymbol};
      XChangeKeyboardMapping(dpy, s.keycode, 2, none, 1);
    }
    m_spares.clear();
  }
  if (m_desktop.CurrentGroup() != m_oldGroup) m_desktop.LockGroup(m_oldGroup);
  XSync(dpy, False);
}

}  // namespace x11
