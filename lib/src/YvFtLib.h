#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ylvane.h"

namespace ylvane {

// YV_GetFtLibVersion without its argument check.
HRESULT GetFtLibVersion(uint32_t* Version);

// A driver version word (major.minor.build from byte 2 down) in our layout
// (from byte 0 up), byte 3 cleared.
inline uint32_t FtVersionWord(uint32_t v) {
  return ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
}

// One entry of the driver library's device list.
struct FtListEntry {
  uint32_t flags = 0;  // bit 0: opened by someone
  uint32_t type = 0;   // the chip type code
  std::u16string serial;
  std::u16string description;
};

enum class FtListStatus { NoLibrary, Failed, Ok };

// The driver library's device list, loaded for the call only. NoLibrary
// when the library or one of its two list functions is missing.
FtListStatus FtListDevices(std::vector<FtListEntry>& out);

}  // namespace ylvane
