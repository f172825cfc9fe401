// Hand-offs whose work is not in the library yet. Each one answers
// E_NOTIMPL until its own module replaces it here.
#include "YvHandOff.h"

namespace ylvane {

HRESULT ScanSerialDevices(int32_t, YV_ENUM_DEVICES_CALLBACK, uint32_t, const YV_PORT_ID*, void*,
                          const YV_SCAN_PARAMS&) {
  return E_NOTIMPL;
}

HRESULT FindSerialDeviceScan(int32_t, void*, uint32_t, const YV_PORT_ID*, YV_PORT_INFO*, int32_t,
                             const YV_SCAN_PARAMS&) {
  return E_NOTIMPL;
}

HRESULT ScanIpDevices(void*, const YV_SCAN_PARAMS&, uint32_t, YV_ENUM_DEVICES_CALLBACK,
                      YV_ENUM_DEVICES_CALLBACK) {
  return E_NOTIMPL;
}

}  // namespace ylvane
