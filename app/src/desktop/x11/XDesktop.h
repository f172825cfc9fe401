// The X11 desktop as the delivery needs it: the foreground window, its
// title, the window below ours, moving the focus, and typing keys with XTest
// under a chosen keyboard group. Xlib stays inside the .cpp files: its
// macros (None, Bool, KeyPress...) break Qt's moc and Qt headers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace x11 {

using WindowId = unsigned long;

struct Connection;

class XDesktop {
 public:
  // A connection to ADisplay ($DISPLAY when empty); nothing when there is no
  // X server or it lacks the XTest or XKB extension.
  static std::unique_ptr<XDesktop> Open(const std::string& ADisplay = {});
  // Whether an X server answers on ADisplay ($DISPLAY when empty). Says
  // nothing on standard error, unlike a failing XOpenDisplay.
  static bool Reachable(const std::string& ADisplay);
  ~XDesktop();
  XDesktop(const XDesktop&) = delete;
  XDesktop& operator=(const XDesktop&) = delete;

  // The window that has the keyboard: the window manager's active window
  // (_NET_ACTIVE_WINDOW), else the client window of the top-level window
  // holding the input focus (under a window manager the top-level window is
  // its frame; the client is the window in it carrying WM_STATE). 0 when
  // none.
  WindowId ForegroundWindow();
  // The child of the root that contains AWindow (AWindow itself for a
  // top-level window); 0 for the root or an unknown window.
  WindowId TopLevelOf(WindowId AWindow);
  // The top-level window that stands for AWindow on the screen when
  // AWindow is a window of its own: AWindow itself, or the window manager's
  // frame around it. 0 when AWindow lives inside another program's window,
  // as a tray icon does inside the panel that embeds it.
  WindowId OwnTopLevel(WindowId AWindow);
  // Where the top-level window containing AWindow (under a window manager:
  // its frame) stands on the screen now; false for an unknown window.
  bool TopLevelPosition(WindowId AWindow, int& AX, int& AY);
  // Whether two windows are the same top-level window.
  bool SameTopLevel(WindowId A, WindowId B);
  // The title (_NET_WM_NAME, else WM_NAME) as UTF-16, at most AMaxUnits
  // units, never ending in half a surrogate pair.
  std::u16string WindowTitle(WindowId AWindow, size_t AMaxUnits = 127);
  // The first viewable window below AWindow in the stacking order
  // (_NET_CLIENT_LIST_STACKING, else the root's children) that is none of
  // ASkip; 0 when none.
  WindowId WindowBelow(WindowId AWindow, const std::vector<WindowId>& ASkip = {});
  // The top-level window seen at a point of the screen (root coordinates):
  // the highest viewable child of the root containing it, override-redirect
  // windows (menus, tooltips) included; 0 when none.
  WindowId TopLevelAt(int AX, int AY);
  // Raises AWindow and gives it the focus (through the window manager when
  // there is one).
  void Activate(WindowId AWindow);
  // Waits until AWindow is the foreground window and holds the input focus,
  // at most ATimeoutMs. With AInner, until the focus has gone on into one
  // of AWindow's inner windows, as a toolkit moves it there in reply to
  // the focus its top-level window got: keys sent before that reach the
  // top-level window, where such a toolkit does not look for them.
  bool WaitForeground(WindowId AWindow, int ATimeoutMs, bool AInner = false);

  // Following the keyboard. Without a window manager the stacking order
  // tells nothing about where the keyboard was: a window gets the focus
  // without coming to the front. From FollowFocus on, this connection
  // hears of the focus entering every top-level window there is or comes,
  // and keeps the order in which they had it. The news arrive on
  // ConnectionFd(); ReadEvents() takes in what is there (the waits of this
  // class do too).
  void FollowFocus();
  int ConnectionFd() const;
  void ReadEvents();
  // The window to give the keyboard back to: of the top-level windows that
  // had the focus, the one that had it last, is still viewable and is
  // none of ASkipTops (under a window manager: its client window). AInner,
  // when given, tells whether the focus was last on one of its inner
  // windows (toolkits keep it on a child window of their own); never under
  // a window manager. 0 when none.
  WindowId LastFocused(const std::vector<WindowId>& ASkipTops, bool* AInner = nullptr);
  // The window manager's "above" state of a window; nothing without one.
  void SetKeepAbove(WindowId AWindow, bool AOn);

  // Returns once the X server has handled every request sent so far on
  // another connection of this process (Qt's own, AConnection), such as
  // the release of a menu's keyboard grab.
  static void SyncConnection(xcb_connection_t* AConnection);

  // The keyboard: locked group, Caps Lock, and the group of the "us"
  // layout (from the layout names the keyboard was set up with).
  int CurrentGroup();
  void LockGroup(int AGroup);
  bool CapsLockOn();
  int GroupCount();
  int UsGroup();

  // A key by the two symbols of a US key: the unshifted one and the one
  // Shift gives (the same for keys without a second symbol).
  struct Key {
    uint32_t base;
    uint32_t shifted;
    bool operator==(const Key&) const = default;
  };
  // Reads the keyboard map again (FindKeycode works on the last one read).
  void RefreshKeyboardMap();
  // The keycode giving AKey in AGroup (levels 1 and 2 both matching), found
  // by scanning every key of the keyboard map; 0 when no key has it.
  int FindKeycode(const Key& AKey, int AGroup);

  // Typing under one group (the constructor is the switch to the US layout,
  // RestoreLayout the way back). The constructor locks the group of the "us"
  // layout, else the group that has the most of AKeys; keys that group
  // lacks are typed on spare (unused) keycodes, mapped before the first key
  // for the time of the typing. When there are more such keys than spare
  // keycodes, a spare is mapped anew once kSpareHoldMs have passed since
  // its last use. RestoreLayout puts back the group and the spares; the
  // destructor runs it too.
  class Typing {
   public:
    explicit Typing(XDesktop& ADesktop, const std::vector<Key>& AKeys);
    ~Typing();
    Typing(const Typing&) = delete;
    Typing& operator=(const Typing&) = delete;
    void Press(const Key& AKey) { Send(AKey, true); }
    void Release(const Key& AKey) { Send(AKey, false); }
    void RestoreLayout();
    int Group() const { return m_group; }

   private:
    struct Spare {
      int keycode;
      Key key;
      int64_t lastUseMs;
    };
    void Send(const Key& AKey, bool ADown);
    int SpareFor(const Key& AKey);

    XDesktop& m_desktop;
    int m_oldGroup = 0;
    int m_group = 0;
    bool m_ended = false;
    std::vector<int> m_freeKeycodes;
    std::vector<Spare> m_spares;
  };

  // How long a spare keycode stays mapped after its last use: clients read
  // the changed map after the key event, in their own time.
  static constexpr int kSpareHoldMs = 50;

 private:
  explicit XDesktop(std::unique_ptr<Connection> AConn);
  std::unique_ptr<Connection> m_conn;
};

}  // namespace x11
