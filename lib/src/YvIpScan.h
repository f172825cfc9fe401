// Discovery of network devices: the request of each registered network type
// is broadcast from every local IPv4 address to the type's UDP port, and the
// datagrams that come back are offered to the type callbacks. Runs on the
// calling thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "YvCom.h"

namespace ylvane {

class CYvLib;

// What the discovery needs of the registered network types, copied under the
// library lock, so that registering a type again during a scan (even from a
// type callback) cannot pull a request away under it.
class IpTypeTable {
 public:
  struct Slot {
    bool registered = false;
    YV_DEVTYPE_CALLBACK pfnCallback = nullptr;
    std::vector<uint8_t> pReqData;
    int32_t nDevDataSize = 0;
    uint16_t wUdpPort = 0;
  };
  static IpTypeTable Take(CYvLib& lib);
  std::array<Slot, 32> slots;
};

}  // namespace ylvane
