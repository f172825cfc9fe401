#include "YvVComPort.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

#include "sys/Text.h"
#include "sys/Tty.h"

namespace ylvane {

namespace {

bool DeviceWentAway(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE; }

}  // namespace

CYvVComPort::CYvVComPort() = default;

CYvVComPort::~CYvVComPort() { Close(); }

std::optional<std::string> CYvVComPort::DevicePath(const char16_t* Name) {
  std::u16string_view name(Name);
  if (name.empty() || name.size() > kMaxNameLength) return std::nullopt;
  auto utf8 = sys::ToUtf8(name);
  if (!utf8) return std::nullopt;
  std::string_view rest(*utf8);
  for (;;) {
    size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return "/dev/" + *utf8;
}

HRESULT CYvVComPort::Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t StopBits) {
  Close();
  // A name past the limit is the caller's mistake, not a missing port: the
  // real names of serial devices by id are longer, and "port not exists"
  // would send the user looking for a device that is there.
  if (std::char_traits<char16_t>::length(Name) > kMaxNameLength) return E_INVALIDARG;
  auto path = DevicePath(Name);
  if (!path) return YV_E_PORT_NOT_EXISTS;
  sys::TtyOpenResult opened = sys::TtyOpen(*path);
  switch (opened.failure) {
    case sys::TtyOpenFailure::None:
      break;
    case sys::TtyOpenFailure::NotExists:
      return YV_E_PORT_NOT_EXISTS;
    case sys::TtyOpenFailure::Busy:
      return YV_E_PORT_BUSY;
    case sys::TtyOpenFailure::Denied:  // a permission problem is never "busy"
    case sys::TtyOpenFailure::Other:
      return YV_E_PORT_OPEN;
  }
  const int fd = opened.fd;
  auto fail = [fd](HRESULT hr) {
    sys::TtyClose(fd);
    return hr;
  };
  try {
    m_sName = Name;
  } catch (...) {
    sys::TtyClose(fd);
    throw;
  }
  // Baud 0 would hang the line up; one and a half stop bits do not exist
  // for 8 data bits.
  if (BaudRate == 0 || (StopBits != 0 && StopBits != 2)) return fail(YV_E_PORT_SETUP);
  if (sys::TtySetLine(fd, BaudRate, StopBits == 2) != 0) return fail(YV_E_PORT_SETUP);
  // Both control lines off. A pty has none and refuses: that is fine here.
  int err = sys::TtySetModemLine(fd, sys::TtyDtr | sys::TtyRts, false);
  if (err != 0 && err != ENOTTY && err != EINVAL) return fail(YV_E_PORT_SETUP);
  sys::TtyFlush(fd, true, true);

  m_chEvChar = EvChar;
  m_fStop = false;
  m_fGone = false;
  m_buf.Discard();
  m_buf.Rearm(0, false);
  m_evReader.Reset();
  m_hFile = fd;
  try {
    m_reader = std::thread([this] { ReaderLoop(); });
  } catch (...) {
    m_hFile = -1;
    return fail(E_FAIL);
  }
  return S_OK;
}

void CYvVComPort::Close() {
  if (m_hFile < 0) return;
  m_buf.Signal();  // ends a pending wait
  m_fStop = true;
  m_evReader.Set();
  if (m_reader.joinable()) m_reader.join();
  sys::TtyClose(m_hFile);
  m_hFile = -1;
  std::lock_guard<std::mutex> lock(m_bufLock);
  m_buf.Discard();
  m_fGone = false;
}

void CYvVComPort::ReaderLoop() {
  uint8_t chunk[4096];
  for (;;) {
    bool room;
    {
      std::lock_guard<std::mutex> lock(m_bufLock);
      room = !m_buf.Full();
    }
    pollfd fds[2] = {{m_evReader.Fd(), POLLIN, 0},
                     {m_hFile, static_cast<short>(room ? POLLIN : 0), 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      MarkGone();
      return;
    }
    // Reset before the stop flag is looked at: a stop signalled after this
    // point is seen by the next poll.
    if (fds[0].revents & POLLIN) m_evReader.Reset();
    if (m_fStop) return;
    if (fds[1].revents & POLLIN) {
      // The read itself is under the lock (it never blocks), so a Clear or
      // a re-arm sees either none or all of a chunk, and the chunk is
      // judged by the event character in force when it is stored.
      std::lock_guard<std::mutex> lock(m_bufLock);
      ssize_t got = read(m_hFile, chunk, std::min(sizeof chunk, m_buf.Space()));
      if (got > 0) {
        m_buf.Append(chunk, static_cast<size_t>(got), m_chEvChar);
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // 0 bytes with VMIN=1, or EIO: the device hung up.
      MarkGoneLocked();
      return;
    }
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      MarkGone();
      return;
    }
  }
}

void CYvVComPort::MarkGone() {
  std::lock_guard<std::mutex> lock(m_bufLock);
  MarkGoneLocked();
}

void CYvVComPort::MarkGoneLocked() {
  m_fGone = true;
  m_buf.Signal();  // a waiting host wakes and learns it from its next call
}

HRESULT CYvVComPort::IoFailure(int err) {
  if (!DeviceWentAway(err)) return YV_E_COMM;
  MarkGone();
  return YV_E_CLOSED_OUTSIDE;
}

void CYvVComPort::MadeRoom(bool madeRoom) {
  if (madeRoom) m_evReader.Set();
}

HRESULT CYvVComPort::SetBaudAndEvChar(uint32_t BaudRate, char EvChar) {
  if (m_hFile < 0) return YV_E_PORT_SETUP;
  m_buf.Signal();  // ends a pending wait; the host re-arms
  if (BaudRate == 0 || sys::TtySetSpeed(m_hFile, BaudRate) != 0) return YV_E_PORT_SETUP;
  std::lock_guard<std::mutex> lock(m_bufLock);
  m_chEvChar = EvChar;
  return S_OK;
}

HRESULT CYvVComPort::GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) {
  if (m_hFile < 0) return YV_E_PORT_SETUP;
  uint32_t baud = 0;
  if (sys::TtyGetSpeed(m_hFile, &baud) != 0) return YV_E_PORT_SETUP;
  if (BaudRate) *BaudRate = baud;
  if (EvChar) *EvChar = m_chEvChar;
  return S_OK;
}

HRESULT CYvVComPort::Clear(YV_BOOL Rx, YV_BOOL Tx) {
  if (m_hFile < 0) return YV_E_COMM;
  std::lock_guard<std::mutex> lock(m_bufLock);
  // What is left of a device that went away can still be discarded.
  if (Rx) MadeRoom(m_buf.Discard());
  if (m_fGone) return YV_E_CLOSED_OUTSIDE;
  if (int err = sys::TtyFlush(m_hFile, Rx != 0, Tx != 0)) {
    if (!DeviceWentAway(err)) return YV_E_COMM;
    MarkGoneLocked();
    return YV_E_CLOSED_OUTSIDE;
  }
  return S_OK;
}

HRESULT CYvVComPort::Write(const void* Buf, int32_t Count) {
  if (m_hFile < 0) return YV_E_COMM;
  if (m_fGone) return YV_E_CLOSED_OUTSIDE;
  const auto* p = static_cast<const uint8_t*>(Buf);
  size_t left = Count > 0 ? static_cast<size_t>(Count) : 0;
  while (left > 0) {
    ssize_t n = write(m_hFile, p, left);
    if (n > 0) {
      p += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // No time limit: the line drains at its own pace. A hang-up ends it.
      pollfd pf{m_hFile, POLLOUT, 0};
      if (poll(&pf, 1, -1) < 0 && errno != EINTR) return IoFailure(errno);
      if (pf.revents & (POLLHUP | POLLERR | POLLNVAL)) return IoFailure(EIO);
      continue;
    }
    return IoFailure(n < 0 ? errno : EIO);
  }
  return S_OK;
}

HRESULT CYvVComPort::Read(void* Buf, int32_t Count, int32_t* Read) {
  if (m_hFile < 0) return YV_E_COMM;
  std::lock_guard<std::mutex> lock(m_bufLock);
  // What arrived before the device went away is still handed out.
  if (m_buf.Empty() && m_fGone) return YV_E_CLOSED_OUTSIDE;
  bool madeRoom = false;
  size_t n = m_buf.Take(Buf, Count > 0 ? static_cast<size_t>(Count) : 0, &madeRoom);
  MadeRoom(madeRoom);
  *Read = static_cast<int32_t>(n);
  return S_OK;
}

HRESULT CYvVComPort::GetInCount(int32_t* Count) {
  if (m_hFile < 0) return YV_E_COMM;
  std::lock_guard<std::mutex> lock(m_bufLock);
  if (m_buf.Empty() && m_fGone) return YV_E_CLOSED_OUTSIDE;
  *Count = static_cast<int32_t>(m_buf.Size());
  return S_OK;
}

HRESULT CYvVComPort::StartWaitEvent(int* Event) {
  if (m_hFile < 0) return YV_E_COMM;
  std::lock_guard<std::mutex> lock(m_bufLock);
  if (m_buf.Empty() && m_fGone) return YV_E_CLOSED_OUTSIDE;
  // After a hang-up the reader is gone, so the host is woken to collect the
  // rest and then learn of it.
  m_buf.Rearm(m_chEvChar, m_fGone);
  *Event = m_buf.EventFd();
  return S_OK;
}

HRESULT CYvVComPort::ModemLine(int line, bool on) {
  if (m_hFile < 0) return YV_E_COMM;
  if (m_fGone) return YV_E_CLOSED_OUTSIDE;
  if (int err = sys::TtySetModemLine(m_hFile, line, on)) return IoFailure(err);
  return S_OK;
}

HRESULT CYvVComPort::SetDtr(YV_BOOL On) { return ModemLine(sys::TtyDtr, On != 0); }

HRESULT CYvVComPort::SetRts(YV_BOOL On) { return ModemLine(sys::TtyRts, On != 0); }

}  // namespace ylvane
