#include "Transfer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <vector>

#include "AppMessages.h"
#include "XDesktop.h"

namespace {

// Runs a step of the typing's epilogue however the typing ended.
template <typename F>
class AtExit {
 public:
  explicit AtExit(F AFn) : m_fn(std::move(AFn)) {}
  ~AtExit() { m_fn(); }
  AtExit(const AtExit&) = delete;
  AtExit& operator=(const AtExit&) = delete;

 private:
  F m_fn;
};

x11::XDesktop::Key UsKey(uint32_t AKey) { return {AKey, UsShiftedSymbol(AKey)}; }

// The program's own top-level windows (its main window, dialogs and menus)
// by the ids the window system gives them now: a window may get a new one,
// for instance when its stay-on-top flag changes. The tray icon's window is
// none of them: it lives in the panel, which is another program's window.
std::vector<x11::WindowId> OwnWindows(x11::XDesktop& ADesktop, WId AMain) {
  std::vector<x11::WindowId> ids;
  if (AMain) ids.push_back(AMain);
  for (QWindow* w : QGuiApplication::topLevelWindows())
    if (w->handle() && ADesktop.OwnTopLevel(w->winId())) ids.push_back(w->winId());
  return ids;
}

// The plan's keys go to the X server under the typing's group.
class TypingSink final : public TKeySink {
 public:
  explicit TypingSink(x11::XDesktop::Typing& ATyping) : m_typing(ATyping) {}
  void PressKey(uint32_t AKey) override { m_typing.Press(UsKey(AKey)); }
  void ReleaseKey(uint32_t AKey) override { m_typing.Release(UsKey(AKey)); }

 private:
  x11::XDesktop::Typing& m_typing;
};

}  // namespace

TTransfer::TTransfer() {
  x11::XDesktop* desktop = Desktop();
  if (!desktop) return;
  // Without a window manager nothing else tells where the keyboard was
  // before it came to us.
  desktop->FollowFocus();
  m_focusNews = std::make_unique<QSocketNotifier>(desktop->ConnectionFd(), QSocketNotifier::Read);
  QObject::connect(m_focusNews.get(), &QSocketNotifier::activated, m_focusNews.get(),
                   [desktop] { desktop->ReadEvents(); });
}

TTransfer::~TTransfer() = default;

x11::XDesktop* TTransfer::Desktop() {
  if (!m_fDesktopTried) {
    m_fDesktopTried = true;
    // Only a program shown on X11 types on X11; under another platform
    // plugin the display, if any, is not the user's.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) m_desktop = x11::XDesktop::Open();
  }
  return m_desktop.get();
}

bool TTransfer::KeyboardAvailable() { return Desktop() != nullptr; }

QString TTransfer::TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow) {
  AShown.clear();
  x11::XDesktop* desktop = Desktop();
  if (!desktop) return AppMsg(msgNotTypedNoDisplay);
  // What the program asked of the server on its own connection is done
  // first: a menu closed just before lets the keyboard go there.
  if (auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
    x11::XDesktop::SyncConnection(native->connection());

  const std::vector<x11::WindowId> own = OwnWindows(*desktop, m_ownWindow);
  std::vector<x11::WindowId> ownTops;
  for (x11::WindowId w : own)
    if (const x11::WindowId top = desktop->TopLevelOf(w)) ownTops.push_back(top);
  auto ours = [&](x11::WindowId AWindow) {
    const x11::WindowId top = AWindow ? desktop->TopLevelOf(AWindow) : 0;
    return top && std::find(ownTops.begin(), ownTops.end(), top) != ownTops.end();
  };
  x11::WindowId target = desktop->ForegroundWindow();

  // A window of ours in front (the main window, or one of its dialogs):
  // the text goes to the window that had the keyboard before ours, and
  // ours comes back afterwards, whatever happens in between. Where that
  // window is not known (or gone), the first visible window below ours.
  bool switched = false;
  bool aboveCleared = false;
  const x11::WindowId main = m_ownWindow;
  const x11::WindowId front = target;
  AtExit restoreOwn([&] {
    if (aboveCleared) desktop->SetKeepAbove(main, true);
    if (switched) {
      desktop->Activate(front);
      desktop->WaitForeground(front, 500);
    }
  });
  if (ours(target)) {
    if (FTopMost && main) {
      desktop->SetKeepAbove(main, false);
      aboveCleared = true;
    }
    bool inner = false;
    x11::WindowId next = desktop->LastFocused(ownTops, &inner);
    if (!next) next = desktop->WindowBelow(front, own);
    if (next) {
      desktop->Activate(next);
      switched = true;
      // The first key must not reach our window: wait until the focus moved,
      // and on into the inner window where the window keeps it.
      desktop->WaitForeground(next, 500, inner);
    }
    target = desktop->ForegroundWindow();
  }
  // Never into a window of ours.
  if (!target || ours(target)) return AppMsg(msgNotTypedNoWindow);

  if (AWindow) *AWindow = QString::fromStdU16String(desktop->WindowTitle(target, 127));
  TypeInto(*desktop, AText, AShown);
  return QString();
}

void TTransfer::TypeInto(x11::XDesktop& ADesktop, const QString& AText, QString& AShown) {
  QString typed;
  const std::vector<TKeyStep> plan =
      MakeKeyPlan(AText, FPressKeyDelay, FReleaseKeyDelay, ADesktop.CapsLockOn(), &typed);
  std::vector<x11::XDesktop::Key> keys;
  for (const TKeyStep& step : plan)
    if (step.kind == TKeyStep::Press) keys.push_back(UsKey(step.value));

  // The US layout: a group lock for the time of the typing.
  x11::XDesktop::Typing typing(ADesktop, keys);
  // Blocking the user's own input meanwhile has no safe X11 counterpart (a
  // keyboard grab would swallow our keys too), so it is not done. At least
  // 300 ms pass between the last release and the layout going back: the
  // target may still be reading its keys.
  TypingSink sink(typing);
  TypePlan(plan, FReleaseKeyDelay, sink, *m_sleeper);
  AShown = typed;
  typing.RestoreLayout();
}

void TTransfer::TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow) {
  QGuiApplication::clipboard()->setText(AText, QClipboard::Clipboard);
  AShown = AText;
  if (AWindow) *AWindow = QString::fromLatin1(kClipboardWindow);
}
