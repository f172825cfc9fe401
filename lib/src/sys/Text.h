// UTF-16 texts of the interface converted for the system's byte strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ylvane::sys {

// UTF-8 of a UTF-16 text; nothing when it holds an unpaired surrogate or NUL.
std::optional<std::string> ToUtf8(std::u16string_view text);

}  // namespace ylvane::sys
