// UTF-16 texts of the interface converted for the system's byte strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ylvane::sys {

// UTF-8 of a UTF-16 text; nothing when it holds an unpaired surrogate or NUL.
std::optional<std::string> ToUtf8(std::u16string_view text);

// UTF-16 of a system byte string (a sysfs attribute, a driver's text): UTF-8
// when it is valid UTF-8, else each byte as the character of that value.
std::u16string FromSystemBytes(std::string_view bytes);

}  // namespace ylvane::sys
