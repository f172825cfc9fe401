#include "YvTcpLink.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "sys/Text.h"

namespace ylvane {

namespace {

// A TCP port number made only of digits, 0-65535.
std::optional<uint16_t> PortNumber(const std::string& digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  uint32_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  if (n > 65535) return std::nullopt;
  return static_cast<uint16_t>(n);
}

// "a.b.c.d:port" with nothing else around it.
bool NumericEndpoint(const std::string& name, sys::Endpoint* to) {
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos) return false;
  auto port = PortNumber(name.substr(colon + 1));
  uint32_t addr = 0;
  if (!port || !sys::ParseIPv4(name.substr(0, colon), &addr)) return false;
  *to = {addr, *port};
  return true;
}

}  // namespace

HRESULT ClientEndpoint(const char16_t* Name, sys::Endpoint* to) {
  auto name = sys::ToUtf8(Name);
  if (!name) return E_INVALIDARG;
  if (NumericEndpoint(*name, to)) return S_OK;  // used as it stands, no look-up
  const size_t colon = name->rfind(':');
  if (colon == std::string::npos || colon == 0) return E_INVALIDARG;
  // The port is the number the text after the colon starts with; text that
  // does not start with a digit gives port 0 (which nobody serves).
  const std::string rest = name->substr(colon + 1);
  const size_t digits = rest.find_first_not_of("0123456789");
  const std::string number = rest.substr(0, digits);
  uint16_t port = 0;
  if (!number.empty()) {
    auto parsed = PortNumber(number);
    if (!parsed) return E_INVALIDARG;  // beyond 65535
    port = *parsed;
  }
  uint32_t addr = 0;
  switch (sys::ResolveIPv4(name->substr(0, colon), &addr)) {
    case sys::ResolveResult::Found:
      break;
    case sys::ResolveResult::NotFound:
      return YV_E_PORT_NOT_EXISTS;
    case sys::ResolveResult::Failed:
      return E_INVALIDARG;
  }
  *to = {addr, port};
  return S_OK;
}

HRESULT ServerEndpoint(const char16_t* Name, sys::Endpoint* to) {
  auto name = sys::ToUtf8(Name);
  // Port 0 would listen on a port the system picks, which no device knows.
  if (!name || !NumericEndpoint(*name, to) || to->port == 0) return E_INVALIDARG;
  return S_OK;
}

void CTcpLink::QueueWrite(const void* bytes, int32_t count) {
  std::vector<uint8_t> packet;
  AppendEscaped(packet, static_cast<const uint8_t*>(bytes), count > 0 ? static_cast<size_t>(count) : 0);
  m_SendQueue.push_back(std::move(packet));
}

void CTcpLink::QueueBaudRate(uint32_t baudRate, char evChar) {
  m_SendQueue.push_back(BaudRateCommand(baudRate));
  m_nBaudRate = baudRate;
  m_chEvChar = evChar;
}

bool CTcpLink::ClearRx() {
  m_decoder.Reset();
  return m_DataBuf.Discard();
}

void CTcpLink::ClearTx() {
  if (m_headSent > 0) {
    m_SendQueue.resize(1);
  } else {
    m_SendQueue.clear();
  }
}

void CTcpLink::Reset() {
  ClearRx();
  m_SendQueue.clear();
  m_headSent = 0;
  m_DataBuf.Rearm(0, false);
}

CTcpLink::IoResult CTcpLink::Receive(int fd, const std::atomic<bool>& keepGoing) {
  uint8_t chunk[kChunk];
  bool gotSome = false;
  while (keepGoing) {
    // Telnet framing only ever shrinks a chunk, so a chunk no bigger than
    // the room left always fits.
    const size_t room = std::min(sizeof chunk, m_DataBuf.Space());
    if (room == 0) return IoResult::Ok;
    int err = 0;
    const ssize_t n = sys::ReceiveSome(fd, chunk, room, &err);
    if (n == 0) return IoResult::PeerClosed;
    if (n < 0) {
      if (err == EAGAIN || err == EWOULDBLOCK || gotSome) return IoResult::Ok;
      return IoResult::Failed;
    }
    gotSome = true;
    m_decoded.clear();
    m_decoder.Decode(chunk, static_cast<size_t>(n), m_decoded);
    m_DataBuf.Append(m_decoded.data(), m_decoded.size(), m_chEvChar);
  }
  return IoResult::Ok;
}

CTcpLink::IoResult CTcpLink::SendQueued(int fd) {
  while (!m_SendQueue.empty()) {
    const std::vector<uint8_t>& head = m_SendQueue.front();
    if (m_headSent >= head.size()) {  // an empty packet
      m_SendQueue.pop_front();
      m_headSent = 0;
      continue;
    }
    int err = 0;
    const ssize_t n = sys::SendSome(fd, head.data() + m_headSent, head.size() - m_headSent, &err);
    if (n < 0) {
      if (err == EAGAIN || err == EWOULDBLOCK) return IoResult::Ok;
      return IoResult::Failed;
    }
    m_headSent += static_cast<size_t>(n);
    if (m_headSent == head.size()) {
      m_SendQueue.pop_front();
      m_headSent = 0;
    }
  }
  return IoResult::Ok;
}

}  // namespace ylvane
