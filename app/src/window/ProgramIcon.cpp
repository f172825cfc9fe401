#include "ProgramIcon.h"

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/program/riENABL.xpm")); }
