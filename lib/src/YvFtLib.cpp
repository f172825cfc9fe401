// The FTDI driver library: its version and its device list, each read by
// loading the library for the call only.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>

#include "YvFtLib.h"
#include "YvSeams.h"
#include "sys/DynLib.h"
#include "sys/NeverDestroyed.h"
#include "sys/Text.h"

namespace ylvane {

namespace {

// Never destroyed, like every static the ports use: a host's exit handler
// may still open or list devices after the run-time destroyed the statics.
std::mutex g_seamLock;
sys::NeverDestroyed<std::string> g_ftLibPath("libftd2xx.so");

// Our own declaration of the one driver function called here.
using FtGetLibraryVersionFn = uint32_t (*)(uint32_t* version);

// One node of the driver's device list, in the layout the driver fills.
struct FtDeviceNode {
  uint32_t Flags;
  uint32_t Type;
  uint32_t ID;
  uint32_t LocId;
  char SerialNumber[16];
  char Description[64];
  void* ftHandle;
};

using FtCreateDeviceInfoListFn = uint32_t (*)(uint32_t* count);
using FtGetDeviceInfoListFn = uint32_t (*)(FtDeviceNode* list, uint32_t* count);

// A driver text: it need not be terminated within its field.
std::u16string FieldText(const char* field, size_t size) {
  return sys::FromSystemBytes(std::string_view(field, strnlen(field, size)));
}

}  // namespace

std::string FtLibraryPath() {
  std::lock_guard<std::mutex> lock(g_seamLock);
  return *g_ftLibPath;
}

void SetFtLibraryPath(std::string path) {
  std::lock_guard<std::mutex> lock(g_seamLock);
  *g_ftLibPath = std::move(path);
}

HRESULT GetFtLibVersion(uint32_t* Version) {
  sys::DynLib lib(FtLibraryPath());
  auto fn = reinterpret_cast<FtGetLibraryVersionFn>(lib.Symbol("FT_GetLibraryVersion"));
  if (!fn) return YV_E_FTD2XX_LOAD;
  uint32_t v = 0;
  if (fn(&v) != 0) return E_FAIL;
  *Version = FtVersionWord(v);
  return S_OK;
}

FtListStatus FtListDevices(std::vector<FtListEntry>& out) {
  out.clear();
  sys::DynLib lib(FtLibraryPath());
  auto create = reinterpret_cast<FtCreateDeviceInfoListFn>(lib.Symbol("FT_CreateDeviceInfoList"));
  auto get = reinterpret_cast<FtGetDeviceInfoListFn>(lib.Symbol("FT_GetDeviceInfoList"));
  if (!create || !get) return FtListStatus::NoLibrary;
  uint32_t count = 0;
  if (create(&count) != 0) return FtListStatus::Failed;
  if (count == 0) return FtListStatus::Ok;
  std::vector<FtDeviceNode> nodes(count);
  uint32_t got = count;
  if (get(nodes.data(), &got) != 0) return FtListStatus::Failed;
  // The list may have shrunk between the two calls, never grown past our room.
  nodes.resize(std::min(got, count));
  for (const FtDeviceNode& n : nodes) {
    FtListEntry e;
    e.flags = n.Flags;
    e.type = n.Type;
    e.serial = FieldText(n.SerialNumber, sizeof n.SerialNumber);
    e.description = FieldText(n.Description, sizeof n.Description);
    out.push_back(std::move(e));
  }
  return FtListStatus::Ok;
}

}  // namespace ylvane
