#include "YvIPPort.h"

#include <poll.h>

#include <cerrno>

namespace ylvane {

using Lock = std::lock_guard<std::recursive_mutex>;

CIPPort::~CIPPort() { Close(); }

HRESULT CIPPort::Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t /*StopBits*/) {
  Close();
  m_sName = Name;
  sys::Endpoint to;
  HRESULT hr = ClientEndpoint(Name, &to);
  if (YV_FAILED(hr)) return hr;
  int err = 0;
  const int fd = sys::TcpSocket(&err);
  if (fd < 0) return YV_E_SOCKET;
  sys::SetKeepAlive(fd, kKeepAliveIdleMs, kKeepAliveIntervalMs);
  const int rc = sys::Connect(fd, to);
  if (rc != 0 && rc != EINPROGRESS) {
    sys::CloseSocket(fd);
    return YV_E_PORT_NOT_EXISTS;
  }
  try {
    Lock lock(m_cs);
    m_link.Reset();
    m_link.SetEvChar(EvChar);
    // Queued before the worker starts, so the command is the first thing
    // sent and Open does not depend on how fast a refusal comes back.
    if (BaudRate != 0 || EvChar != 0) m_link.QueueBaudRate(BaudRate, EvChar);
    m_socket = fd;
    m_bConnected = rc == 0;
    m_worker.Start([this] { WorkerThread(); });
  } catch (...) {
    Lock lock(m_cs);
    sys::CloseSocket(fd);
    m_socket = -1;
    throw;
  }
  return S_OK;
}

void CIPPort::Close() {
  if (!m_worker.Started()) return;
  m_worker.Stop();
  Lock lock(m_cs);
  sys::CloseSocket(m_socket);
  m_socket = -1;
  m_link.Buffer().Signal();  // ends a pending wait
}

YV_BOOL CIPPort::IsOpened() {
  Lock lock(m_cs);
  return m_socket >= 0;
}

void CIPPort::LoseConnection(bool shutdown) {
  m_worker.EndFromInside();
  if (shutdown) sys::ShutdownBoth(m_socket);
  sys::CloseSocket(m_socket);
  m_socket = -1;
  // A host waiting for data wakes, reads what is left and then learns of
  // the loss from StartWaitEvent.
  m_link.Buffer().Signal();
}

void CIPPort::MadeRoom(bool madeRoom) {
  if (madeRoom) m_worker.Wake();
}

void CIPPort::WorkerThread() {
  for (;;) {
    pollfd fds[2] = {{m_worker.WakeFd(), POLLIN, 0}, {-1, 0, 0}};
    {
      Lock lock(m_cs);
      if (!m_worker.Running()) return;
      if (m_bConnected && m_link.HasQueued() &&
          m_link.SendQueued(m_socket) == CTcpLink::IoResult::Failed) {
        LoseConnection(true);
        return;
      }
      short events = 0;
      if (!m_bConnected) {
        events = POLLOUT;  // the connect's outcome
      } else {
        // A full buffer is not read until the host makes room: TCP then
        // holds the sender back.
        if (!m_link.Buffer().Full()) events |= POLLIN;
        if (m_link.HasQueued()) events |= POLLOUT;
      }
      if (events) fds[1] = {m_socket, events, 0};
    }
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      Lock lock(m_cs);
      if (m_worker.Running()) LoseConnection(true);
      return;
    }
    if (fds[0].revents & POLLIN) m_worker.ResetWake();
    const short got = fds[1].revents;
    if (got == 0) continue;
    Lock lock(m_cs);
    if (!m_worker.Running()) return;
    if (!m_bConnected) {
      // Refused, unreachable or timed out: no retry.
      if (sys::ConnectResult(m_socket) != 0) {
        LoseConnection(false);
        return;
      }
      m_bConnected = true;  // what was queued meanwhile goes out next cycle
      continue;
    }
    if (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      switch (m_link.Receive(m_socket, m_worker.RunningFlag())) {
        case CTcpLink::IoResult::Ok:
          break;
        case CTcpLink::IoResult::PeerClosed:
          LoseConnection(false);
          return;
        case CTcpLink::IoResult::Failed:
          LoseConnection(true);
          return;
      }
    }
  }
}

HRESULT CIPPort::SetBaudAndEvChar(uint32_t BaudRate, char EvChar) {
  Lock lock(m_cs);
  if (!m_worker.Running()) return YV_E_CLOSED_OUTSIDE;
  m_link.QueueBaudRate(BaudRate, EvChar);
  m_worker.Wake();
  return S_OK;
}

HRESULT CIPPort::GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) {
  Lock lock(m_cs);
  if (BaudRate) *BaudRate = m_link.BaudRate();
  if (EvChar) *EvChar = m_link.EvChar();
  return S_OK;
}

HRESULT CIPPort::Clear(YV_BOOL Rx, YV_BOOL Tx) {
  Lock lock(m_cs);
  if (Rx) MadeRoom(m_link.ClearRx());
  if (Tx) m_link.ClearTx();
  return S_OK;
}

HRESULT CIPPort::Write(const void* Buf, int32_t Count) {
  Lock lock(m_cs);
  if (!m_worker.Running()) return YV_E_CLOSED_OUTSIDE;
  m_link.QueueWrite(Buf, Count);
  m_worker.Wake();
  return S_OK;
}

HRESULT CIPPort::Read(void* Buf, int32_t Count, int32_t* Read) {
  Lock lock(m_cs);
  // What was decoded before a loss stays readable.
  bool madeRoom = false;
  const size_t n = m_link.Buffer().Take(Buf, Count > 0 ? static_cast<size_t>(Count) : 0, &madeRoom);
  MadeRoom(madeRoom);
  *Read = static_cast<int32_t>(n);
  return S_OK;
}

HRESULT CIPPort::GetInCount(int32_t* Count) {
  Lock lock(m_cs);
  *Count = static_cast<int32_t>(m_link.Buffer().Size());
  return S_OK;
}

HRESULT CIPPort::StartWaitEvent(int* Event) {
  Lock lock(m_cs);
  const bool ended = !m_worker.Running();
  // Once the connection is gone and everything is read there is nothing
  // left to wait for: an armed event would either never come or, signalled
  // at once, make the host spin.
  if (ended && m_link.Buffer().Empty()) return YV_E_CLOSED_OUTSIDE;
  m_link.Buffer().Rearm(m_link.EvChar(), ended);
  *Event = m_link.Buffer().EventFd();
  return S_OK;
}

}  // namespace ylvane
