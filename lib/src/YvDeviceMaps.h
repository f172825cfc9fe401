// The device detector's maps of known devices (one for serial ports and
// FTDI devices, one for network devices), and the library's device scans,
// which answer from those maps or rescan through them while a detector
// exists.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "YvCom.h"

namespace ylvane {

class CYvLib;
class CYvDetector;

// The key of a device in its map: one character 'A' + port type, then the
// name the device is opened by. Keys order by UTF-16 code units, so plain
// ports ('B') come before FTDI devices ('C'). Nothing for a port type that
// YV_Open would refuse: such a device cannot be named.
std::optional<std::u16string> MakeDeviceKey(int32_t PortType, std::u16string_view Name);

struct DeviceMapEntry {
  static constexpr uint32_t kUnseen = 1;
  static constexpr uint32_t kBusy = 2;

  std::u16string sPortName;
  uint32_t dwFlags = 0;
  uint32_t dwTypeMask = 0;
  std::unique_ptr<uint8_t[]> pData;  // the entry's own copy of the device data, or none
  int32_t nDataSize = 0;             // the size of that copy
  std::u16string sDescription;
};

using DeviceMap = std::map<std::u16string, DeviceMapEntry>;

// One device as an answer from a map gives it to the host.
struct MapDevice {
  YV_PORT_INFO info;
  std::vector<uint8_t> data;  // empty: the device has no data copy
};

// The text of a fixed record field, up to its terminator and at most N - 1
// units (a callback may have left the field unterminated).
template <size_t N>
std::u16string FieldText(const char16_t (&field)[N]) {
  size_t n = 0;
  while (n < N - 1 && field[n]) ++n;
  return std::u16string(field, n);
}

// The host's callback behind a library scan that rescans through a map:
// each device found goes into the map first (which may queue arrival and
// change messages), then to the host when it is of a type the host asked
// for.
class MapScan {
 public:
  MapScan(CYvDetector& detector, bool ip, uint32_t typeMask, YV_ENUM_DEVICES_CALLBACK callback,
          void* user)
      : m_detector(detector), m_ip(ip), m_typeMask(typeMask), m_callback(callback), m_user(user) {}

  static YV_BOOL YV_CALL OnDevice(const void* DevData, const YV_PORT_INFO* Info, void* UserData);
  // A failure in the map ends the scan (the callback answers FALSE) and is
  // raised again here once the scan has returned.
  void RethrowFailure() const {
    if (m_failure) std::rethrow_exception(m_failure);
  }

 private:
  CYvDetector& m_detector;
  bool m_ip;
  uint32_t m_typeMask;
  YV_ENUM_DEVICES_CALLBACK m_callback;
  void* m_user;
  std::exception_ptr m_failure;
};

// The work of the three device scans once their arguments are checked and
// their scan parameters have their defaults. With a detector and without
// Rescan they answer from its map; with a detector and Rescan the scan
// runs through the map, with the detector's own scans paused; without a
// detector they scan for the host directly.
HRESULT RunEnumSerialDevices(CYvLib& lib, uint32_t TypeMask, const YV_PORT_ID* Ports,
                             int32_t PortCount, YV_ENUM_DEVICES_CALLBACK Callback, void* UserData,
                             const YV_SCAN_PARAMS& Params, bool Rescan);
HRESULT RunFindSerialDevice(CYvLib& lib, uint32_t TypeMask, const YV_PORT_ID* Ports,
                            int32_t PortCount, void* DevData, int32_t DevDataSize,
                            YV_PORT_INFO* Info, const YV_SCAN_PARAMS& Params, bool Rescan);
HRESULT RunEnumIpDevices(CYvLib& lib, uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                         void* UserData, const YV_SCAN_PARAMS& Params, bool Rescan);

}  // namespace ylvane
