// The program's own messages: a table of numbered built-in texts, the one
// lookup every message goes through (it answers the loaded language's text
// when there is one), and the small formatter that fills translated format
// strings. Translated texts come from files, so they are never handed to
// printf: a translation whose specifiers do not fit the message's arguments
// is not used, the built-in text is.
#pragma once

#include <QList>
#include <QString>

#include "FmtArgs.h"

#include <cstdint>
#include <map>
#include <vector>

// The numbers of the messages ("Str" N in a language file). 2 and 7 name no
// message.
enum TAppMsgId : int {
  msgOpenProfileFailed = 1,      // %s
  msgParamSyntax = 3,            // %d
  msgParamBadSpecifier = 4,      // %d
  msgParamBadByteCount = 5,      // %d
  msgParamTooManyBytes = 6,      // %d
  msgParamCountMismatch = 8,
  msgHelpFailed = 9,
  msgPortNotExists = 10,         // %s
  msgPortBusy = 11,              // %s
  msgDeleteProfileFailed = 12,   // %s
  msgCreateProfileFailed = 13,   // %s
  msgProfileExists = 14,         // %s
  msgDeleteProfileAsk = 15,      // %s
  msgCreateFormatFailed = 16,
  msgChangeFormatFailed = 17,
  msgRemoveFormatFailed = 18,    // %s
  msgFormatStandard = 19,        // %s
  msgFormatCustom = 20,          // %s
  msgFormatNotSet = 21,
  msgEnable = 22,
  msgDisable = 23,
  msgPortOpenFailed = 24,        // %s (port), %s (why: the library's text for the code, or 25)
  msgPortAccessDenied = 25,      // %s (the device's group)
  msgLogNotWritten = 26,         // %s (the file and the reason)
  msgSettingsNotSaved = 27,      // %s (the file and the reason)
  msgNotTypedNoDisplay = 28,
  msgNotTypedNoWindow = 29,
  msgPortNameTooLong = 30,       // %d (the longest name a port may have)
};

// Every message number, ascending.
const std::vector<int>& AppMsgNumbers();
bool IsAppMsgNumber(int N);
// The built-in text of message N; empty for a number that names no message.
QString BuiltinAppMsg(int N);

// The text of message N as the program shows it: the installed language's
// text when it has one for N, else the built-in text. Not formatted.
QString AppMsg(int N);

// One argument of a message: a number (for d, u, x) or a text (for s).
using TMsgArg = TFmtArg;

// Message N filled with AArgs. The installed language's text is used only
// when it formats with these arguments; otherwise the built-in text is.
QString FormatAppMsg(int N, const QList<TMsgArg>& AArgs = {});

// AFormat filled by the templates' own formatter (FormatArgs). False, with
// *AResult untouched, when a specifier is malformed or unknown, an argument
// is missing, or its kind does not fit; arguments left over are ignored.
bool FormatMsgText(const QString& AFormat, const QList<TMsgArg>& AArgs, QString* AResult);

// The translated texts the lookup answers from, by message number; installed
// by the loaded language and removed when it is unloaded. AOwner tells whose
// table is installed, so that one language cannot remove another's.
void InstallAppMsgTable(const void* AOwner, std::map<int, QString> ATexts);
void RemoveAppMsgTable(const void* AOwner);
