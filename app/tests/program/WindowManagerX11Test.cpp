// The program and its desktop layer under a real window manager: openbox on
// Xvfb (started by with-xvfb-wm), which puts a frame of its own around every
// window, places windows and keeps the active window. What it changes: the
// top-level window holding the focus is its frame, the window's position is
// the frame's, and the icons are what task lists show. The real program is
// started several times with a home and settings of its own.
#include <poll.h>

#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/ChildProcess.h"
#include "tools/ProgramHome.h"
#include "x11/XRecorder.h"
#include "XDesktop.h"

// Last: Xlib's macros (None, Bool, Status) break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

using testtools::ChildProcess;
using Clock = std::chrono::steady_clock;

// Limits for things that normally take a fraction of a second; only a
// failing test waits them out. Starting takes longest under the sanitizers.
constexpr int kStartMs = 20000;
constexpr int kReactMs = 5000;

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

std::ostream& operator<<(std::ostream& AOut, const Point& APoint) {
  return AOut << '[' << APoint.x << ',' << APoint.y << ']';
}

// The tests' own look at the screen, as the window manager and task lists
// see it: the managed windows (clients), their frames, types and icons.
class WmView {
 public:
  WmView() : m_dpy(XOpenDisplay(nullptr)) {
    if (!m_dpy) return;
    m_root = DefaultRootWindow(m_dpy);
    XSelectInput(m_dpy, m_root, PropertyChangeMask | SubstructureNotifyMask);
  }
  ~WmView() {
    if (m_dpy) XCloseDisplay(m_dpy);
  }
  WmView(const WmView&) = delete;
  WmView& operator=(const WmView&) = delete;

  bool Ok() const { return m_dpy != nullptr; }
  bool Managed() { return !Cardinals(m_root, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty(); }

  // The window manager's clients of process APid with the window type
  // _NET_WM_WINDOW_TYPE_<AType>.
  std::vector<Window> ClientsOf(pid_t APid, const std::string& AType) {
    std::vector<Window> found;
    const Atom type = Intern(("_NET_WM_WINDOW_TYPE_" + AType).c_str());
    for (unsigned long w : Cardinals(m_root, "_NET_CLIENT_LIST", XA_WINDOW)) {
      const auto pid = Cardinals(w, "_NET_WM_PID", XA_CARDINAL);
      const auto types = Cardinals(w, "_NET_WM_WINDOW_TYPE", XA_ATOM);
      if (!pid.empty() && pid_t(pid[0]) == APid && !types.empty() && types[0] == type) found.push_back(w);
    }
    return found;
  }
  // The frame the window manager put around AClient: the child of the root
  // holding it; 0 while it is not framed.
  Window FrameOf(Window AClient) {
    Window w = AClient;
    for (;;) {
      Window root = 0, parent = 0, *children = nullptr;
      unsigned count = 0;
      if (!XQueryTree(m_dpy, w, &root, &parent, &children, &count)) return 0;
      if (children) XFree(children);
      if (parent == m_root) return w == AClient ? 0 : w;
      w = parent;
    }
  }
  // Where the frame of a framed client on the screen stands (the client
  // itself viewable, so that it has been told it is shown).
  std::optional<Point> FramePos(Window AClient) {
    const Window frame = FrameOf(AClient);
    XWindowAttributes a, client;
    if (!frame || !XGetWindowAttributes(m_dpy, AClient, &client) || client.map_state != IsViewable ||
        !XGetWindowAttributes(m_dpy, frame, &a))
      return std::nullopt;
    return Point{a.x, a.y};
  }
  // _NET_WM_ICON: width, height and the ARGB pixels of each image.
  std::vector<unsigned long> Icon(Window AWindow) { return Cardinals(AWindow, "_NET_WM_ICON", XA_CARDINAL); }
  void SetActiveWindow(Window AWindow) {
    const unsigned long value = AWindow;
    XChangeProperty(m_dpy, m_root, Intern("_NET_ACTIVE_WINDOW"), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&value), 1);
    XSync(m_dpy, False);
  }
  unsigned long ActiveWindow() {
    const auto active = Cardinals(m_root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return active.empty() ? 0 : active[0];
  }
  // Asks the window manager to move a client's frame to APos, as a pager
  // or the user's drag does.
  void MoveFrame(Window AClient, const Point& APos) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = AClient;
    ev.xclient.message_type = Intern("_NET_MOVERESIZE_WINDOW");
    ev.xclient.format = 32;
    // North-west gravity (the frame's corner), x and y given, source: a pager.
    ev.xclient.data.l[0] = NorthWestGravity | (1 << 8) | (1 << 9) | (2 << 12);
    ev.xclient.data.l[1] = APos.x;
    ev.xclient.data.l[2] = APos.y;
    XSendEvent(m_dpy, m_root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XFlush(m_dpy);
  }

  // Where a client stands on the screen, and its size.
  std::optional<std::pair<Point, Point>> ClientRect(Window AClient) {
    XWindowAttributes a;
    Window child = 0;
    int x = 0, y = 0;
    if (!XGetWindowAttributes(m_dpy, AClient, &a) ||
        !XTranslateCoordinates(m_dpy, AClient, m_root, 0, 0, &x, &y, &child))
      return std::nullopt;
    return std::make_pair(Point{x, y}, Point{a.width, a.height});
  }
  // A pop-up menu of process APid on the screen (menus pass by the window
  // manager); 0 when none.
  Window MenuOf(pid_t APid) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(m_dpy, m_root, &root, &parent, &children, &count) && children) {
      for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes a;
        const auto pid = Cardinals(children[i], "_NET_WM_PID", XA_CARDINAL);
        if (XGetWindowAttributes(m_dpy, children[i], &a) && a.override_redirect && a.map_state == IsViewable &&
            !pid.empty() && pid_t(pid[0]) == APid)
          found = children[i];
      }
    }
    if (children) XFree(children);
    return found;
  }
  void Click(const Point& AAt, unsigned AButton) {
    XTestFakeMotionEvent(m_dpy, -1, AAt.x, AAt.y, CurrentTime);
    XTestFakeButtonEvent(m_dpy, AButton, True, CurrentTime);
    XTestFakeButtonEvent(m_dpy, AButton, False, CurrentTime);
    XFlush(m_dpy);
  }
  // A key, alone or with the modifiers before it ("shift+F10").
  void Key(const std::string& AKeys) {
    std::vector<KeyCode> codes;
    for (size_t from = 0;;) {
      const size_t plus = AKeys.find('+', from);
      std::string name = AKeys.substr(from, plus == std::string::npos ? std::string::npos : plus - from);
      if (name == "shift") name = "Shift_L";
      codes.push_back(XKeysymToKeycode(m_dpy, XStringToKeysym(name.c_str())));
      if (plus == std::string::npos) break;
      from = plus + 1;
    }
    for (KeyCode code : codes) XTestFakeKeyEvent(m_dpy, code, True, CurrentTime);
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) XTestFakeKeyEvent(m_dpy, *code, False, CurrentTime);
    XFlush(m_dpy);
  }
  // The size of a window (a menu).
  Point Size(Window AWindow) {
    XWindowAttributes a;
    return XGetWindowAttributes(m_dpy, AWindow, &a) ? Point{a.width, a.height} : Point{};
  }

  // What the window asks of the window manager about its frame's buttons:
  // the functions and decorations of _MOTIF_WM_HINTS (each 0 when not given).
  struct MotifHints {
    unsigned long functions = 0, decorations = 0;
  };
  std::optional<MotifHints> Motif(Window AWindow) {
    const Atom motif = Intern("_MOTIF_WM_HINTS");
    const auto values = Cardinals(AWindow, "_MOTIF_WM_HINTS", motif);
    if (values.size() < 3) return std::nullopt;
    MotifHints hints;
    if (values[0] & 1) hints.functions = values[1];
    if (values[0] & 2) hints.decorations = values[2];
    return hints;
  }
  // Whether the window asks for one size only (its least and largest).
  bool FixedSize(Window AWindow) {
    XSizeHints hints{};
    long given = 0;
    return XGetWMNormalHints(m_dpy, AWindow, &hints, &given) && (hints.flags & PMinSize) &&
           (hints.flags & PMaxSize) && hints.min_width == hints.max_width && hints.min_height == hints.max_height;
  }
  // What the window manager lets the user do with the window
  // (_NET_WM_ALLOWED_ACTIONS), by the actions' names.
  std::vector<std::string> AllowedActions(Window AWindow) {
    std::vector<std::string> names;
    for (unsigned long atom : Cardinals(AWindow, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM)) {
      char* name = XGetAtomName(m_dpy, Atom(atom));
      if (name) names.emplace_back(name);
      if (name) XFree(name);
    }
    return names;
  }

  // Checks ACondition whenever the screen changes, and in short steps
  // between, until it holds or ATimeoutMs have passed.
  bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
    for (;;) {
      while (XPending(m_dpy)) {
        XEvent ev;
        XNextEvent(m_dpy, &ev);
      }
      if (ACondition()) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{ConnectionNumber(m_dpy), POLLIN, 0};
      poll(&p, 1, int(std::min<long long>(left, 20)));
    }
  }

 private:
  Atom Intern(const char* AName) { return XInternAtom(m_dpy, AName, False); }
  std::vector<unsigned long> Cardinals(Window AWindow, const char* AProperty, Atom AType) {
    std::vector<unsigned long> items;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(m_dpy, AWindow, Intern(AProperty), 0, 1 << 20, False, AType, &type, &format, &count,
                           &after, &data) == Success &&
        data && type == AType && format == 32) {
      auto* values = reinterpret_cast<const unsigned long*>(data);
      items.assign(values, values + count);
    }
    if (data) XFree(data);
    return items;
  }

  Display* m_dpy = nullptr;
  Window m_root = 0;
};

// Windows vanish while the tests look at them (the program ends): such
// errors are no failure of the test.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

class UnderWindowManager : public ::testing::Test {
 protected:
  void SetUp() override {
    XSetErrorHandler(IgnoreXErrors);
    ASSERT_TRUE(wm_.Ok());
    ASSERT_TRUE(wm_.Managed()) << "no window manager: run under with-xvfb-wm";
  }
  WmView wm_;
};

// ---- the window that has the keyboard ---------------------------------------

TEST_F(UnderWindowManager, TheFocusedClientIsFoundWhenNoWindowIsMarkedActive) {
  const std::u16string title = u"Typed here — тест";
  x11test::XRecorder recorder("Typed here — тест");
  ASSERT_TRUE(recorder.Ok());
  auto desktop = x11::XDesktop::Open();
  ASSERT_TRUE(desktop);
  ASSERT_TRUE(wm_.WaitFor([&] { return wm_.FramePos(recorder.Window()).has_value(); }, kReactMs));
  desktop->Activate(recorder.Window());
  ASSERT_TRUE(desktop->WaitForeground(recorder.Window(), kReactMs));
  EXPECT_EQ(desktop->ForegroundWindow(), recorder.Window());
  // Openbox empties the active window between focus changes, while the
  // focus stays in the client inside its frame.
  wm_.SetActiveWindow(0);
  ASSERT_EQ(wm_.ActiveWindow(), 0u);
  EXPECT_EQ(desktop->ForegroundWindow(), recorder.Window());
  EXPECT_EQ(desktop->WindowTitle(desktop->ForegroundWindow()), title);
  // The frame and the client are one window to the rest of the delivery.
  EXPECT_TRUE(desktop->SameTopLevel(desktop->ForegroundWindow(), wm_.FrameOf(recorder.Window())));
}

// ---- the real program ---------------------------------------------------------

// The program in a home of its own, started and ended as the user does.
class Program {
 public:
  explicit Program(const testtools::ProgramHome& AHome, const std::vector<std::string>& AArgs = {})
      : m_proc(Argv(AArgs), AHome.ProgramEnvironment()) {}
  pid_t Pid() const { return m_proc.Pid(); }
  bool Started() const { return m_proc.Started(); }
  // The way the session ends it: the program ends as by Exit.
  std::optional<int> End() {
    m_proc.Signal(SIGTERM);
    return m_proc.WaitExit(kStartMs);
  }

 private:
  static std::vector<std::string> Argv(const std::vector<std::string>& AArgs) {
    std::vector<std::string> argv{SORVEX_PROGRAM};
    argv.insert(argv.end(), AArgs.begin(), AArgs.end());
    return argv;
  }
  ChildProcess m_proc;
};

// The main window is a tool window, an error dialog a dialog.
Window WaitClient(WmView& AWm, const Program& AProgram, const std::string& AType) {
  Window found = 0;
  AWm.WaitFor(
      [&] {
        for (Window w : AWm.ClientsOf(AProgram.Pid(), AType))
          if (AWm.FramePos(w)) found = w;
        return found != 0;
      },
      kStartMs);
  return found;
}

// Closes the program's open menu with Escape.
void CloseMenu(WmView& AWm, const Program& AProgram) {
  bool closed = false;
  // The menu takes the keyboard as it opens; a key that came first is
  // pressed again.
  for (int attempt = 0; attempt < 3 && !closed; ++attempt) {
    AWm.Key("Escape");
    closed = AWm.WaitFor([&] { return AWm.MenuOf(AProgram.Pid()) == 0; }, attempt < 2 ? 1000 : kReactMs);
  }
  ASSERT_TRUE(closed) << "the menu stayed open";
}

// Opens the window's context menu and closes it again: once the program has
// answered the click, it has heard of everything that happened to its window
// before (the server sends it events in order).
void RoundTrip(WmView& AWm, const Program& AProgram, Window AMain) {
  const auto rect = AWm.ClientRect(AMain);
  ASSERT_TRUE(rect);
  // The margin of the window's left group: no control there has a menu of its own.
  AWm.Click({rect->first.x + 3, rect->first.y + rect->second.y / 2}, 3);
  ASSERT_TRUE(AWm.WaitFor([&] { return AWm.MenuOf(AProgram.Pid()) != 0; }, kReactMs)) << "no context menu";
  ASSERT_NO_FATAL_FAILURE(CloseMenu(AWm, AProgram));
}

// "FormPos" of the settings file, as stored.
std::string StoredFormPos(const testtools::ProgramHome& AHome) {
  std::istringstream in(AHome.ReadSettings());
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("FormPos=", 0) == 0) return line.substr(8);
  return {};
}

TEST_F(UnderWindowManager, AWindowTheUserDidNotMoveComesBackWhereItWasAtEveryStart) {
  for (const char* panel : {"0", "1"}) {
    SCOPED_TRACE(std::string("ShowFmtPan=") + panel);
    testtools::ProgramHome home;
    ASSERT_TRUE(home.Ok());
    home.WriteSettings(std::string("FormPos=[98,60]\nShowFmtPan=") + panel + "\n");
    Point where{98, 60};
    for (int start = 1; start <= 5; ++start) {
      SCOPED_TRACE("start " + std::to_string(start));
      Program program(home);
      ASSERT_TRUE(program.Started());
      const Window main = WaitClient(wm_, program, "UTILITY");
      ASSERT_NE(main, 0u);
      // The frame, the part of the window the user places, stands where it
      // stood when the program last ended.
      EXPECT_TRUE(wm_.WaitFor([&] { return wm_.FramePos(main) == where; }, kReactMs))
          << "the frame is at " << wm_.FramePos(main).value_or(Point{-1, -1}) << ", not at " << where;
      if (start == 3) {
        // The user moves it: from now on it comes back there.
        where = {300, 200};
        wm_.MoveFrame(main, where);
        ASSERT_TRUE(wm_.WaitFor([&] { return wm_.FramePos(main) == where; }, kReactMs));
        // The end must not overtake the program hearing of the move.
        ASSERT_NO_FATAL_FAILURE(RoundTrip(wm_, program, main));
      }
      ASSERT_EQ(program.End(), 0);
      EXPECT_EQ(StoredFormPos(home), "[" + std::to_string(where.x) + "," + std::to_string(where.y) + "]");
    }
  }
}

// The program's active image, as _NET_WM_ICON holds it: one image for each
// size the icon theme has it in, each the 16 by 16 drawing (a green disc on a
// transparent ground) with every pixel grown to a square, as the installed
// images are drawn.
void ExpectProgramIcon(const std::vector<unsigned long>& AIcon) {
  std::vector<int> sizes;
  std::vector<uint32_t> drawing;  // the 16 by 16 image
  std::vector<std::pair<int, size_t>> images;  // size, offset of its pixels
  for (size_t at = 0; at + 2 <= AIcon.size();) {
    const auto w = AIcon[at], h = AIcon[at + 1];
    ASSERT_EQ(w, h) << "an image that is not square";
    ASSERT_LE(at + 2 + w * h, AIcon.size()) << "an image cut short";
    sizes.push_back(int(w));
    images.emplace_back(int(w), at + 2);
    if (w == 16) drawing.assign(AIcon.begin() + long(at) + 2, AIcon.begin() + long(at + 2 + w * h));
    at += 2 + w * h;
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, std::vector<int>({SORVEX_ICON_SIZES}));
  ASSERT_EQ(drawing.size(), 16u * 16u) << "no 16 by 16 image";
  EXPECT_EQ(drawing[8 * 16 + 8], 0xFF2EA043u);
  EXPECT_EQ(drawing[0] >> 24, 0u);
  for (const auto& [size, offset] : images) {
    SCOPED_TRACE("size " + std::to_string(size));
    int wrong = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        if (uint32_t(AIcon[offset + size_t(y * size + x)]) != drawing[(y * 16 / size) * 16 + x * 16 / size]) ++wrong;
    EXPECT_EQ(wrong, 0) << "pixels that are not the drawing's";
  }
}

TEST_F(UnderWindowManager, TheWindowAndItsDialogsShowTheProgramsIcon) {
  testtools::ProgramHome home;
  ASSERT_TRUE(home.Ok());
  home.WriteSettings("ShowFmtPan=1\n");
  // A port that does not exist: the start ends in an error dialog.
  Program program(home, {"-pnosuch"});
  ASSERT_TRUE(program.Started());
  const Window main = WaitClient(wm_, program, "UTILITY");
  ASSERT_NE(main, 0u);
  const Window dialog = WaitClient(wm_, program, "DIALOG");
  ASSERT_NE(dialog, 0u);
  {
    SCOPED_TRACE("main window");
    ExpectProgramIcon(wm_.Icon(main));
  }
  {
    SCOPED_TRACE("error dialog");
    ExpectProgramIcon(wm_.Icon(dialog));
  }
  EXPECT_EQ(program.End(), 0);
}

// The window's menu without a mouse: the Menu key and Shift+F10 where the
// focused control has no menu of its own (the port's switch has the
// keyboard at the start), and Space or Return on the "menu" link, three
// stops of Tab on. Each opens the menu a right click on the window's margin
// opens.
TEST_F(UnderWindowManager, TheWindowsMenuOpensFromTheKeyboard) {
  testtools::ProgramHome home;
  ASSERT_TRUE(home.Ok());
  Program program(home);
  ASSERT_TRUE(program.Started());
  const Window main = WaitClient(wm_, program, "UTILITY");
  ASSERT_NE(main, 0u);
  auto desktop = x11::XDesktop::Open();
  ASSERT_TRUE(desktop);
  desktop->Activate(main);
  ASSERT_TRUE(desktop->WaitForeground(main, kReactMs));
  const auto rect = wm_.ClientRect(main);
  ASSERT_TRUE(rect);
  wm_.Click({rect->first.x + 3, rect->first.y + rect->second.y / 2}, 3);
  Window menu = 0;
  ASSERT_TRUE(wm_.WaitFor([&] { return (menu = wm_.MenuOf(program.Pid())) != 0; }, kReactMs));
  const Point windowMenu = wm_.Size(menu);
  ASSERT_NO_FATAL_FAILURE(CloseMenu(wm_, program));

  const std::vector<std::vector<std::string>> ways = {
      {"Menu"}, {"shift+F10"}, {"Tab", "Tab", "Tab", "space"}, {"Return"}};  // the link keeps the keyboard
  for (const auto& keys : ways) {
    SCOPED_TRACE(keys.back());
    for (const std::string& key : keys) wm_.Key(key);
    ASSERT_TRUE(wm_.WaitFor([&] { return (menu = wm_.MenuOf(program.Pid())) != 0; }, kReactMs)) << "no menu";
    EXPECT_EQ(wm_.Size(menu), windowMenu) << "not the window's menu";
    ASSERT_NO_FATAL_FAILURE(CloseMenu(wm_, program));
  }
  EXPECT_EQ(program.End(), 0);
}

// A window of one size has nothing to maximise: the program's windows ask
// for neither a maximise button nor resizing, and only the main window (it
// hides to the tray) for a minimise button. Openbox draws its buttons
// whatever a window asks; it allows what the window leaves it.
void ExpectOneSizeWindow(WmView& AWm, Window AWindow, bool AMinimise) {
  constexpr unsigned long kMinimise = 1ul << 3, kMaximise = 1ul << 4;  // functions
  constexpr unsigned long kMinimiseButton = 1ul << 5, kMaximiseButton = 1ul << 6;  // decorations
  EXPECT_TRUE(AWm.FixedSize(AWindow));
  const auto hints = AWm.Motif(AWindow);
  ASSERT_TRUE(hints) << "no _MOTIF_WM_HINTS";
  EXPECT_EQ(bool(hints->functions & kMinimise), AMinimise);
  EXPECT_EQ(bool(hints->decorations & kMinimiseButton), AMinimise);
  EXPECT_FALSE(hints->functions & kMaximise);
  EXPECT_FALSE(hints->decorations & kMaximiseButton);
  const auto allowed = AWm.AllowedActions(AWindow);
  auto has = [&](const char* AAction) { return std::find(allowed.begin(), allowed.end(), AAction) != allowed.end(); };
  EXPECT_FALSE(has("_NET_WM_ACTION_MAXIMIZE_HORZ") || has("_NET_WM_ACTION_MAXIMIZE_VERT"));
  EXPECT_FALSE(has("_NET_WM_ACTION_RESIZE"));
  if (AMinimise) {
    EXPECT_TRUE(has("_NET_WM_ACTION_MINIMIZE"));
  }
}

TEST_F(UnderWindowManager, TheWindowsOfOneSizeAskForNoMaximiseAndOnlyTheMainWindowForMinimise) {
  testtools::ProgramHome home;
  ASSERT_TRUE(home.Ok());
  // A port that does not exist: the start ends in an error dialog.
  Program program(home, {"-pnosuch"});
  ASSERT_TRUE(program.Started());
  const Window main = WaitClient(wm_, program, "UTILITY");
  ASSERT_NE(main, 0u);
  {
    SCOPED_TRACE("main window");
    ExpectOneSizeWindow(wm_, main, true);
  }
  const Window error = WaitClient(wm_, program, "DIALOG");
  ASSERT_NE(error, 0u);
  {
    SCOPED_TRACE("error dialog");
    ExpectOneSizeWindow(wm_, error, false);
  }
  wm_.Key("Return");  // its OK button
  ASSERT_TRUE(wm_.WaitFor([&] { return wm_.ClientsOf(program.Pid(), "DIALOG").empty(); }, kReactMs));
  auto desktop = x11::XDesktop::Open();
  ASSERT_TRUE(desktop);
  // The settings dialog and the about box, from the window's menu:
  // "Settings..." is its second item, "About..." the second of "Help", its
  // seventh.
  const struct {
    const char* name;
    std::vector<std::string> keys;
  } dialogs[] = {{"settings", {"Down", "Down", "Return"}},
                 {"about box", {"Down", "Down", "Down", "Down", "Down", "Down", "Down", "Right", "Down", "Return"}}};
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.name);
    desktop->Activate(main);
    ASSERT_TRUE(desktop->WaitForeground(main, kReactMs));
    wm_.Key("Menu");
    ASSERT_TRUE(wm_.WaitFor([&] { return wm_.MenuOf(program.Pid()) != 0; }, kReactMs));
    for (const std::string& key : d.keys) wm_.Key(key);
    const Window dialog = WaitClient(wm_, program, "DIALOG");
    ASSERT_NE(dialog, 0u);
    ExpectOneSizeWindow(wm_, dialog, false);
    wm_.Key("Escape");
    ASSERT_TRUE(wm_.WaitFor([&] { return wm_.ClientsOf(program.Pid(), "DIALOG").empty(); }, kReactMs));
  }
  EXPECT_EQ(program.End(), 0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
