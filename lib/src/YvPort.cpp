#include "YvPort.h"

#include <memory>

#include "YvFtSnPort.h"
#include "YvIPPort.h"
#include "YvIPSPort.h"
#include "YvLib.h"
#include "YvVComPort.h"

namespace ylvane {

HRESULT CYvPort::QueryInterface(const YvIid& iid, void** out) {
  if (!out) return E_INVALIDARG;
  if (iid == IID_IUnknown || iid == IID_IYvPort) {
    *out = static_cast<IYvPort*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

uint32_t CYvPort::AddRef() { return static_cast<uint32_t>(++m_nRef); }

uint32_t CYvPort::Release() {
  int32_t n = --m_nRef;
  if (n == 0) {
    CYvLib::RemoveFromCurrent(this);
    delete this;
  }
  return static_cast<uint32_t>(n);
}

HRESULT CreatePort(const char16_t* Name, IYvPort** Port, int32_t PortType, uint32_t BaudRate,
                   char EvChar, uint8_t StopBits) {
  *Port = nullptr;
  return GuardStatus([&]() -> HRESULT {
    std::unique_ptr<CYvPort> port;
    switch (PortType) {
      case YV_PORT_COM:
        port = std::make_unique<CYvVComPort>();
        break;
      case YV_PORT_FT:
        port = std::make_unique<CYvFtSnPort>();
        break;
      case YV_PORT_IP:
        port = std::make_unique<CIPPort>();
        break;
      case YV_PORT_IPS:
        port = std::make_unique<CIPSPort>();
        break;
      default:
        return E_INVALIDARG;
    }
    HRESULT hr = port->Open(Name, BaudRate, EvChar, StopBits);
    if (YV_FAILED(hr)) return hr;  // never handed out, so simply destroyed
    port->AddRef();
    *Port = port.release();
    return hr;
  });
}

}  // namespace ylvane
