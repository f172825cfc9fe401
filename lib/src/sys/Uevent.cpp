#include "sys/Uevent.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace ylvane::sys {

namespace {

// The udev daemon's datagrams start with this prefix and a big-endian magic.
constexpr char kUdevPrefix[] = "libudev";
constexpr uint32_t kUdevMagic = 0xFEEDCAFE;
constexpr size_t kUdevHeaderMin = 24;  // prefix, magic, header size, properties offset and length

uint32_t BigEndian32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

uint32_t Native32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void TakeProperties(std::string_view props, Uevent& ev) {
  while (!props.empty()) {
    size_t end = props.find('\0');
    std::string_view kv = props.substr(0, end);
    props.remove_prefix(end == std::string_view::npos ? props.size() : end + 1);
    size_t eq = kv.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = kv.substr(0, eq), value = kv.substr(eq + 1);
    if (key == "ACTION")
      ev.action = value;
    else if (key == "DEVPATH")
      ev.devPath = value;
    else if (key == "SUBSYSTEM")
      ev.subsystem = value;
    else if (key == "DEVTYPE")
      ev.devType = value;
    else if (key == "PRODUCT")
      ev.product = value;
  }
}

}  // namespace

std::optional<Uevent> ParseUevent(const char* data, size_t size) {
  if (!data || size == 0) return std::nullopt;
  std::string_view all(data, size);
  Uevent ev;
  if (size >= kUdevHeaderMin && std::memcmp(data, kUdevPrefix, sizeof kUdevPrefix) == 0) {
    if (BigEndian32(data + 8) != kUdevMagic) return std::nullopt;
    const uint32_t off = Native32(data + 16), len = Native32(data + 20);
    if (off < kUdevHeaderMin || off > size || len > size - off) return std::nullopt;
    TakeProperties(all.substr(off, len), ev);
  } else {
    size_t end = all.find('\0');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view head = all.substr(0, end);
    if (head.find('@') == std::string_view::npos) return std::nullopt;
    TakeProperties(all.substr(end + 1), ev);
  }
  if (ev.action.empty() || ev.devPath.empty() || ev.subsystem.empty()) return std::nullopt;
  return ev;
}

bool ParseUsbProduct(const std::string& product, unsigned* vendor, unsigned* productId) {
  const char* p = product.c_str();
  char* end = nullptr;
  unsigned long v = std::strtoul(p, &end, 16);
  if (end == p || *end != '/' || v > 0xFFFF) return false;
  p = end + 1;
  unsigned long id = std::strtoul(p, &end, 16);
  if (end == p || *end != '/' || id > 0xFFFF) return false;
  *vendor = static_cast<unsigned>(v);
  *productId = static_cast<unsigned>(id);
  return true;
}

std::optional<UeventSocket> UeventSocket::Open() {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) return std::nullopt;
  // Room for a burst (a hub with many devices plugged in at once).
  int size = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  sockaddr_nl addr{};
  addr.nl_family = AF_NETLINK;
  addr.nl_groups = 1;  // the kernel's own events
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return std::nullopt;
  }
  return UeventSocket(fd);
}

UeventSocket& UeventSocket::operator=(UeventSocket&& o) noexcept {
  if (this != &o) {
    if (m_fd >= 0) close(m_fd);
    m_fd = o.m_fd;
    o.m_fd = -1;
  }
  return *this;
}

UeventSocket::~UeventSocket() {
  if (m_fd >= 0) close(m_fd);
}

std::vector<Uevent> UeventSocket::Receive(bool* overflowed) {
  std::vector<Uevent> events;
  *overflowed = false;
  char buf[8192];
  for (;;) {
    sockaddr_nl from{};
    iovec iov{buf, sizeof buf};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n = recvmsg(m_fd, &msg, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOBUFS) {
        *overflowed = true;
        continue;
      }
      break;  // EAGAIN: nothing more waits
    }
    if (msg.msg_flags & MSG_TRUNC) continue;
    // Only the kernel (port id 0) sends these; anyone may unicast to us.
    if (msg.msg_namelen < offsetof(sockaddr_nl, nl_groups) || from.nl_family != AF_NETLINK ||
        from.nl_pid != 0)
      continue;
    if (auto ev = ParseUevent(buf, static_cast<size_t>(n))) events.push_back(std::move(*ev));
  }
  return events;
}

}  // namespace ylvane::sys
