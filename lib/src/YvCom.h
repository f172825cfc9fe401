// The object model shared by every library object: interface identifiers,
// a counted base interface, and the status helpers used at the boundary.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "ylvane.h"

namespace ylvane {

struct YvIid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  bool operator==(const YvIid& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

inline constexpr YvIid IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr YvIid IID_IYvDll = {
    0xB717E9E9, 0x2C6B, 0x4C8F, {0x8F, 0xCD, 0x31, 0xF8, 0x3B, 0x98, 0x54, 0x72}};
inline constexpr YvIid IID_IYvPort = {
    0x91270B0A, 0xB76D, 0x4B41, {0xA5, 0xA1, 0x53, 0x3B, 0x38, 0x68, 0xB0, 0x88}};
inline constexpr YvIid IID_IYvNotifier = {
    0x3D77DD42, 0xC6D2, 0x42BD, {0xB8, 0xBC, 0x21, 0xB7, 0xAA, 0x1D, 0x3E, 0x52}};

// Every handle the library hands out points at one of these.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(const YvIid& iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Runs f and turns an escaping exception into a status: exhausted memory
// into E_OUTOFMEMORY (unless memory is mapped to E_FAIL too), anything else
// into E_FAIL. Nothing thrown ever crosses the C interface.
template <class F>
HRESULT GuardStatus(F&& f, bool memoryIsFail = false) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return memoryIsFail ? E_FAIL : E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace ylvane
