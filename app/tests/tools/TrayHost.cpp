// A small notification area (system tray) for the X11 tests, where no desktop
// provides one: it takes the screen's tray selection, announces itself to
// the clients, and embeds every icon window a client asks to dock (XEmbed),
// side by side in a strip of its own at the bottom right of the screen.
//
// It tells the test what happens on stdout, one line per event:
//   ready <strip window>
//   dock <icon window> <x> <y> <width> <height>   (root coordinates)
//   undock <icon window>                          (destroyed or taken away)
//   key <byte>...                                 (a key the strip got while
//                                                  it had the keyboard: the
//                                                  bytes it gives, in hex)
// and ends, giving the icons back to the root window, when its stdin closes
// or it gets SIGTERM or SIGINT.
//
//   sorvex_trayhost [--icon-size N] [--quiet-embed]
//
// With --quiet-embed it does not tell an icon that it is embedded (the
// XEmbed notice), as some panels do not.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Opcodes of the tray's client message.
constexpr long kRequestDock = 0;
// XEmbed: the message the embedder sends once the client is in, the flag
// of _XEMBED_INFO that asks for the client to be mapped, and the protocol
// version spoken here.
constexpr long kEmbeddedNotify = 0;
constexpr unsigned long kXEmbedMapped = 1;
constexpr long kXEmbedVersion = 0;
// The tray's orientation property: icons side by side.
constexpr long kHorizontal = 0;
constexpr int kMaxIcons = 8;

bool g_xError = false;

int RecordError(Display*, XErrorEvent*) {
  // Icon windows belong to other programs and may vanish at any moment;
  // a request on one that is gone must not end the tray.
  g_xError = true;
  return 0;
}

struct Icon {
  Window window;
  int slot;
};

class TrayHost {
 public:
  TrayHost(Display* ADisplay, int AIconSize, bool AQuietEmbed)
      : m_dpy(ADisplay), m_size(AIconSize), m_quietEmbed(AQuietEmbed) {}

  bool Start();
  // Handles the X events that have arrived; false when the tray must end.
  bool HandleEvents();
  // Gives every icon back to the root window and the selection up.
  void Stop();
  int Fd() const { return ConnectionNumber(m_dpy); }

 private:
  Atom A(const char* AName) { return XInternAtom(m_dpy, AName, False); }
  Time ServerTime();
  // A client message of type AType about AWindow, sent to AWindow.
  void Send(Window AWindow, Atom AType, long AMask, const std::array<long, 5>& AData);
  void Dock(Window AIcon);
  void Undock(Window AIcon, bool AGiveBack);
  void ApplyEmbedInfo(Window AIcon);
  Icon* Find(Window AWindow);
  int FreeSlot() const;

  Display* m_dpy;
  int m_size;
  bool m_quietEmbed;
  int m_screen = 0;
  Window m_root = 0;
  Window m_strip = 0;
  int m_x = 0, m_y = 0;
  Atom m_selection = 0, m_opcode = 0, m_xembed = 0, m_xembedInfo = 0, m_manager = 0;
  std::vector<Icon> m_icons;
};

Time TrayHost::ServerTime() {
  // The server's time comes with the notice of a property change: append
  // nothing to a property of our own and wait for the notice.
  const Atom stamp = A("_SORVEX_TRAY_STAMP");
  XChangeProperty(m_dpy, m_strip, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
  XEvent ev;
  for (;;) {
    XWindowEvent(m_dpy, m_strip, PropertyChangeMask, &ev);
    if (ev.xproperty.atom == stamp) return ev.xproperty.time;
  }
}

void TrayHost::Send(Window AWindow, Atom AType, long AMask, const std::array<long, 5>& AData) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = AWindow;
  ev.xclient.message_type = AType;
  ev.xclient.format = 32;
  std::copy(AData.begin(), AData.end(), ev.xclient.data.l);
  XSendEvent(m_dpy, AWindow, False, AMask, &ev);
}

bool TrayHost::Start() {
  m_screen = DefaultScreen(m_dpy);
  m_root = RootWindow(m_dpy, m_screen);
  const int width = m_size * kMaxIcons;
  m_x = DisplayWidth(m_dpy, m_screen) - width;
  m_y = DisplayHeight(m_dpy, m_screen) - m_size;
  XSetWindowAttributes attrs{};
  attrs.background_pixel = WhitePixel(m_dpy, m_screen);
  attrs.event_mask = SubstructureNotifyMask | PropertyChangeMask | KeyPressMask;
  m_strip = XCreateWindow(m_dpy, m_root, m_x, m_y, unsigned(width), unsigned(m_size), 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attrs);
  XStoreName(m_dpy, m_strip, "Tray");
  m_opcode = A("_NET_SYSTEM_TRAY_OPCODE");
  m_xembed = A("_XEMBED");
  m_xembedInfo = A("_XEMBED_INFO");
  m_manager = A("MANAGER");
  m_selection = A(("_NET_SYSTEM_TRAY_S" + std::to_string(m_screen)).c_str());

  if (XGetSelectionOwner(m_dpy, m_selection) != 0) {
    std::fprintf(stderr, "trayhost: the screen has a tray already\n");
    return false;
  }
  // Clients pick the visual of their icons from here: the screen's own.
  const long orientation = kHorizontal;
  XChangeProperty(m_dpy, m_strip, A("_NET_SYSTEM_TRAY_ORIENTATION"), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&orientation), 1);
  const long visual = long(XVisualIDFromVisual(DefaultVisual(m_dpy, m_screen)));
  XChangeProperty(m_dpy, m_strip, A("_NET_SYSTEM_TRAY_VISUAL"), XA_VISUALID, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&visual), 1);
  XMapRaised(m_dpy, m_strip);

  const Time now = ServerTime();
  XSetSelectionOwner(m_dpy, m_selection, m_strip, now);
  if (XGetSelectionOwner(m_dpy, m_selection) != m_strip) {
    std::fprintf(stderr, "trayhost: could not take the tray selection\n");
    return false;
  }
  // Clients already running learn of the new tray from this announcement.
  Send(m_root, m_manager, StructureNotifyMask, {long(now), long(m_selection), long(m_strip), 0, 0});
  XSync(m_dpy, False);
  std::printf("ready %lu\n", m_strip);
  return true;
}

Icon* TrayHost::Find(Window AWindow) {
  for (Icon& i : m_icons)
    if (i.window == AWindow) return &i;
  return nullptr;
}

int TrayHost::FreeSlot() const {
  for (int s = 0; s < kMaxIcons; ++s)
    if (std::none_of(m_icons.begin(), m_icons.end(), [s](const Icon& i) { return i.slot == s; })) return s;
  return -1;
}

void TrayHost::ApplyEmbedInfo(Window AIcon) {
  // The client says through _XEMBED_INFO whether it wants to be seen; a
  // client without the property is shown.
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool mapped = true;
  if (XGetWindowProperty(m_dpy, AIcon, m_xembedInfo, 0, 2, False, AnyPropertyType, &type, &format, &count,
                         &after, &data) == Success &&
      data) {
    if (format == 32 && count >= 2) mapped = (reinterpret_cast<unsigned long*>(data)[1] & kXEmbedMapped) != 0;
    XFree(data);
  }
  if (mapped)
    XMapRaised(m_dpy, AIcon);
  else
    XUnmapWindow(m_dpy, AIcon);
}

void TrayHost::Dock(Window AIcon) {
  if (Find(AIcon)) return;
  const int slot = FreeSlot();
  if (slot < 0) return;
  g_xError = false;
  XSelectInput(m_dpy, AIcon, StructureNotifyMask | PropertyChangeMask);
  // Should the tray end first, the server hands the icon back to the root.
  XAddToSaveSet(m_dpy, AIcon);
  XReparentWindow(m_dpy, AIcon, m_strip, slot * m_size, 0);
  XResizeWindow(m_dpy, AIcon, unsigned(m_size), unsigned(m_size));
  if (!m_quietEmbed)
    Send(AIcon, m_xembed, NoEventMask, {long(CurrentTime), kEmbeddedNotify, 0, long(m_strip), kXEmbedVersion});
  ApplyEmbedInfo(AIcon);
  XSync(m_dpy, False);
  if (g_xError) return;  // the window went before it could be docked
  m_icons.push_back({AIcon, slot});
  std::printf("dock %lu %d %d %d %d\n", AIcon, m_x + slot * m_size, m_y, m_size, m_size);
}

void TrayHost::Undock(Window AIcon, bool AGiveBack) {
  const auto it = std::find_if(m_icons.begin(), m_icons.end(), [AIcon](const Icon& i) { return i.window == AIcon; });
  if (it == m_icons.end()) return;
  m_icons.erase(it);
  if (AGiveBack) {
    XUnmapWindow(m_dpy, AIcon);
    XReparentWindow(m_dpy, AIcon, m_root, 0, 0);
    XRemoveFromSaveSet(m_dpy, AIcon);
  }
  std::printf("undock %lu\n", AIcon);
}

bool TrayHost::HandleEvents() {
  while (XPending(m_dpy)) {
    XEvent ev;
    XNextEvent(m_dpy, &ev);
    switch (ev.type) {
      case ClientMessage:
        if (ev.xclient.message_type == m_opcode && ev.xclient.format == 32 &&
            ev.xclient.data.l[1] == kRequestDock)
          Dock(Window(ev.xclient.data.l[2]));
        // Balloon messages (the other opcodes) are not shown.
        break;
      case DestroyNotify:
        Undock(ev.xdestroywindow.window, false);
        break;
      case ReparentNotify:
        if (ev.xreparent.parent != m_strip) Undock(ev.xreparent.window, false);
        break;
      case PropertyNotify:
        if (ev.xproperty.atom == m_xembedInfo && Find(ev.xproperty.window)) ApplyEmbedInfo(ev.xproperty.window);
        break;
      case KeyPress: {
        char text[16];
        const int n = XLookupString(&ev.xkey, text, sizeof text, nullptr, nullptr);
        if (n <= 0) break;  // a modifier
        std::printf("key");
        for (int i = 0; i < n; ++i) std::printf(" %02x", unsigned(static_cast<unsigned char>(text[i])));
        std::printf("\n");
        break;
      }
      case SelectionClear:
        if (ev.xselectionclear.selection == m_selection) {
          std::fprintf(stderr, "trayhost: another tray took over\n");
          return false;
        }
        break;
      default:
        break;
    }
  }
  std::fflush(stdout);
  return true;
}

void TrayHost::Stop() {
  while (!m_icons.empty()) Undock(m_icons.back().window, true);
  if (XGetSelectionOwner(m_dpy, m_selection) == m_strip) XSetSelectionOwner(m_dpy, m_selection, 0, CurrentTime);
  XDestroyWindow(m_dpy, m_strip);
  XSync(m_dpy, False);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int iconSize = 24;
  bool quietEmbed = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--icon-size") == 0 && i + 1 < argc) {
      iconSize = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--quiet-embed") == 0) {
      quietEmbed = true;
    } else {
      std::fprintf(stderr, "usage: %s [--icon-size N] [--quiet-embed]\n", argv[0]);
      return 2;
    }
  }
  if (iconSize < 8 || iconSize > 128) {
    std::fprintf(stderr, "trayhost: icon size out of range\n");
    return 2;
  }
  // The signals that end the tray are read from a descriptor, in the same
  // wait as the X connection and stdin.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigprocmask(SIG_BLOCK, &ending, nullptr);
  const int signals = signalfd(-1, &ending, SFD_CLOEXEC);
  if (signals < 0) {
    std::perror("trayhost: signalfd");
    return 1;
  }
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "trayhost: cannot open the display\n");
    return 1;
  }
  XSetErrorHandler(RecordError);
  TrayHost tray(dpy, iconSize, quietEmbed);
  if (!tray.Start()) return 1;
  std::fflush(stdout);
  for (bool running = true; running;) {
    pollfd fds[] = {{tray.Fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
    if (!XPending(dpy) && poll(fds, 3, -1) < 0) continue;  // EINTR
    if (fds[1].revents) {
      char buf[256];
      if (read(STDIN_FILENO, buf, sizeof buf) <= 0) running = false;
    }
    if (fds[2].revents) running = false;
    if (!tray.HandleEvents()) running = false;
  }
  tray.Stop();
  XCloseDisplay(dpy);
  close(signals);
  return 0;
}
