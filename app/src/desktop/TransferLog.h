// The transfer log: one line per delivered card, appended to a file per
// port in the log folder.
#pragma once

#include <QDateTime>
#include <QString>

#include "Profiles.h"

// The short word of a card type in the log ("MUL", "M1K", ... "Ex").
QString CardTypeLogWord(TovkCardType ACardType);
// The log's tag: the word, a colon, a blank, the format name in double
// quotes, and " (std)" for a standard format.
QString TransferLogTag(TovkCardType ACardType, bool AStd, const QString& AFmtName);
// One line with its CR LF:
//   dd/mm/yyyy hh:mm:ss  "<shown text>" -> "<window title>" [<tag>]
// or, for a text that was not typed, why instead of the window:
//   dd/mm/yyyy hh:mm:ss  "<shown text>" <why> [<tag>]
QString TransferLogLine(const QDateTime& ATime, TovkCardType ACardType, bool AStd,
                        const QString& AFmtName, const QString& AShown, const QString& AWindow,
                        const QString& ANotTyped = QString());
// The file of a port: "<folder>/_<port>.log". A port name is a path below
// /dev, so its "/" (as in "pts/3") becomes "_" to keep the file inside the
// folder. Empty without a folder.
QString TransferLogFileName(const QString& ALogDir, const QString& APortName);
// Appends the line for now (local time) to the port's file, whole or not at
// all. No folder, a missing folder, an unwritable file or a full disk loses
// the line; false then, and *AError names the file and the reason.
bool WriteLog(const QString& ALogDir, const QString& APortName, TovkCardType ACardType, bool AStd,
              const QString& AFmtName, const QString& AShown, const QString& AWindow,
              const QString& ANotTyped = QString(), QString* AError = nullptr);
