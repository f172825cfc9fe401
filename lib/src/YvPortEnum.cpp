#include "YvPortEnum.h"

#include <algorithm>
#include <cstring>

#include "YvFtLib.h"
#include "YvHandOff.h"
#include "YvLib.h"
#include "sys/DeviceList.h"
#include "sys/Text.h"
#include "sys/UucpLock.h"

namespace ylvane {

namespace {

constexpr uint16_t kFtdiVendor = 0x0403;
constexpr uint16_t kPidPlainPorts = 0x0000;  // the type takes plain serial ports too
constexpr uint16_t kPidFirstUarts = 0xFFFF;  // ... and the first two UARTs as well
constexpr uint32_t kFtTypeR = 5;             // chip type whose devices are listed
constexpr uint32_t kFtTypeUnknown = 3;       // opened elsewhere, so its type is unknown
constexpr size_t kMaxName = 31;              // room of YV_PORT_INFO's names

bool Fits(const std::u16string& name) { return !name.empty() && name.size() <= kMaxName; }

bool SerialGreater(const SerialDeviceRecord& a, const SerialDeviceRecord& b) {
  return a.sSerial > b.sSerial;  // UTF-16 code units
}

// A present FTDI device as the listing uses it.
struct PresentDevice {
  uint16_t pid;
  std::u16string serial;
  std::u16string description;
  std::u16string tty;
  std::string ttyBytes;
};

std::vector<PresentDevice> PresentFtdiDevices() {
  std::vector<PresentDevice> out;
  for (sys::UsbDevice& d : sys::ListUsbDevices(kFtdiVendor)) {
    PresentDevice p;
    p.pid = d.product;
    p.serial = sys::FromSystemBytes(d.serial);
    // Opened by its serial number: without one, or with one that the
    // interface cannot carry, the device cannot be named.
    if (!Fits(p.serial)) continue;
    p.description = sys::FromSystemBytes(d.description);
    p.tty = sys::FromSystemBytes(d.tty);
    if (!Fits(p.tty)) p.tty.clear();
    p.ttyBytes = p.tty.empty() ? std::string() : d.tty;
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace

void CopyPortName(char16_t (&field)[32], std::u16string_view text) {
  const size_t n = std::min(text.size(), kMaxName);
  std::memcpy(field, text.data(), n * sizeof(char16_t));
  field[n] = 0;
}

SerialTypeTable SerialTypeTable::Take(CYvLib& lib) {
  SerialTypeTable t;
  CCritLock lock(lib.Lock());
  for (int i = 0; i < kTypeSlots; ++i) {
    const SerialTypeSlot* slot = lib.SerialType(i);
    if (!slot) continue;
    t.slots[i].registered = true;
    t.slots[i].pids = slot->vPids;
    std::sort(t.slots[i].pids.begin(), t.slots[i].pids.end());
    t.slots[i].filter = slot->sName;
  }
  return t;
}

uint32_t GetSerialTypesByPid(const SerialTypeTable& types, uint16_t pid, uint32_t mask) {
  uint32_t out = 0;
  for (int i = 0; i < kTypeSlots; ++i) {
    const uint32_t bit = 1u << i;
    const SerialTypeTable::Slot& s = types.slots[i];
    if ((mask & bit) && s.registered && std::binary_search(s.pids.begin(), s.pids.end(), pid))
      out |= bit;
  }
  return out;
}

uint32_t GetSerialTypesByName(const SerialTypeTable& types, std::u16string_view desc,
                              uint32_t mask) {
  uint32_t out = 0;
  for (int i = 0; i < kTypeSlots; ++i) {
    const uint32_t bit = 1u << i;
    const SerialTypeTable::Slot& s = types.slots[i];
    if ((mask & bit) && s.registered && (s.filter.empty() || s.filter == desc)) out |= bit;
  }
  return out;
}

uint32_t GetPlainPortTypes(const SerialTypeTable& types, uint32_t mask) {
  if (const uint32_t plain = GetSerialTypesByPid(types, kPidPlainPorts, mask)) return plain;
  // No type asks for them; without the FTDI driver, though, no port can be
  // an FTDI device's, and every one is listed as any requested type may be
  // behind it. Without a product id to ask for, nothing at all is listed.
  bool anyPid = false;
  for (int i = 0; i < kTypeSlots; ++i)
    if ((mask & (1u << i)) && types.slots[i].registered && !types.slots[i].pids.empty()) anyPid = true;
  if (!anyPid || sys::FtdiDriverInstalled()) return 0;
  return mask | 0x7FFFFFFFu;
}

HRESULT GetFtdiBusDescription(std::u16string& desc, std::u16string_view serial, uint16_t pid) {
  desc.clear();
  for (const PresentDevice& d : PresentFtdiDevices()) {
    if (d.pid == pid && d.serial == serial) {
      desc = d.description;
      break;
    }
  }
  return S_OK;
}

HRESULT EnumSerialDeviceRecords(std::vector<SerialDeviceRecord>& out, const SerialTypeTable& types,
                                uint32_t TypeMask) {
  out.clear();
  // 1. The product ids asked for, and whether a description must be checked.
  std::vector<uint16_t> pids;
  bool descCheck = false;
  for (int i = 0; i < kTypeSlots; ++i) {
    const SerialTypeTable::Slot& s = types.slots[i];
    if (!(TypeMask & (1u << i)) || !s.registered) continue;
    pids.insert(pids.end(), s.pids.begin(), s.pids.end());
    if (!s.filter.empty()) descCheck = true;
  }
  // Without a registered type nothing is listed, not even plain ports.
  if (pids.empty()) return S_OK;
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
  auto wanted = [&](uint16_t pid) { return std::binary_search(pids.begin(), pids.end(), pid); };

  const std::vector<PresentDevice> present = PresentFtdiDevices();

  // 2. The driver library's list, when the library is there. It knows
  // which devices are opened; sysfs knows their product ids and ttys.
  bool sysfsPass = true;
  size_t driverRecords = 0;
  std::vector<FtListEntry> nodes;
  switch (FtListDevices(nodes)) {
    case FtListStatus::NoLibrary:
      break;
    case FtListStatus::Failed:
      return E_FAIL;
    case FtListStatus::Ok: {
      bool unknownOpened = false;
      for (const FtListEntry& n : nodes) {
        if (n.type == kFtTypeUnknown && (n.flags & 1)) unknownOpened = true;
        if (n.type != kFtTypeR || !Fits(n.serial)) continue;
        uint32_t mask = TypeMask;
        if (descCheck) {
          mask = GetSerialTypesByName(types, n.description, TypeMask);
          if (mask == 0) continue;
        }
        SerialDeviceRecord r;
        r.nKind = YV_PORT_FT;
        r.sSerial = n.serial;
        r.nBusy = n.flags & 1;
        r.dwTypeMask = mask;
        out.push_back(std::move(r));
      }
      std::sort(out.begin(), out.end(), SerialGreater);
      driverRecords = out.size();
      // A device opened elsewhere hides its type from the library: only
      // then are the devices the library did not describe looked up in sysfs.
      sysfsPass = !nodes.empty() && unknownOpened;
      break;
    }
  }

  // 3. The devices sysfs shows that the driver library did not list.
  if (sysfsPass) {
    for (const PresentDevice& d : present) {
      if (!wanted(d.pid)) continue;
      auto known = std::find_if(out.begin(), out.begin() + driverRecords,
                                [&](const SerialDeviceRecord& r) { return r.sSerial == d.serial; });
      if (known != out.begin() + driverRecords) continue;
      uint32_t mask = GetSerialTypesByPid(types, d.pid, TypeMask);
      if (descCheck) mask = GetSerialTypesByName(types, d.description, mask);
      if (mask == 0) continue;
      SerialDeviceRecord r;
      r.nKind = YV_PORT_FT;
      r.sSerial = d.serial;
      r.nBusy = sys::TtyLockedByLiveProcess(d.ttyBytes) ? 1 : 0;
      r.dwTypeMask = mask;
      r.nPid = d.pid;
      out.push_back(std::move(r));
    }
    std::sort(out.begin(), out.end(), SerialGreater);
  }

  // 4. Every present device of a requested product id gives the record of
  // its serial number that product id (when it has none yet) and its tty.
  for (const PresentDevice& d : present) {
    if (!wanted(d.pid)) continue;
    auto rec = std::find_if(out.begin(), out.end(),
                            [&](const SerialDeviceRecord& r) { return r.sSerial == d.serial; });
    if (rec == out.end()) continue;
    if (rec->nPid == 0) {
      rec->nPid = d.pid;
      rec->dwTypeMask = GetSerialTypesByPid(types, d.pid, rec->dwTypeMask);
    }
    if (!d.tty.empty()) rec->sPortName = d.tty;
  }

  // 5. A listed device that no present device of a requested product id
  // accounts for is dropped.
  out.erase(std::remove_if(out.begin(), out.end(),
                           [](const SerialDeviceRecord& r) { return r.nPid == 0; }),
            out.end());

  // 6. Plain serial ports, after the USB devices, in name order.
  const uint32_t plainMask = GetPlainPortTypes(types, TypeMask);
  if (plainMask == 0) return S_OK;
  const size_t usbRecords = out.size();
  for (const std::string& tty : sys::ListSerialTtys()) {
    if (!wanted(kPidFirstUarts) && (tty == "ttyS0" || tty == "ttyS1")) continue;
    std::u16string name = sys::FromSystemBytes(tty);
    if (!Fits(name)) continue;
    auto owner = std::find_if(out.begin(), out.begin() + usbRecords,
                              [&](const SerialDeviceRecord& r) { return r.sPortName == name; });
    if (owner != out.begin() + usbRecords) continue;
    SerialDeviceRecord r;
    r.nKind = YV_PORT_COM;
    r.sSerial = std::move(name);
    r.nBusy = sys::TtyLockedByLiveProcess(tty) ? 1 : 0;
    r.dwTypeMask = plainMask;
    out.push_back(std::move(r));
  }
  return S_OK;
}

HRESULT ReportSerialPorts(CYvLib& lib, uint32_t TypeMask, YV_ENUM_PORTS_CALLBACK Callback,
                          void* UserData) {
  std::vector<SerialDeviceRecord> records;
  HRESULT hr = EnumSerialDeviceRecords(records, SerialTypeTable::Take(lib), TypeMask);
  if (YV_FAILED(hr)) return hr;
  for (const SerialDeviceRecord& r : records) {
    YV_PORT_INFO info{};
    info.PortType = r.nKind;
    CopyPortName(info.Name, r.sSerial);
    info.Busy = r.nBusy;
    CopyPortName(info.PortName, r.sPortName);
    info.TypeMask = r.dwTypeMask;
    if (!Callback(&info, UserData)) return YV_S_CANCELED;
  }
  return S_OK;
}

}  // namespace ylvane
