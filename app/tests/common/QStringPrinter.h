// Shows QString values as text in test failure messages.
#pragma once

#include <QString>

#include <ostream>

inline void PrintTo(const QString& AText, std::ostream* AOut) { *AOut << '"' << AText.toStdString() << '"'; }
