// The listing of serial ports and FTDI devices of the registered serial
// device types, without talking to any of them, and the lookups over the
// registered types that the detector shares.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "YvCom.h"

namespace ylvane {

class CYvLib;

// What the listing needs of the registered serial types, copied under the
// library lock so that the listing itself runs without it while another
// thread may register types.
class SerialTypeTable {
 public:
  struct Slot {
    bool registered = false;
    std::vector<uint16_t> pids;  // ascending (a sorted copy of the slot's list)
    std::u16string filter;       // description filter; empty = any
  };
  // Takes the library lock itself (recursively, so a holder may call it).
  static SerialTypeTable Take(CYvLib& lib);
  std::array<Slot, 32> slots;
};

// The types of mask whose product-id list holds pid; unregistered slots
// never match.
uint32_t GetSerialTypesByPid(const SerialTypeTable& types, uint16_t pid, uint32_t mask);
// The types of mask whose description filter is empty or equals desc.
uint32_t GetSerialTypesByName(const SerialTypeTable& types, std::u16string_view desc,
                              uint32_t mask);

// The types of mask as which the listing lists plain serial ports; 0 when
// it leaves them out.
uint32_t GetPlainPortTypes(const SerialTypeTable& types, uint32_t mask);

// The product text that a present FTDI device with this serial number and
// product id reports on the bus; empty when there is none.
HRESULT GetFtdiBusDescription(std::u16string& desc, std::u16string_view serial, uint16_t pid);

// Copies a name into a 32-unit field of YV_PORT_INFO, terminated; names
// that do not fit are left out before they get here.
void CopyPortName(char16_t (&field)[32], std::u16string_view text);

// One device found by the listing.
struct SerialDeviceRecord {
  int32_t nKind = 0;         // YV_PORT_COM or YV_PORT_FT
  std::u16string sSerial;    // FTDI: the serial number; COM: the tty name
  std::u16string sPortName;  // FTDI: the tty it also appears as, or empty
  int32_t nBusy = 0;         // bit 0: in use elsewhere
  uint32_t dwTypeMask = 0;
  int32_t nPid = 0;  // USB product id; 0 for plain ports
};

// USB devices by serial number, descending, then the plain ports in name
// order. out is emptied first.
HRESULT EnumSerialDeviceRecords(std::vector<SerialDeviceRecord>& out, const SerialTypeTable& types,
                                uint32_t TypeMask);

}  // namespace ylvane
