// Hand-offs whose work is not in the library yet. Each one answers
// E_NOTIMPL until its own module replaces it here.
#include "YvHandOff.h"

namespace ylvane {

HRESULT ScanIpDevices(CYvLib&, void*, const YV_SCAN_PARAMS&, uint32_t, YV_ENUM_DEVICES_CALLBACK,
                      YV_ENUM_DEVICES_CALLBACK) {
  return E_NOTIMPL;
}

HRESULT GetFtDriverVersion(IYvPort&, uint32_t*) { return E_NOTIMPL; }

}  // namespace ylvane
