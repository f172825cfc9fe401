// Probing of serial ports for the registered serial device types: a type's
// request is written to every candidate port at once, one wait covers all
// their receive events, and the type callbacks judge the replies. Runs on
// the calling thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "YvCom.h"
#include "YvPortEnum.h"

namespace ylvane {

class CYvLib;

// The most passes a scan makes, whatever Tries asks for. A port that fails
// to open, or a network whose sockets cannot be made, is tried again at once
// without any wait, so a Tries in the millions would hold the caller's
// thread busy for hours; a thousand passes is far beyond any real use.
constexpr int32_t kMaxScanTries = 1000;

// The scan's parameters with Tries held to kMaxScanTries.
inline YV_SCAN_PARAMS CapTries(YV_SCAN_PARAMS params) {
  if (params.Tries > kMaxScanTries) params.Tries = kMaxScanTries;
  return params;
}

// What probing needs of the registered serial types, copied under the
// library lock. The scan works on this copy alone, so a host that registers
// a type again while a scan runs (even from a type callback) cannot pull a
// request or a callback away under it.
class ProbeTypeTable {
 public:
  struct Slot {
    bool registered = false;
    YV_DEVTYPE_CALLBACK pfnCallback = nullptr;
    std::vector<uint8_t> pReqData;  // empty = never probed with a request
    int32_t nDevDataSize = 0;
    uint32_t dwBaud = 0;
    uint8_t bStopBits = 0;
    char chEvChar = 0;
  };
  static ProbeTypeTable Take(CYvLib& lib);
  std::array<Slot, 32> slots;
};

// The device-data block of one scan, shared by every type callback call:
// zeroed before each call, its first int32 the slot index of the type asked.
class DevDataBlock {
 public:
  // At least 16 bytes, and as large as the largest of the data sizes.
  explicit DevDataBlock(int32_t largest);
  // Readies the block and the info record for asking type slot.
  void Prepare(int slot, YV_PORT_INFO& info);
  void* Data() { return m_data.data(); }
  // The type of slot recognised the device: tells the host unless the type
  // marked the block "do not report". S_OK, or YV_S_CANCELED when the host
  // answered FALSE.
  HRESULT Report(int slot, YV_PORT_INFO& info, YV_ENUM_DEVICES_CALLBACK host, void* user);

 private:
  std::vector<uint8_t> m_data;
};

// Probes the ports of the records (in their order) for the types of
// TypeMask and hands every recognised device to HostCallback. S_OK,
// YV_S_CANCELED (a callback returned FALSE), E_ABORT (the scan's abort event
// was signalled), E_INVALIDARG (the abort event is no open descriptor) or
// E_FAIL (the system refused the wait).
HRESULT ProbeSerialDevices(const ProbeTypeTable& types, YV_ENUM_DEVICES_CALLBACK HostCallback,
                           void* UserData, uint32_t TypeMask,
                           const std::vector<SerialDeviceRecord>& records,
                           const YV_SCAN_PARAMS& Params);

// Where CopyFirstFound puts the first device found.
struct FirstFound {
  YV_PORT_INFO* pInfo = nullptr;  // may be null
  void* pData = nullptr;
  int32_t nDataSize = 0;
  const ProbeTypeTable* pTypes = nullptr;
  bool bFound = false;
};

// A host callback for the probe engine that copies the device out (the port
// info, and as much of the device data as both the recognising type and the
// caller's buffer hold) and stops the scan by answering FALSE.
YV_BOOL YV_CALL CopyFirstFound(const void* DevData, const YV_PORT_INFO* Info, void* Context);

}  // namespace ylvane
