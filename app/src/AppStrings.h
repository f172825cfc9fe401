// The program's own translatable messages. Every message has a fixed number;
// callers ask for it by number, so a loaded language can answer instead of
// the built-in text.
#pragma once

#include <QString>

// Numbers of the messages fetched through AppString.
enum TAppStringId : int {
  str_ErrSyntaxParams = 3,  // "[Error: syntax parameters (position %d)]"
  str_FmtStandard = 19,     // "%s (standard)"
  str_FmtCustom = 20,       // "%s (custom)"
  str_FmtNotSet = 21,       // "[format is not set]"
};

// The built-in text of a message; empty for a number that names none.
QString BuiltInAppString(int AId);
// The text the program shows for a message. Until a language file can be
// loaded this is the built-in text.
QString AppString(int AId);
