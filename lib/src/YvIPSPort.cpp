#include "YvIPSPort.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>

#include "sys/NeverDestroyed.h"

namespace ylvane {

using CsLock = std::lock_guard<std::recursive_mutex>;

namespace {

// The listeners by local TCP port. Its lock is taken before a listener's,
// never after; listener threads never take it.
//
// The table is never destroyed: the run-time destroys statics at exit()
// before the exit handlers a host registered earlier, and such a handler
// may still close a server port (the lock has nothing to destroy). The
// listener threads still running at exit end with the process.
std::mutex& ListenMapLock() {
  static std::mutex lock;
  return lock;
}

std::map<uint16_t, std::unique_ptr<CIPSPortListen>>& ListenMap() {
  // An empty map holds no heap memory: with no server port open nothing is
  // left behind when the library is unloaded.
  static sys::NeverDestroyed<std::map<uint16_t, std::unique_ptr<CIPSPortListen>>> map;
  return *map;
}

constexpr int kBacklog = 5;
// A pause after a failure of the listener thread that would otherwise come
// back at once (no memory, no descriptors).
constexpr int kRetryPauseMs = 100;

}  // namespace

// ---- the port ------------------------------------------------------------

CIPSPort::~CIPSPort() { Close(); }

template <class F>
HRESULT CIPSPort::Locked(F&& f) {
  if (!m_pListen) return f();
  CsLock lock(m_pListen->Lock());
  return f();
}

HRESULT CIPSPort::Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t /*StopBits*/) {
  Close();
  m_sName = Name;
  sys::Endpoint local;
  HRESULT hr = ServerEndpoint(Name, &local);
  if (YV_FAILED(hr)) return hr;
  // Not attached yet, so no other thread sees any of this.
  m_link.Reset();
  m_socket = -1;
  m_dwPeerAddr = local.addr;
  m_bClosed = false;
  // Every server port asks for its baud rate first thing when the device
  // calls, also for a rate of 0.
  m_link.QueueBaudRate(BaudRate, EvChar);

  {
    std::lock_guard<std::mutex> mapLock(ListenMapLock());
    auto& map = ListenMap();
    auto it = map.find(local.port);
    if (it == map.end()) it = map.emplace(local.port, std::make_unique<CIPSPortListen>(local.port)).first;
    hr = it->second->AttachPort(this);
    if (YV_SUCCEEDED(hr))
      m_pListen = it->second.get();
    else if (!it->second->HasPorts())
      map.erase(it);  // stopped under the lock, like the last close's (see Close)
  }
  if (YV_FAILED(hr)) m_bClosed = true;
  return hr;
}

void CIPSPort::Close() {
  CIPSPortListen* listen = m_pListen;
  if (!listen) return;
  listen->DetachPort(this);
  {
    std::lock_guard<std::mutex> mapLock(ListenMapLock());
    auto& map = ListenMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
      if (it->second.get() == listen) {
        // The last port on its TCP port takes the listener with it: the
        // thread ends and the listening socket is closed before the lock is
        // let go. An Open of the same TCP port waits for the lock, so it
        // never binds while the old socket still listens. The listener
        // thread never takes this lock, so ending it here cannot deadlock.
        if (!listen->HasPorts()) map.erase(it);
        break;
      }
    }
  }
  m_pListen = nullptr;
}

HRESULT CIPSPort::SetBaudAndEvChar(uint32_t BaudRate, char EvChar) {
  return Locked([&]() -> HRESULT {
    if (m_bClosed) return YV_E_CLOSED_OUTSIDE;
    m_link.QueueBaudRate(BaudRate, EvChar);
    m_pListen->Wake();
    return S_OK;
  });
}

HRESULT CIPSPort::GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) {
  return Locked([&]() -> HRESULT {
    if (m_bClosed) return YV_E_CLOSED_OUTSIDE;
    if (BaudRate) *BaudRate = m_link.BaudRate();
    if (EvChar) *EvChar = m_link.EvChar();
    return S_OK;
  });
}

HRESULT CIPSPort::Clear(YV_BOOL Rx, YV_BOOL Tx) {
  return Locked([&]() -> HRESULT {
    if (Rx && m_link.ClearRx() && m_pListen) m_pListen->Wake();
    if (Tx) m_link.ClearTx();
    return S_OK;
  });
}

HRESULT CIPSPort::Write(const void* Buf, int32_t Count) {
  return Locked([&]() -> HRESULT {
    if (m_bClosed) return YV_E_CLOSED_OUTSIDE;
    m_link.QueueWrite(Buf, Count);  // waits in the queue until the device calls
    m_pListen->Wake();
    return S_OK;
  });
}

HRESULT CIPSPort::Read(void* Buf, int32_t Count, int32_t* Read) {
  return Locked([&]() -> HRESULT {
    // What arrived before the connection ended is still handed out.
    if (m_bClosed && m_link.Buffer().Empty()) return YV_E_CLOSED_OUTSIDE;
    bool madeRoom = false;
    const size_t n = m_link.Buffer().Take(Buf, Count > 0 ? static_cast<size_t>(Count) : 0, &madeRoom);
    if (madeRoom && m_pListen) m_pListen->Wake();
    *Read = static_cast<int32_t>(n);
    return S_OK;
  });
}

HRESULT CIPSPort::GetInCount(int32_t* Count) {
  return Locked([&]() -> HRESULT {
    if (m_bClosed && m_link.Buffer().Empty()) return YV_E_CLOSED_OUTSIDE;
    *Count = static_cast<int32_t>(m_link.Buffer().Size());
    return S_OK;
  });
}

HRESULT CIPSPort::StartWaitEvent(int* Event) {
  return Locked([&]() -> HRESULT {
    if (m_bClosed && m_link.Buffer().Empty()) return YV_E_CLOSED_OUTSIDE;
    m_link.Buffer().Rearm(m_link.EvChar(), m_bClosed);
    *Event = m_link.Buffer().EventFd();
    return S_OK;
  });
}

// ---- the listener --------------------------------------------------------

CIPSPortListen::~CIPSPortListen() { Stop(); }

HRESULT CIPSPortListen::Start() {
  int err = 0;
  const int fd = sys::TcpListen(m_nPort, kBacklog, &err);
  if (fd < 0) return YV_E_SOCKET;  // the TCP port in use, among others
  m_socket = fd;
  try {
    m_thread.Start([this] { ThreadLoop(); });
  } catch (...) {
    sys::CloseSocket(m_socket);
    m_socket = -1;
    return E_FAIL;
  }
  return S_OK;
}

void CIPSPortListen::Stop() {
  if (!m_thread.Started()) return;
  m_thread.Stop();
  sys::CloseSocket(m_socket);
  m_socket = -1;
}

HRESULT CIPSPortListen::AttachPort(CIPSPort* port) {
  CsLock lock(m_cs);
  // Room first, so that a listener never starts for a port it cannot hold.
  try {
    m_Ports.reserve(m_Ports.size() + 1);
  } catch (...) {
    return E_FAIL;
  }
  if (!m_thread.Started()) {
    HRESULT hr = Start();
    if (YV_FAILED(hr)) return hr;
  }
  m_Ports.push_back(port);
  m_thread.Wake();  // its queued packets wait for the device's call
  return S_OK;
}

void CIPSPortListen::DetachPort(CIPSPort* port) {
  CsLock lock(m_cs);
  if (port->m_socket >= 0) sys::CloseSocket(port->m_socket);
  port->m_socket = -1;
  port->m_bClosed = true;
  port->m_link.Buffer().Signal();  // ends a pending wait
  m_Ports.erase(std::remove(m_Ports.begin(), m_Ports.end(), port), m_Ports.end());
  // The thread finds the port gone before it touches it again (Serves).
  m_thread.Wake();
}

bool CIPSPortListen::HasPorts() {
  CsLock lock(m_cs);
  return !m_Ports.empty();
}

bool CIPSPortListen::Serves(CIPSPort* port, int fd) const {
  return std::find(m_Ports.begin(), m_Ports.end(), port) != m_Ports.end() && port->m_socket == fd &&
         fd >= 0;
}

void CIPSPortListen::DropConnection(CIPSPort* port, bool shutdown) {
  if (shutdown) sys::ShutdownBoth(port->m_socket);
  sys::CloseSocket(port->m_socket);
  port->m_socket = -1;
  port->m_bClosed = true;
  // A host waiting for data wakes, reads what is left and then learns of
  // the loss.
  port->m_link.Buffer().Signal();
}

void CIPSPortListen::AcceptConnections() {
  for (;;) {
    uint32_t peer = 0;
    int err = 0;
    const int fd = sys::TcpAccept(m_socket, &peer, &err);
    if (fd < 0) {
      if (err == EAGAIN || err == EWOULDBLOCK) return;
      if (err == ECONNABORTED || err == EPROTO || err == EPERM) continue;  // that caller gave up
      // Out of descriptors or memory: the call stays waiting and is taken
      // after a pause, rather than the thread spinning on it.
      m_thread.Pause(kRetryPauseMs);
      return;
    }
    CsLock lock(m_cs);
    // The first open port that expects this address; its own TCP port is
    // not compared. A port that is already connected refuses more calls.
    auto it = std::find_if(m_Ports.begin(), m_Ports.end(), [peer](CIPSPort* p) {
      return !p->m_bClosed && p->m_dwPeerAddr == peer;
    });
    if (it == m_Ports.end() || (*it)->m_socket >= 0) {
      sys::CloseSocket(fd);
      continue;
    }
    sys::SetKeepAlive(fd, kKeepAliveIdleMs, kKeepAliveIntervalMs);
    (*it)->m_socket = fd;
  }
}

void CIPSPortListen::ThreadLoop() {
  std::vector<pollfd> fds;
  std::vector<CIPSPort*> polled;
  while (m_thread.Running()) {
    try {
      fds.clear();
      polled.clear();
      fds.push_back({m_thread.WakeFd(), POLLIN, 0});
      fds.push_back({m_socket, POLLIN, 0});
      {
        CsLock lock(m_cs);
        for (CIPSPort* port : m_Ports) {
          if (port->m_socket < 0) continue;
          // Packets queued before the call (the baud rate, early writes)
          // leave as soon as the device is connected.
          if (port->m_link.HasQueued() &&
              port->m_link.SendQueued(port->m_socket) == CTcpLink::IoResult::Failed) {
            DropConnection(port, true);
            continue;
          }
          short events = 0;
          if (!port->m_link.Buffer().Full()) events |= POLLIN;
          if (port->m_link.HasQueued()) events |= POLLOUT;
          if (events == 0) continue;
          fds.push_back({port->m_socket, events, 0});
          polled.push_back(port);
        }
      }
      if (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno != EINTR) m_thread.Pause(kRetryPauseMs);
        continue;
      }
      if (fds[0].revents & POLLIN) m_thread.ResetWake();
      if (!m_thread.Running()) break;
      if (fds[1].revents & POLLIN) AcceptConnections();
      CsLock lock(m_cs);
      for (size_t i = 0; i < polled.size(); ++i) {
        const pollfd& p = fds[i + 2];
        CIPSPort* port = polled[i];
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) || !Serves(port, p.fd)) continue;
        switch (port->m_link.Receive(port->m_socket, m_thread.RunningFlag())) {
          case CTcpLink::IoResult::Ok:
            break;
          case CTcpLink::IoResult::PeerClosed:
            DropConnection(port, false);
            break;
          case CTcpLink::IoResult::Failed:
            DropConnection(port, true);
            break;
        }
      }
    } catch (...) {
      m_thread.Pause(kRetryPauseMs);
    }
  }
}

}  // namespace ylvane
