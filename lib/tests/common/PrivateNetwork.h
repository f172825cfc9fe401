// A network of its own for discovery tests. The test body runs on a thread
// inside a fresh network namespace, the host side:
//   yvh0 10.77.0.1/24, wired by a veth pair to the far side's yvf0 10.77.0.2/24
//   yvh1 10.78.0.1/24, a second interface whose peer has no address
// The far side is a second namespace in which UDP sockets are opened for the
// body before it starts; devices answer on them. Needs the right to make
// namespaces (root) and the `ip` tool.
#pragma once

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace private_network {

inline const std::string kHost = "10.77.0.1";
inline const std::string kHost2 = "10.78.0.1";
inline const std::string kFar = "10.77.0.2";

inline bool Sh(const std::string& commands) {
  const std::string line = "PATH=/usr/sbin:/sbin:$PATH; set -e; " + commands + " >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

// Whether the link is up and passes traffic. The kernel finishes bringing a
// link up on a deferred worker; until then it has no queue and drops what
// is sent.
inline bool LinkPasses(const std::string& dev) {
  std::string out;
  if (FILE* p = popen(("PATH=/usr/sbin:/sbin:$PATH ip -o link show dev " + dev).c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out.find("state UP") != std::string::npos && out.find("qdisc noop") == std::string::npos;
}

// Waits, at most 10 s, for the link of the calling thread's namespace to pass
// traffic, woken by the kernel's link messages.
inline bool WaitLinkPasses(const std::string& dev) {
  const int nl = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (nl < 0) return false;
  sockaddr_nl groups{};
  groups.nl_family = AF_NETLINK;
  groups.nl_groups = RTMGRP_LINK;
  bool ok = bind(nl, reinterpret_cast<sockaddr*>(&groups), sizeof groups) == 0;
  for (int round = 0; ok && !LinkPasses(dev); ++round) {
    pollfd p{nl, POLLIN, 0};
    if (round == 100 || poll(&p, 1, 100) < 0) ok = false;
    char drain[8192];
    while (recv(nl, drain, sizeof drain, MSG_DONTWAIT) > 0) {
    }
  }
  close(nl);
  return ok;
}

// A UDP socket bound to any address on port, in the calling thread's
// namespace; -1 on failure.
inline int BoundSocket(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Runs body inside the host side with sockets on the far side's ports (in
// the order given). Returns why the network could not be made, or "".
inline std::string Run(const std::vector<uint16_t>& farPorts,
                       const std::function<void(const std::vector<int>& farSockets)>& body) {
  std::string failure;
  std::thread host([&] {
    if (unshare(CLONE_NEWNET) != 0) {
      failure = std::string("no network namespace: ") + std::strerror(errno);
      return;
    }
    if (!Sh("ip link set lo up; ip link add yvh0 type veth peer name yvf0;"
            "ip addr add " + kHost + "/24 brd + dev yvh0; ip link set yvh0 up;"
            "ip link add yvh1 type veth peer name yvh1p;"
            "ip addr add " + kHost2 + "/24 brd + dev yvh1; ip link set yvh1 up;"
            "ip link set yvh1p up")) {
      failure = "ip could not make the host side's links";
      return;
    }
    std::promise<pid_t> farTid;
    std::promise<void> moved, ready, done;
    std::vector<int> sockets;
    std::string farFailure;
    std::thread far([&] {
      if (unshare(CLONE_NEWNET) != 0) {
        farFailure = "no second network namespace";
        farTid.set_value(-1);
        return;
      }
      farTid.set_value(gettid());
      moved.get_future().wait();
      if (Sh("ip link set lo up; ip addr add " + kFar + "/24 brd + dev yvf0; ip link set yvf0 up") &&
          WaitLinkPasses("yvf0"))
        for (uint16_t port : farPorts) sockets.push_back(BoundSocket(port));
      else
        farFailure = "ip could not set the far side up";
      // The far side lives while its thread is in it: once it goes, its
      // end of the pair, and with it the host's end, is taken away.
      ready.set_value();
      done.get_future().wait();
    });
    const pid_t tid = farTid.get_future().get();
    if (tid > 0 && !Sh("ip link set yvf0 netns " + std::to_string(tid)))
      farFailure = "ip could not move yvf0";
    moved.set_value();
    if (tid > 0) ready.get_future().wait();
    if (farFailure.empty() && !(WaitLinkPasses("yvh0") && WaitLinkPasses("yvh1")))
      farFailure = "the host side's links do not come up";
    for (int s : sockets)
      if (s < 0) farFailure = "no socket on the far side";
    if (farFailure.empty()) body(sockets);
    done.set_value();
    far.join();
    failure = farFailure;
    for (int s : sockets)
      if (s >= 0) close(s);
  });
  host.join();
  return failure;
}

// Devices behind UDP sockets: each answers every datagram it receives with
// its replies, in order, to the sender. Served by one thread.
class Responders {
 public:
  Responders() : stop_(eventfd(0, EFD_CLOEXEC)) {}
  ~Responders() { Stop(); close(stop_); }

  void Add(int fd, std::vector<std::string> replies) {
    devices_.push_back({fd, std::move(replies), {}});
  }
  void Start() {
    thread_ = std::thread([this] { Loop(); });
  }
  void Stop() {
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    if (write(stop_, &one, sizeof one) != sizeof one) {
    }
    thread_.join();
  }
  // The requests device i heard.
  std::vector<std::string> Heard(size_t i) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_[i].heard;
  }

 private:
  struct Device {
    int fd;
    std::vector<std::string> replies;
    std::vector<std::string> heard;
  };

  void Loop() {
    for (;;) {
      std::vector<pollfd> fds{{stop_, POLLIN, 0}};
      for (const Device& d : devices_) fds.push_back({d.fd, POLLIN, 0});
      if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      for (size_t i = 0; i < devices_.size(); ++i) {
        if (!(fds[i + 1].revents & POLLIN)) continue;
        char buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(devices_[i].fd, buf, sizeof buf, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) continue;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          devices_[i].heard.emplace_back(buf, static_cast<size_t>(n));
        }
        for (const std::string& r : devices_[i].replies)
          sendto(devices_[i].fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
      }
    }
  }

  int stop_;
  std::vector<Device> devices_;
  mutable std::mutex mutex_;
  std::thread thread_;
};

}  // namespace private_network
