#pragma once

#include <cstdint>

#include "ylvane.h"

namespace ylvane {

// YV_GetFtLibVersion without its argument check.
HRESULT GetFtLibVersion(uint32_t* Version);

}  // namespace ylvane
