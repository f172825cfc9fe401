// The TCP server port and its shared listener, with devices of the test
// calling in over real loopback sockets. Loopback has all of 127.0.0.0/8, so
// devices call from different addresses of this host.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "../common/Pty.h"
#include "../common/TcpPeer.h"
#include "YvPort.h"
#include "ylvane.h"

namespace {

std::u16string Name(const std::string& peer, uint16_t port) {
  std::string s = peer + ":" + std::to_string(port);
  return std::u16string(s.begin(), s.end());
}

std::string BaudCommand(uint32_t baud) {
  return Bytes({0xFF, 0xFA, 0x2C, 0x01, static_cast<int>(baud >> 24), static_cast<int>((baud >> 16) & 0xFF),
                static_cast<int>((baud >> 8) & 0xFF), static_cast<int>(baud & 0xFF), 0xFF, 0xF0});
}

class TcpServerPort : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreeListenPort();
    ASSERT_NE(port_, 0);
    ASSERT_EQ(YV_Initialize(0), S_OK);
  }
  void TearDown() override {
    for (YV_HANDLE h : handles_) YV_CloseHandle(h);
    YV_Finalyze();
  }
  YV_HANDLE Open(const std::string& peer, uint32_t baud = 9600, char evChar = 10) {
    YV_HANDLE h = nullptr;
    EXPECT_EQ(YV_Open(&h, Name(peer, port_).c_str(), YV_PORT_IPS, baud, evChar, 2), S_OK);
    if (h) handles_.push_back(h);
    return h;
  }
  void CloseHandle(YV_HANDLE h) {
    handles_.erase(std::remove(handles_.begin(), handles_.end(), h), handles_.end());
    EXPECT_EQ(YV_CloseHandle(h), S_OK);
  }
  static ylvane::IYvPort* Port(YV_HANDLE h) {
    return dynamic_cast<ylvane::CYvPort*>(static_cast<ylvane::IUnknown*>(h));
  }
  static std::string ReadAll(YV_HANDLE h) {
    std::string out;
    char buf[4096];
    for (;;) {
      int32_t n = -1;
      if (YV_Read(h, buf, sizeof buf, &n) != S_OK || n <= 0) return out;
      out.append(buf, static_cast<size_t>(n));
    }
  }
  // Arms the port's event, waits for it and reads what came.
  static std::string WaitAndRead(YV_HANDLE h, int timeoutMs = 2000) {
    int ev = -1;
    EXPECT_EQ(YV_StartWaitEvent(h, &ev), S_OK);
    if (!Signalled(ev, timeoutMs)) return "";
    return ReadAll(h);
  }
  // A device calling from the given address that has had the port's first
  // words (its baud rate command): it is connected to that port.
  TcpConn Call(const char* from, uint32_t expectBaud) {
    TcpConn c = TcpConn::To(port_, from);
    EXPECT_TRUE(c.Ok());
    EXPECT_EQ(c.Receive(10), BaudCommand(expectBaud)) << from;
    return c;
  }

  uint16_t port_ = 0;
  std::vector<YV_HANDLE> handles_;
};

TEST_F(TcpServerPort, NamesMustBeANumericAddressAndALocalPort) {
  const std::u16string badUtf16 = std::u16string(u"127.0.0.1") + char16_t(0xDC00) + u":4001";
  const std::u16string cases[] = {
      u"",          u"reader1:4001", u"localhost:4001", u"127.0.0.1", u":4001",  u"127.0.0.1:",
      u"127.0.0.1:0", u"127.0.0.1:70000", u"127.0.0.1:40x", u"127.0.0.1:-1", u"127.1:4001", badUtf16,
  };
  for (const auto& name : cases) {
    YV_HANDLE h = reinterpret_cast<YV_HANDLE>(1);
    EXPECT_EQ(YV_Open(&h, name.c_str(), YV_PORT_IPS, 9600, 10, 2), E_INVALIDARG)
        << std::string(name.begin(), name.end());
    EXPECT_EQ(h, nullptr);
  }
}

TEST_F(TcpServerPort, PortInUseIsASocketErrorAndLeavesNoListener) {
  {
    TcpListener other(port_);  // another program listens there
    ASSERT_TRUE(other.Ok());
    YV_HANDLE h = nullptr;
    EXPECT_EQ(YV_Open(&h, Name("127.0.0.1", port_).c_str(), YV_PORT_IPS, 9600, 10, 2), YV_E_SOCKET);
    EXPECT_EQ(h, nullptr);
  }
  // Once it is free, the port opens and the device gets through.
  YV_HANDLE h = Open("127.0.0.1");
  TcpConn dev = Call("127.0.0.1", 9600);
  ASSERT_TRUE(dev.Send("ok\n"));
  EXPECT_EQ(WaitAndRead(h), "ok\n");
}

TEST_F(TcpServerPort, WaitsForTheDeviceAndSendsWhatWasQueuedInOrder) {
  YV_HANDLE h = Open("127.0.0.1", 9600, 10);
  EXPECT_TRUE(Port(h)->IsOpened());
  char buf[8];
  int32_t n = -1;
  EXPECT_EQ(YV_Read(h, buf, sizeof buf, &n), S_OK);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(YV_Write(h, "hi\xFF", 3), S_OK);

  TcpConn dev = Call("127.0.0.1", 9600);
  EXPECT_EQ(dev.Receive(4), Bytes({'h', 'i', 0xFF, 0xFF}));

  // Both ways, every byte value, as a telnet peer reads and writes them.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i == 10 ? 0 : i);
  ASSERT_EQ(YV_Write(h, all.data(), static_cast<int32_t>(all.size())), S_OK);
  TelnetWire seen = ReadTelnet(dev.Receive(all.size() + 1));
  EXPECT_TRUE(seen.complete);
  EXPECT_EQ(seen.data, all);
  std::string wire;
  for (char c : all) {
    wire += c;
    if (c == '\xFF') wire += c;
  }
  ASSERT_TRUE(dev.Send(wire + Bytes({0xFF, 0xFB, 0x01, 0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0xF0}) + "\n"));
  std::string got;
  while (got.size() < all.size() + 1) {
    std::string more = WaitAndRead(h);
    if (more.empty()) break;
    got += more;
  }
  EXPECT_EQ(got, all + "\n");

  ASSERT_EQ(YV_SetBaudAndEvChar(h, 115200, '\r'), S_OK);
  EXPECT_EQ(dev.Receive(10), BaudCommand(115200));
  uint32_t baud = 0;
  char ev = 0;
  EXPECT_EQ(YV_GetBaudAndEvChar(h, &baud, &ev), S_OK);
  EXPECT_EQ(baud, 115200u);
  EXPECT_EQ(ev, '\r');
}

TEST_F(TcpServerPort, OneListenerHandsEachCallToThePortExpectingThatAddress) {
  YV_HANDLE a = Open("127.0.0.5", 1200);
  YV_HANDLE b = Open("127.0.0.6", 2400);

  TcpConn stranger = TcpConn::To(port_, "127.0.0.7");
  ASSERT_TRUE(stranger.Ok());
  EXPECT_TRUE(stranger.ClosedByPeer());

  TcpConn devB = Call("127.0.0.6", 2400);
  TcpConn devA = Call("127.0.0.5", 1200);
  // A second call from a connected device's address is turned away; the
  // first connection goes on.
  TcpConn again = TcpConn::To(port_, "127.0.0.5");
  ASSERT_TRUE(again.Ok());
  EXPECT_TRUE(again.ClosedByPeer());

  ASSERT_TRUE(devA.Send("from a\n"));
  ASSERT_TRUE(devB.Send("from b\n"));
  EXPECT_EQ(WaitAndRead(a), "from a\n");
  EXPECT_EQ(WaitAndRead(b), "from b\n");
  ASSERT_EQ(YV_Write(b, "to b", 4), S_OK);
  EXPECT_EQ(devB.Receive(4), "to b");
}

TEST_F(TcpServerPort, OfTwoPortsWithOneNameOnlyTheFirstIsCalled) {
  YV_HANDLE first = Open("127.0.0.1", 1200);
  YV_HANDLE second = Open("127.0.0.1", 2400);
  TcpConn dev = Call("127.0.0.1", 1200);
  TcpConn more = TcpConn::To(port_);
  ASSERT_TRUE(more.Ok());
  EXPECT_TRUE(more.ClosedByPeer());
  ASSERT_TRUE(dev.Send("x\n"));
  EXPECT_EQ(WaitAndRead(first), "x\n");
  int32_t n = -1;
  EXPECT_EQ(YV_GetInCount(second, &n), S_OK);
  EXPECT_EQ(n, 0);
}

TEST_F(TcpServerPort, DeviceHangingUpEndsThePortForGoodAfterTheLastBytes) {
  YV_HANDLE h = Open("127.0.0.1", 9600, 10);
  TcpConn dev = Call("127.0.0.1", 9600);
  int ev = -1;
  ASSERT_EQ(YV_StartWaitEvent(h, &ev), S_OK);
  ASSERT_TRUE(dev.Send("card 42"));  // no line feed: only the hang-up wakes the host
  dev.Close();
  ASSERT_TRUE(Signalled(ev, 2000));
  EXPECT_EQ(ReadAll(h), "card 42");

  char buf[8];
  int32_t n = -1;
  uint32_t baud = 0;
  EXPECT_EQ(YV_Read(h, buf, sizeof buf, &n), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_GetInCount(h, &n), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_StartWaitEvent(h, &ev), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_Write(h, "x", 1), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_SetBaudAndEvChar(h, 9600, 10), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_GetBaudAndEvChar(h, &baud, nullptr), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_Clear(h, 1, 1), S_OK);
  EXPECT_EQ(YV_SetDtr(h, 1), S_OK);
  EXPECT_TRUE(Port(h)->IsOpened());

  TcpConn back = TcpConn::To(port_);  // the listener runs on, but not for this port
  ASSERT_TRUE(back.Ok());
  EXPECT_TRUE(back.ClosedByPeer());
  auto closed = std::async(std::launch::async, [&] { CloseHandle(h); });
  EXPECT_EQ(closed.wait_for(std::chrono::seconds(2)), std::future_status::ready);
}

TEST_F(TcpServerPort, LastCloseStopsListeningAndAnOpenStartsAgain) {
  YV_HANDLE a = Open("127.0.0.1");
  YV_HANDLE b = Open("127.0.0.2");
  TcpConn devB = Call("127.0.0.2", 9600);
  CloseHandle(b);
  EXPECT_TRUE(devB.ClosedByPeer());
  {
    TcpConn stillListening = TcpConn::To(port_);
    EXPECT_TRUE(stillListening.Ok());
  }
  CloseHandle(a);
  EXPECT_FALSE(TcpConn::To(port_).Ok());  // refused: nobody listens

  YV_HANDLE c = Open("127.0.0.1");
  TcpConn dev = Call("127.0.0.1", 9600);
  ASSERT_TRUE(dev.Send("again\n"));
  EXPECT_EQ(WaitAndRead(c), "again\n");
}

// Ports of two hosts on one TCP port come and go at the same time: the last
// close must have let go of the listening socket before the next open binds.
TEST_F(TcpServerPort, OpensRacingTheLastCloseOnTheSameTcpPortAllSucceed) {
  constexpr int kRounds = 300;
  auto openAndClose = [this](const std::string& peer) {
    int failed = 0;
    HRESULT first = S_OK;
    for (int i = 0; i < kRounds; ++i) {
      YV_HANDLE h = nullptr;
      const HRESULT hr = YV_Open(&h, Name(peer, port_).c_str(), YV_PORT_IPS, 9600, 10, 2);
      if (hr != S_OK) {
        if (failed++ == 0) first = hr;
        continue;
      }
      if (YV_CloseHandle(h) != S_OK) ++failed;
    }
    return std::make_pair(failed, first);
  };
  auto a = std::async(std::launch::async, openAndClose, "127.0.0.2");
  auto b = std::async(std::launch::async, openAndClose, "127.0.0.3");
  for (auto* f : {&a, &b}) {
    const auto [failed, first] = f->get();
    EXPECT_EQ(failed, 0) << "first failure " << std::hex << first;
  }
  EXPECT_FALSE(TcpConn::To(port_).Ok());  // the last close still stops listening
}

TEST_F(TcpServerPort, ClosingTheOthersLeavesAHungUpPortUsable) {
  // A port whose device hung up stays on the listener until it is closed,
  // however the other ports come and go.
  YV_HANDLE gone = Open("127.0.0.1");
  {
    TcpConn dev = Call("127.0.0.1", 9600);
  }
  YV_HANDLE other = Open("127.0.0.2");
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (YV_Write(gone, "x", 1) != YV_E_CLOSED_OUTSIDE && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  CloseHandle(other);
  TcpConn stillListening = TcpConn::To(port_);
  EXPECT_TRUE(stillListening.Ok());
  CloseHandle(gone);
  EXPECT_FALSE(TcpConn::To(port_).Ok());
}

TEST_F(TcpServerPort, LongStreamPassesThroughAFullBufferIntact) {
  YV_HANDLE h = Open("127.0.0.1", 9600, 0);
  TcpConn dev = Call("127.0.0.1", 9600);
  std::string data;
  for (int i = 0; i < 200 * 1024; ++i) data += static_cast<char>((i * 13) & 0xFF);
  std::string wire;
  for (char c : data) {
    wire += c;
    if (c == '\xFF') wire += c;
  }
  auto sent = std::async(std::launch::async, [&] { return dev.Send(wire); });
  // The listener stops reading this device while the host lets the buffer
  // stay full, and goes on once the host makes room.
  int32_t n = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (YV_GetInCount(h, &n) == S_OK && n < 64 * 1024 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(YV_GetInCount(h, &n), S_OK);
  EXPECT_EQ(n, 64 * 1024);
  std::string got;
  while (got.size() < data.size()) {
    std::string more = WaitAndRead(h, 5000);
    if (more.empty()) break;
    got += more;
  }
  EXPECT_TRUE(sent.get());
  EXPECT_TRUE(got == data);
}

TEST(TcpServerPortObject, CloseWakesAPendingWait) {
  const uint16_t port = FreeListenPort();
  ylvane::IYvPort* p = nullptr;
  ASSERT_EQ(ylvane::CreatePort(Name("127.0.0.1", port).c_str(), &p, YV_PORT_IPS, 9600, 10, 2), S_OK);
  int ev = -1;
  ASSERT_EQ(p->StartWaitEvent(&ev), S_OK);
  auto woke = std::async(std::launch::async, [ev] { return Signalled(ev, 5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  p->Close();
  EXPECT_TRUE(woke.get());
  EXPECT_FALSE(p->IsOpened());
  EXPECT_FALSE(TcpConn::To(port).Ok());
  p->Release();
}

TEST(TcpServerPortLibrary, FinalyzeClosesServerPortsAndTheirListener) {
  const uint16_t port = FreeListenPort();
  ASSERT_EQ(YV_Initialize(0), S_OK);
  YV_HANDLE h = nullptr;
  ASSERT_EQ(YV_Open(&h, Name("127.0.0.1", port).c_str(), YV_PORT_IPS, 9600, 10, 2), S_OK);
  TcpConn dev = TcpConn::To(port);
  ASSERT_TRUE(dev.Ok());
  EXPECT_EQ(dev.Receive(10), BaudCommand(9600));
  YV_Finalyze();
  EXPECT_TRUE(dev.ClosedByPeer());
  EXPECT_FALSE(TcpConn::To(port).Ok());
}

}  // namespace
