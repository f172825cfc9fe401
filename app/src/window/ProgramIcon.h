// The program's icon: the reader's active image. Every window of the program
// shows it (task lists, window switchers) and the about box draws it.
#pragma once

#include <QIcon>

// The icon in each size the icon theme has it in, so that a dock or a window
// switcher, and the about box, find an image of the size they draw.
QIcon ProgramIcon();
