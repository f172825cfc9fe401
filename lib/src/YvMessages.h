// The texts of the library's own status codes, English and Russian.
#pragma once

#include <cstdint>

#include "ylvane.h"

namespace ylvane {

// The text (ending in CR LF) of a library code in language 1033 or 1049, or
// null for any other code or language.
const char16_t* StatusText(HRESULT code, uint32_t langId);

}  // namespace ylvane
