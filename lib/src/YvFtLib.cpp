// The FTDI driver library's version, read by loading it for the call only.
#include <cstdint>
#include <mutex>

#include "YvFtLib.h"
#include "YvSeams.h"
#include "sys/DynLib.h"

namespace ylvane {

namespace {

std::mutex g_seamLock;
std::string g_ftLibPath = "libftd2xx.so";

// Our own declaration of the one driver function called here.
using FtGetLibraryVersionFn = uint32_t (*)(uint32_t* version);

}  // namespace

std::string FtLibraryPath() {
  std::lock_guard<std::mutex> lock(g_seamLock);
  return g_ftLibPath;
}

void SetFtLibraryPath(std::string path) {
  std::lock_guard<std::mutex> lock(g_seamLock);
  g_ftLibPath = std::move(path);
}

HRESULT GetFtLibVersion(uint32_t* Version) {
  sys::DynLib lib(FtLibraryPath());
  auto fn = reinterpret_cast<FtGetLibraryVersionFn>(lib.Symbol("FT_GetLibraryVersion"));
  if (!fn) return YV_E_FTD2XX_LOAD;
  uint32_t v = 0;
  if (fn(&v) != 0) return E_FAIL;
  // The driver counts major.minor.build from byte 2 down; ours from byte 0 up.
  *Version = ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
  return S_OK;
}

}  // namespace ylvane
