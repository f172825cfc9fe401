// Delivery of a converted text: typed into the foreground window by
// synthesised keys (X11, XTest), or put on the clipboard. Runs on the GUI
// thread; typing blocks it until the last key and the pause after it.
//
// The settings it needs (key delays, the on-top option, the program's own
// window) are plain setters; the main window binds them to its settings.
#pragma once

#include <QString>
#include <QWindow>

#include <memory>

#include "KeyPlan.h"

class QSocketNotifier;

namespace x11 {
class XDesktop;
}

class TTransfer {
 public:
  // The title reported for clipboard deliveries.
  static constexpr const char* kClipboardWindow = "<clipboard>";

  // On X11 the keyboard is followed from here on: a text for the window
  // that had the keyboard before ours goes to that window.
  TTransfer();
  ~TTransfer();
  TTransfer(const TTransfer&) = delete;
  TTransfer& operator=(const TTransfer&) = delete;

  void SetPressKeyDelay(unsigned AMs) { FPressKeyDelay = AMs; }
  void SetReleaseKeyDelay(unsigned AMs) { FReleaseKeyDelay = AMs; }
  unsigned PressKeyDelay() const { return FPressKeyDelay; }
  unsigned ReleaseKeyDelay() const { return FReleaseKeyDelay; }
  // The program's window is kept on top; while a text goes to the window
  // below it, it is not.
  void SetTopMost(bool AOn) { FTopMost = AOn; }
  // The program's main window (the one kept on top), by its current id. A
  // text is never typed into it, nor into any other window of the program.
  void SetOwnWindow(WId AWindow) { m_ownWindow = AWindow; }

  // Types AText into the foreground window; when that is a window of the
  // program's own, into the window that had the keyboard before the
  // program's (else the first visible window below the program's), after
  // which the program's window comes back to the front. AShown receives
  // the text typed (characters without a US key left out); AWindow, when
  // given, the target's title. When nothing could be typed (no X11
  // display, no window to type into) AShown stays empty and the result
  // tells the user why; it is empty when the text was typed.
  QString TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow = nullptr);
  // Puts AText on the clipboard as Unicode text; AShown := AText, AWindow :=
  // "<clipboard>".
  void TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow = nullptr);

  // Whether keys can be typed here at all (an X11 display with XTest).
  bool KeyboardAvailable();
  // The pauses of typing go here (tests, benchmarks); the default sleeps.
  void SetSleeper(TSleeper* ASleeper) { m_sleeper = ASleeper ? ASleeper : &m_realSleeper; }

 private:
  x11::XDesktop* Desktop();
  void TypeInto(x11::XDesktop& ADesktop, const QString& AText, QString& AShown);

  unsigned FPressKeyDelay = 0;
  unsigned FReleaseKeyDelay = 0;
  bool FTopMost = false;
  WId m_ownWindow = 0;
  bool m_fDesktopTried = false;
  std::unique_ptr<x11::XDesktop> m_desktop;
  // Wakes us to take in where the keyboard went. Declared after m_desktop,
  // so that it goes before the connection it watches.
  std::unique_ptr<QSocketNotifier> m_focusNews;
  TThreadSleeper m_realSleeper;
  TSleeper* m_sleeper = &m_realSleeper;
};
