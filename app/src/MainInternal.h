// Pieces the main window's files share and nothing else needs.
#pragma once

#include "CardEngine.h"
#include "SingleInstance.h"

class QWidget;
class TfmMain;

// The bell of the "\a" escape.
ISystemBeep& SystemBeep();

// The port library's notifier calls back on its own thread. The window is
// reached through this relay, which queues the call onto the GUI thread and
// forgets the window before it goes, so nothing is ever posted to a window
// that no longer exists.
void AttachPortNotify(TfmMain* AForm);
void DetachPortNotify();
// The notifier's callback (C calling convention of the library).
struct YV_PORT_INFO;

// Whether another window covers the top-left corner of AWindow. Where the
// stacking order cannot be asked (no X11), nothing counts as covering.
bool WindowCornerCovered(const QWidget& AWindow);
