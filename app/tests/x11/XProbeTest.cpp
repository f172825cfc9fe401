// The probe's waits and clicks, on the X server of the tests: faults of the
// probe show in the programs' tests only now and then, as a test that
// passes late or a program that does not do as it was told.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <vector>

#include "x11/XProbe.h"

namespace {

using x11test::XProbe;
using x11test::XWindow;

// Another client of the server, with a window of its own not yet mapped
// that hears of the buttons pressed on it.
class OtherClient {
 public:
  OtherClient() : m_dpy(XOpenDisplay(nullptr)) {
    if (!m_dpy) return;
    m_window = XCreateSimpleWindow(m_dpy, DefaultRootWindow(m_dpy), 10, 10, 40, 40, 0, 0, 0);
    XSelectInput(m_dpy, m_window, ButtonPressMask);
    XSync(m_dpy, False);
  }
  ~OtherClient() {
    if (m_dpy) XCloseDisplay(m_dpy);
  }
  OtherClient(const OtherClient&) = delete;
  OtherClient& operator=(const OtherClient&) = delete;

  bool Ok() const { return m_dpy && m_window; }
  XWindow Window() const { return m_window; }
  // Mapped once this returns: the server has sent the probe its MapNotify.
  void Map() {
    XMapWindow(m_dpy, m_window);
    XSync(m_dpy, False);
  }
  // The server's times of the button presses that reached the window so
  // far, in ms.
  std::vector<unsigned long> PressTimes() {
    XSync(m_dpy, False);
    std::vector<unsigned long> times;
    while (XPending(m_dpy)) {
      XEvent ev;
      XNextEvent(m_dpy, &ev);
      if (ev.type == ButtonPress) times.push_back(ev.xbutton.time);
    }
    return times;
  }

 private:
  Display* m_dpy;
  XWindow m_window = 0;
};

// A wait that sleeps through the event it waits for ends only at its time
// limit, and the test that called it still passes, only late. A condition
// asks the server about several things in turn. When another
// client maps a window after the condition has looked at it, the map's
// event comes in with the reply to a later question: it is then in the
// probe's queue rather than on its connection, and the wait must still
// look again at once. Waits on events alone (no step) show it: they have
// nothing else to wake them before the limit.
TEST(ProbeWait, AnEventThatCameWithTheConditionsRepliesWakesTheWait) {
  XProbe probe;
  ASSERT_TRUE(probe.Ok()) << "no X server";
  OtherClient other;
  ASSERT_TRUE(other.Ok());

  constexpr int kLimitMs = 20000;
  bool mapped = false;
  const auto start = std::chrono::steady_clock::now();
  const bool seen = probe.WaitFor([&] {
    const bool viewable = probe.Viewable(other.Window());
    if (!mapped) {
      other.Map();
      mapped = true;
      probe.Focus();  // the question whose reply brings the event along
    }
    return viewable;
  }, kLimitMs, -1);
  const auto tookMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();

  EXPECT_TRUE(seen) << "the window was not seen mapped";
  // A wait woken by the event looks again within moments; one that slept
  // through it looks only when its limit is up.
  EXPECT_LT(tookMs, kLimitMs) << "the wait slept through the map until its limit";
}

// Two clicks of a test are two clicks: toolkits take two presses of one
// button at one place within their double-click time (400 ms for Qt and
// GTK) for a double click. A program's menu opened by the first right
// click and closed meanwhile (as a card arriving closes it) would open at
// the second and be closed at once by the double click that came with it.
TEST(ProbeClick, TwoClicksAtOnePlaceAreNoDoubleClick) {
  XProbe probe;
  ASSERT_TRUE(probe.Ok()) << "no X server";
  OtherClient other;
  ASSERT_TRUE(other.Ok());
  other.Map();
  ASSERT_TRUE(probe.WaitFor([&] { return probe.Viewable(other.Window()); }));
  const x11test::XRect at = probe.Geometry(other.Window());

  for (const unsigned button : {1u, 3u}) {
    SCOPED_TRACE(button);
    probe.Click(at.x + 5, at.y + 5, button);
    probe.Click(at.x + 5, at.y + 5, button);
    const std::vector<unsigned long> times = other.PressTimes();
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[1] - times[0], 400u);
  }
}

}  // namespace
