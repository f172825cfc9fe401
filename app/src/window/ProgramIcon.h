// The program's icon: the reader's active image. Every window of the program
// shows it (task lists, window switchers) and the about box draws it.
#pragma once

#include <QIcon>

QIcon ProgramIcon();
