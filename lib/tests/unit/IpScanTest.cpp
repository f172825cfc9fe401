// Discovery of network devices by real UDP broadcasts on a network of the
// test's own: devices answer from a second namespace behind a veth pair, or
// from this host's own addresses.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../common/OpenDescriptors.h"
#include "../common/PrivateNetwork.h"
#include "YvHandOff.h"
#include "YvLib.h"
#include "ylvane.h"

namespace {

namespace pn = private_network;

struct Offer {
  int slot;
  std::string reply;
  std::u16string name;
  uint32_t mask;
};

struct Found {
  int slot;
  std::u16string name;
  uint32_t mask;
  std::string id;
};

struct Recorder {
  std::vector<Offer> offers;
  std::vector<Found> found;
  size_t cancelAt = 0;  // the host answers FALSE to this report (1-based); 0 never
  int tries = 0;
  bool endAfterFirstTry = false;
};

Recorder* g_rec = nullptr;

// "YVNET-<id>" is a device ("YVNET-SKIP" one the host need not hear of).
YV_BOOL YV_CALL TypeCallback(const void* reply, int32_t size, HRESULT*, void* data,
                             YV_PORT_INFO* info, YV_ENUM_DEVICES_CALLBACK, void*) {
  int32_t slot;
  std::memcpy(&slot, data, sizeof slot);
  const std::string bytes(static_cast<const char*>(reply), size);
  g_rec->offers.push_back({slot, bytes, info->Name, info->TypeMask});
  if (bytes.compare(0, 6, "YVNET-") != 0) return 0;
  const std::string id = bytes.substr(6);
  if (id == "SKIP") {
    const int32_t skip = -1;
    std::memcpy(data, &skip, sizeof skip);
  } else {
    std::memcpy(static_cast<char*>(data) + 4, id.data(), std::min<size_t>(id.size(), 11));
  }
  return 1;
}

YV_BOOL YV_CALL HostCallback(const void* data, const YV_PORT_INFO* info, void* user) {
  auto* rec = static_cast<Recorder*>(user);
  const auto* block = static_cast<const char*>(data);
  int32_t slot;
  std::memcpy(&slot, block, sizeof slot);
  EXPECT_EQ(info->PortType, YV_PORT_IP);
  rec->found.push_back(
      {slot, info->Name, info->TypeMask, std::string(block + 4, strnlen(block + 4, 12))});
  return rec->found.size() != rec->cancelAt;
}

YV_BOOL YV_CALL TryCallback(const void* data, const YV_PORT_INFO* info, void* user) {
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(info, nullptr);
  auto* rec = static_cast<Recorder*>(user);
  ++rec->tries;
  return rec->endAfterFirstTry;
}

// A device that, once it hears a request, answers with datagrams without
// end, until stopped.
class Flood {
 public:
  Flood(int fd, std::string datagram) : fd_(fd), datagram_(std::move(datagram)) {
    EXPECT_GE(stopFd_, 0);
    thread_ = std::thread([this] { Run(); });
  }
  ~Flood() {
    Stop();
    close(stopFd_);
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) != sizeof one) {
    }
    if (thread_.joinable()) thread_.join();
  }
  // Waits until at least n datagrams went out; false when the flood stopped
  // or 10 s passed first.
  bool WaitSent(long n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return stop_ || sent_ >= n; }) &&
           !stop_;
  }

 private:
  void Run() {
    // The request names the scan's socket.
    pollfd p[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
    while (poll(p, 2, -1) < 0 && errno == EINTR) {
    }
    socklen_t len = sizeof to_;
    char buf[64];
    if (p[0].revents || recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT,
                              reinterpret_cast<sockaddr*>(&to_), &len) < 0)
      return;
    for (long n = 1; !Stopped(); ++n) {
      sendto(fd_, datagram_.data(), datagram_.size(), 0, reinterpret_cast<const sockaddr*>(&to_),
             sizeof to_);
      if (n % 256 == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_ += 256;
        cv_.notify_all();
      }
    }
  }
  bool Stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
  }

  const int fd_;
  const int stopFd_ = eventfd(0, EFD_CLOEXEC);
  const std::string datagram_;
  sockaddr_in to_{};
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  long sent_ = 0;
  std::thread thread_;
};

// A type that takes its time over every datagram and takes none of them.
YV_BOOL YV_CALL SlowRejectingCallback(const void*, int32_t, HRESULT*, void*, YV_PORT_INFO*,
                                      YV_ENUM_DEVICES_CALLBACK, void*) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class IpScan : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(YV_Initialize(0), S_OK);
    g_rec = &rec_;
  }
  void TearDown() override {
    YV_Finalyze();
    g_rec = nullptr;
  }

  static void RegisterType(uint32_t slot, const std::string& request, uint16_t udpPort,
                           YV_DEVTYPE_CALLBACK callback = TypeCallback) {
    YV_IP_DEVICE_TYPE t{};
    t.TypeIndex = slot;
    t.Request = request.data();
    t.RequestSize = static_cast<int32_t>(request.size());
    t.Callback = callback;
    t.DevDataSize = 16;
    t.UdpPort = udpPort;
    ASSERT_EQ(YV_RegIpDevice(&t), S_OK);
  }

  // Runs the scan inside the private network, with the far side's devices
  // answering; afterwards every socket of the scan is closed.
  void InNetwork(const std::vector<uint16_t>& farPorts,
                 const std::function<void(const std::vector<int>&)>& body) {
    const std::string failure = pn::Run(farPorts, body);
    if (!failure.empty()) GTEST_SKIP() << failure;
  }

  HRESULT Scan(uint32_t mask, YV_SCAN_PARAMS params, bool withTryCallback = false) {
    const int before = OpenDescriptors();
    HRESULT hr;
    if (withTryCallback) {
      // The detector's form of the scan, with a callback after each try;
      // the exported scan has none.
      ylvane::LibRef lib;
      hr = ylvane::ScanIpDevices(*lib.get(), &rec_, params, mask, HostCallback, TryCallback);
    } else {
      hr = YV_EnumIpDevices(mask, HostCallback, &rec_, &params, 0);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    return hr;
  }

  std::vector<Offer> OffersFrom(const std::string& prefix) const {
    std::vector<Offer> out;
    for (const Offer& o : rec_.offers)
      if (o.name.compare(0, prefix.size(), U16(prefix)) == 0) out.push_back(o);
    return out;
  }

  Recorder rec_;
};

// A reply time that every responder meets even on a loaded machine, for the
// cases that count what was heard and offered: a reply that came late would
// land in the next request's wait.
constexpr uint32_t kAllReplies = 1000;

YV_SCAN_PARAMS Params(uint32_t replyTimeout, int32_t tries) {
  return YV_SCAN_PARAMS{replyTimeout, tries, 0, 0, 0};
}

TEST_F(IpScan, DeviceAnsweringEveryRequestIsReportedOnce) {
  RegisterType(0, "DISCOVER-A", 40001);
  RegisterType(1, "DISCOVER-B", 40001);
  InNetwork({40001}, [&](const std::vector<int>& far) {
    pn::Responders devices;
    devices.Add(far[0], {"YVNET-0001"});
    devices.Start();
    EXPECT_EQ(Scan(0x3, Params(kAllReplies, 2)), S_OK);
    devices.Stop();
    // Two requests, two tries; only the host's first interface reaches it.
    const std::vector<std::string> heard = devices.Heard(0);
    EXPECT_EQ(heard, (std::vector<std::string>{"DISCOVER-A", "DISCOVER-B", "DISCOVER-A",
                                               "DISCOVER-B"}));
    ASSERT_EQ(rec_.found.size(), 1u);
    EXPECT_EQ(rec_.found[0].name, U16(pn::kFar + ":40001"));
    EXPECT_EQ(rec_.found[0].slot, 0);
    EXPECT_EQ(rec_.found[0].mask, 0x1u);
    EXPECT_EQ(rec_.found[0].id, "0001");
    EXPECT_EQ(OffersFrom(pn::kFar).size(), 1u);  // its later replies are dropped unasked
  });
}

TEST_F(IpScan, SenderIsOfferedUntilATypeTakesIt) {
  struct Case {
    const char* what;
    std::vector<std::string> replies;
    std::vector<std::string> offered;
    const char* id;  // null: nothing reported
  } cases[] = {
      {"a datagram no type takes leaves the sender open", {"NOISE", "YVNET-0002"},
       {"NOISE", "YVNET-0002"}, "0002"},
      {"taken but not to be reported: the sender counts as seen", {"YVNET-SKIP", "YVNET-0003"},
       {"YVNET-SKIP"}, nullptr},
      // An empty datagram is one like any other: it must not hold up the next.
      {"an empty datagram", {"", "YVNET-0008"}, {"", "YVNET-0008"}, "0008"},
      {"a datagram longer than the receive buffer is dropped unasked",
       {"YVNET-0009" + std::string(1100, '-'), "YVNET-0010"}, {"YVNET-0010"}, "0010"},
  };
  RegisterType(0, "DISCOVER", 40001);
  InNetwork({40001}, [&](const std::vector<int>& far) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      rec_ = Recorder{};
      pn::Responders devices;
      devices.Add(far[0], c.replies);
      devices.Start();
      EXPECT_EQ(Scan(0x1, Params(kAllReplies, 1)), S_OK);
      devices.Stop();
      std::vector<std::string> offered;
      for (const Offer& o : OffersFrom(pn::kFar)) offered.push_back(o.reply);
      EXPECT_EQ(offered, c.offered);
      ASSERT_EQ(rec_.found.size(), c.id ? 1u : 0u);
      if (c.id) {
        EXPECT_EQ(rec_.found[0].id, c.id);
      }
    }
  });
}

TEST_F(IpScan, RepliesFromThisHostsOwnAddressesCountAsOneSender) {
  RegisterType(0, "DISCOVER", 40002);
  InNetwork({}, [&](const std::vector<int>&) {
    // A device on this host hears the broadcasts of both interfaces.
    const int own = pn::BoundSocket(40002);
    ASSERT_GE(own, 0);
    pn::Responders devices;
    devices.Add(own, {"YVNET-0009"});
    devices.Start();
    EXPECT_EQ(Scan(0x1, Params(kAllReplies, 2)), S_OK);
    devices.Stop();
    close(own);
    EXPECT_EQ(devices.Heard(0).size(), 4u);  // two interfaces, two tries
    ASSERT_EQ(rec_.found.size(), 1u);
    const std::u16string name = rec_.found[0].name;
    EXPECT_TRUE(name.starts_with(U16(pn::kHost + ":")) || name.starts_with(U16(pn::kHost2 + ":")));
    EXPECT_EQ(rec_.offers.size(), 1u);
  });
}

// Two types with the same request on different ports share one broadcast:
// both ports hear it, and a reply from either is offered to both types.
TEST_F(IpScan, OneAddressIsOneDeviceAndSameRequestsShareABroadcast) {
  RegisterType(0, "DISCOVER", 40003);
  RegisterType(1, "DISCOVER", 40004);
  InNetwork({40003, 40004}, [&](const std::vector<int>& far) {
    pn::Responders devices;
    devices.Add(far[0], {"NOISE"});
    devices.Add(far[1], {"YVNET-0004"});
    devices.Start();
    EXPECT_EQ(Scan(0x3, Params(kAllReplies, 1)), S_OK);
    devices.Stop();
    EXPECT_EQ(devices.Heard(0), std::vector<std::string>{"DISCOVER"});
    EXPECT_EQ(devices.Heard(1), std::vector<std::string>{"DISCOVER"});
    ASSERT_EQ(rec_.found.size(), 1u);
    EXPECT_EQ(rec_.found[0].name, U16(pn::kFar + ":40004"));
    EXPECT_EQ(rec_.found[0].mask, 0x3u);
    // "NOISE" went to both types; the device's reply to the first.
    std::vector<int> slots;
    for (const Offer& o : OffersFrom(pn::kFar)) {
      slots.push_back(o.slot);
      EXPECT_EQ(o.mask, 0x3u);
    }
    EXPECT_EQ(slots, (std::vector<int>{0, 1, 0}));
  });
}

TEST_F(IpScan, TryCallbackEndsTheScanEarly) {
  RegisterType(0, "DISCOVER", 40001);
  InNetwork({40001}, [&](const std::vector<int>& far) {
    pn::Responders devices;
    devices.Add(far[0], {"YVNET-0005"});
    devices.Start();
    rec_.endAfterFirstTry = true;
    EXPECT_EQ(Scan(0x1, Params(kAllReplies, 3), /*withTryCallback=*/true), S_OK);
    devices.Stop();
    EXPECT_EQ(rec_.tries, 1);
    EXPECT_EQ(devices.Heard(0).size(), 1u);
    EXPECT_EQ(rec_.found.size(), 1u);
  });
}

TEST_F(IpScan, AbortEventEndsTheScan) {
  RegisterType(0, "DISCOVER", 40001);
  InNetwork({40001}, [&](const std::vector<int>&) {
    const int abort = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(abort, 0);
    std::thread aborter([abort] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      uint64_t one = 1;
      EXPECT_EQ(write(abort, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    });
    YV_SCAN_PARAMS params = Params(20000, 2);
    params.AbortEvent = abort;
    EXPECT_EQ(Scan(0x1, params), E_ABORT);
    aborter.join();
    close(abort);
  });
}

// A sender that never stops sending must not hold the scan past its reply
// time, nor keep it from hearing the abort event.
TEST_F(IpScan, FloodOfDatagramsDoesNotHoldTheScan) {
  struct Case {
    const char* what;
    uint32_t replyTimeout;
    bool abortWhileFlooded;
    HRESULT result;
  } cases[] = {
      {"the reply time ends the wait", 200, false, S_OK},
      {"the abort event is heard", 60000, true, E_ABORT},
  };
  RegisterType(0, "DISCOVER", 40001, SlowRejectingCallback);
  InNetwork({40001}, [&](const std::vector<int>& far) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      const int abort = eventfd(0, EFD_CLOEXEC);
      ASSERT_GE(abort, 0);
      YV_SCAN_PARAMS params = Params(c.replyTimeout, 1);
      params.AbortEvent = abort;
      Flood flood(far[0], "NOISE");
      auto scan = std::async(std::launch::async, [&] { return Scan(0x1, params); });
      if (c.abortWhileFlooded) {
        EXPECT_TRUE(flood.WaitSent(10000));
        uint64_t one = 1;
        EXPECT_EQ(write(abort, &one, sizeof one), static_cast<ssize_t>(sizeof one));
      }
      // Not a measure of speed: the flood only ends after the scan did, or
      // once the scan has plainly been held by it.
      const bool endedWhileFlooded = scan.wait_for(std::chrono::seconds(10)) ==
                                     std::future_status::ready;
      flood.Stop();
      EXPECT_TRUE(endedWhileFlooded);
      EXPECT_EQ(scan.get(), c.result);
      close(abort);
    }
  });
}

TEST_F(IpScan, HostAnsweringFalseCancelsTheScan) {
  RegisterType(0, "DISCOVER", 40001);
  InNetwork({40001}, [&](const std::vector<int>& far) {
    const int own = pn::BoundSocket(40001);
    ASSERT_GE(own, 0);
    pn::Responders devices;
    devices.Add(far[0], {"YVNET-0006"});
    devices.Add(own, {"YVNET-0007"});
    devices.Start();
    rec_.cancelAt = 1;
    EXPECT_EQ(Scan(0x1, Params(300, 2)), YV_S_CANCELED);
    devices.Stop();
    close(own);
    EXPECT_EQ(rec_.found.size(), 1u);
  });
}

TEST_F(IpScan, MaskWithoutARegisteredTypeSendsNothing) {
  RegisterType(0, "DISCOVER", 40001);
  EXPECT_EQ(Scan(0x6, Params(150, 1)), S_OK);
  EXPECT_TRUE(rec_.offers.empty());
  EXPECT_TRUE(rec_.found.empty());
}

}  // namespace
