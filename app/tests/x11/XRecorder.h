// A window of the tests' own on the X server that records the characters it
// receives, on its own connection and thread, plus a few direct requests the
// tests need (Caps Lock, focus). No Xlib in this header: Qt test files
// include it.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace x11test {

class XRecorder {
 public:
  // Where the window takes its keys.
  enum class Keys {
    // The window itself.
    Plain,
    // As toolkits do: an inner window that fills it. The window keeps the
    // focus there: it takes the focus there itself once mapped, and moves
    // it there, a little later (a toolkit has other work too), whenever the
    // window itself is given the focus. Keys that reach the window itself
    // are lost.
    Inner,
  };

  // Creates, names and maps the window; Ok() tells whether that worked.
  // With AUtf8Title false only WM_NAME (Latin-1) is set, else _NET_WM_NAME
  // too.
  explicit XRecorder(const std::string& ATitle, bool AUtf8Title = true, Keys AKeys = Keys::Plain);
  ~XRecorder();
  XRecorder(const XRecorder&) = delete;
  XRecorder& operator=(const XRecorder&) = delete;

  bool Ok() const { return m_window != 0; }
  unsigned long Window() const { return m_window; }
  // The window that takes the keys.
  unsigned long KeyWindow() const { return m_keyWindow; }
  // The characters received so far, as the window sees them: what the key
  // gives under the current group and modifiers, with Ctrl+Return as a line
  // feed; a key that gives no character shows as '?'.
  std::string Text();
  void Clear();
  // When the last character arrived.
  std::chrono::steady_clock::time_point LastKeyTime();
  // Waits until the text is AExpected, at most ATimeoutMs.
  bool WaitFor(const std::string& AExpected, int ATimeoutMs = 3000);

 private:
  void Loop();

  struct Impl;
  std::unique_ptr<Impl> m_impl;
  unsigned long m_window = 0;
  unsigned long m_keyWindow = 0;
  std::mutex m_lock;
  std::string m_text;
  std::chrono::steady_clock::time_point m_lastKey{};
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Direct requests on a private connection.
void SetCapsLock(bool AOn);
bool CapsLock();
// Takes the keyboard focus away from every window.
void FocusNothing();
// Gives AWindow the keyboard focus where it stands, without raising it (as
// `xdotool windowfocus` does where no window manager runs).
void FocusInPlace(unsigned long AWindow);
// The window that has the keyboard focus (None, PointerRoot or a window).
unsigned long FocusedWindow();
// Asks the screen's tray to dock AWindow, as a tray icon does.
void RequestDock(unsigned long AWindow);
// Runs setxkbmap with AArgs; true on success.
bool SetKeyboardLayout(const std::string& AArgs);

}  // namespace x11test
