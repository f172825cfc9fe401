// Pieces the main window's files share and nothing else needs.
#pragma once

#include "CardEngine.h"
#include "SingleInstance.h"

#include <QIcon>
#include <qwindowdefs.h>

class QWidget;
class TfmMain;
namespace x11 {
class XDesktop;
}

// The window's images, in the order the buttons and the tray icon refer to
// them, loaded by their resource names.
enum TImage { imgDisabled = 0, imgEnabled, imgRefresh, imgDelete, imgNew };
inline QIcon WindowImage(TImage AImage) {
  static const char* const kNames[] = {"riDISABL", "riENABL", "riREFRESHBTN", "riDELBTN", "riNEWBTN"};
  return QIcon(QStringLiteral(":/icons/%1.xpm").arg(QLatin1String(kNames[AImage])));
}

// The bell of the "\a" escape.
ISystemBeep& SystemBeep();

// The port library's notifier calls back on its own thread. The window is
// reached through this relay, which queues the call onto the GUI thread and
// forgets the window before it goes, so nothing is ever posted to a window
// that no longer exists.
void AttachPortNotify(TfmMain* AForm);
void DetachPortNotify();

// The window's X window as the window system knows it now; 0 before it has
// one. Qt makes a new one for a window whose stay-on-top flag changed, and
// the widget's own winId() goes on naming the old one.
WId CurrentWindowId(const QWidget& AWindow);

// Whether the window (its frame, under a window manager) stands at APos on
// the screen now, as opposed to a place it passed through. Where the screen
// cannot be asked (no X11), it stands wherever it is said to.
bool WindowStandsAt(const QWidget& AWindow, const QPoint& APos);

// The X display the window asks where and how it stands (one connection for
// the program's questions about its own windows); null without X11.
x11::XDesktop* WindowDesktop();

// Whether another window covers the top-left corner of AWindow. Where the
// stacking order cannot be asked (no X11), nothing counts as covering.
bool WindowCornerCovered(const QWidget& AWindow);
