// The port interface every port kind implements, its common base, and the
// factory that turns a port type into an open port.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "YvCom.h"

namespace ylvane {

class IYvPort : public IUnknown {
 public:
  virtual int32_t GetType() = 0;
  // Opens the port; an open port is closed first.
  virtual HRESULT Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t StopBits) = 0;
  virtual void Close() = 0;
  virtual YV_BOOL IsOpened() = 0;
  // The name of the last Open that got the device open.
  virtual const char16_t* GetName() = 0;
  virtual HRESULT SetBaudAndEvChar(uint32_t BaudRate, char EvChar) = 0;
  // Either out pointer may be null.
  virtual HRESULT GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) = 0;
  virtual HRESULT Clear(YV_BOOL Rx, YV_BOOL Tx) = 0;
  virtual HRESULT Write(const void* Buf, int32_t Count) = 0;
  virtual HRESULT Read(void* Buf, int32_t Count, int32_t* Read) = 0;
  virtual HRESULT GetInCount(int32_t* Count) = 0;
  // Arms the receive event and hands out its descriptor, which stays valid
  // as long as the port lives.
  virtual HRESULT StartWaitEvent(int* Event) = 0;
  virtual HRESULT SetDtr(YV_BOOL On) = 0;
  virtual HRESULT SetRts(YV_BOOL On) = 0;
};

class CYvPort : public IYvPort {
 public:
  ~CYvPort() override = default;

  HRESULT QueryInterface(const YvIid& iid, void** out) override;
  uint32_t AddRef() override;
  // At zero: off the library's list of open objects, then destroyed.
  uint32_t Release() override;
  const char16_t* GetName() override { return m_sName.c_str(); }

 protected:
  std::atomic<int32_t> m_nRef{0};
  std::u16string m_sName;
};

// On success *Port holds the open port with one reference; on failure it is
// null and nothing is left behind. The caller lists the port, if it should be.
HRESULT CreatePort(const char16_t* Name, IYvPort** Port, int32_t PortType, uint32_t BaudRate,
                   char EvChar, uint8_t StopBits);

}  // namespace ylvane
