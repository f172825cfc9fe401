// The TCP client port against a telnet-speaking device of the test, on real
// loopback sockets.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/resource.h>

#include <atomic>
#include <future>
#include <string>
#include <system_error>
#include <thread>

#include "../common/Pty.h"
#include "../common/TcpPeer.h"
#include "YvPort.h"
#include "YvSeams.h"
#include "YvTelnet.h"
#include "ylvane.h"

namespace {

std::atomic<int> g_lookups{0};

// The resolver of these tests: "reader1" is this host, "nosuchhost" is
// unknown, "brokendns" finds the name server down.
int TestLookup(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  ++g_lookups;
  const std::string name(node ? node : "");
  if (name == "reader1") return getaddrinfo("127.0.0.1", service, hints, result);
  if (name == "brokendns") return EAI_AGAIN;
  return EAI_NONAME;
}

class TcpClientPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.Ok());
    ASSERT_EQ(YV_Initialize(0), S_OK);
    ylvane::SetHostLookup(&TestLookup);
    g_lookups = 0;
  }
  void TearDown() override {
    if (port_) YV_CloseHandle(port_);
    YV_Finalyze();
    ylvane::SetHostLookup(nullptr);
  }
  HRESULT Open(const std::u16string& name, uint32_t baud = 9600, char evChar = 10) {
    return YV_Open(&port_, name.c_str(), YV_PORT_IP, baud, evChar, 2);
  }
  // Opens toward the device and takes the connection there.
  TcpConn Connect(uint32_t baud = 9600, char evChar = 10) {
    EXPECT_EQ(Open(device_.Name(), baud, evChar), S_OK);
    return device_.Accept();
  }
  int Arm() {
    int ev = -1;
    EXPECT_EQ(YV_StartWaitEvent(port_, &ev), S_OK);
    return ev;
  }
  int32_t InCount() {
    int32_t n = -1;
    EXPECT_EQ(YV_GetInCount(port_, &n), S_OK);
    return n;
  }
  // Waits (without arming) until the port holds count bytes.
  bool WaitInCount(int32_t count, int timeoutMs = 2000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (InCount() < count) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return InCount() == count;
  }
  std::string ReadAll() {
    std::string out;
    char buf[4096];
    for (;;) {
      int32_t n = -1;
      EXPECT_EQ(YV_Read(port_, buf, sizeof buf, &n), S_OK);
      if (n <= 0) return out;
      out.append(buf, static_cast<size_t>(n));
    }
  }
  ylvane::IYvPort* Port() const {
    return dynamic_cast<ylvane::CYvPort*>(static_cast<ylvane::IUnknown*>(port_));
  }
  bool WaitClosedOutside(int timeoutMs = 2000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (YV_Write(port_, "x", 1) != YV_E_CLOSED_OUTSIDE) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  TcpListener device_;
  YV_HANDLE port_ = nullptr;
};

TEST_F(TcpClientPort, MalformedAndUnknownNamesFailAndLeaveNoHandle) {
  const std::u16string badUtf16 = std::u16string(u"reader") + char16_t(0xD800) + u":4001";
  struct Case {
    std::u16string name;
    HRESULT expected;
  } cases[] = {
      {u"", E_INVALIDARG},
      {u":4001", E_INVALIDARG},
      {u"reader1", E_INVALIDARG},           // no port
      {u"127.0.0.1", E_INVALIDARG},         // no port
      {u"reader1:70000", E_INVALIDARG},     // beyond the TCP ports
      {u"127.0.0.1:123456", E_INVALIDARG},
      {badUtf16, E_INVALIDARG},
      {u"brokendns:4001", E_INVALIDARG},    // a look-up failure other than "unknown"
      {u"nosuchhost:4001", YV_E_PORT_NOT_EXISTS},
      {u"224.0.0.1:4001", YV_E_PORT_NOT_EXISTS},  // no TCP route there: refused at once
  };
  for (const auto& c : cases) {
    YV_HANDLE h = reinterpret_cast<YV_HANDLE>(1);
    EXPECT_EQ(YV_Open(&h, c.name.c_str(), YV_PORT_IP, 9600, 10, 2), c.expected)
        << std::string(c.name.begin(), c.name.end());
    EXPECT_EQ(h, nullptr);
  }
}

TEST_F(TcpClientPort, DottedAddressIsUsedAsItStandsAndHostNamesAreLookedUp) {
  TcpConn a = Connect();
  EXPECT_TRUE(a.Ok());
  EXPECT_EQ(g_lookups, 0);
  YV_CloseHandle(port_);
  port_ = nullptr;

  ASSERT_EQ(Open(device_.Name("reader1")), S_OK);
  EXPECT_EQ(g_lookups, 1);
  TcpConn b = device_.Accept();
  EXPECT_TRUE(b.Ok());
  EXPECT_EQ(std::u16string(Port()->GetName()), device_.Name("reader1"));
}

TEST_F(TcpClientPort, BaudRateCommandGoesFirstAndDataIsEscaped) {
  TcpConn dev = Connect(9600, 10);
  ASSERT_TRUE(dev.Ok());
  ASSERT_EQ(YV_Write(port_, "\x41\xFF\x42", 3), S_OK);
  EXPECT_EQ(dev.Receive(14),
            Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0, 0x41, 0xFF, 0xFF, 0x42}));

  struct Case {
    uint32_t baud;
    std::string wire;
  } cases[] = {
      {115200, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0})},
      {65535, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0})},
      {0xFFFFFFFF, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                          0xFF, 0xF0})},
      {0, Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xF0})},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(YV_SetBaudAndEvChar(port_, c.baud, '\r'), S_OK);
    EXPECT_EQ(dev.Receive(c.wire.size()), c.wire) << c.baud;
    uint32_t baud = 1;
    char ev = 0;
    EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, &ev), S_OK);
    EXPECT_EQ(baud, c.baud);
    EXPECT_EQ(ev, '\r');
  }

  // Bytes that need escaping, both ways, as a telnet peer reads them.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  ASSERT_EQ(YV_Write(port_, all.data(), static_cast<int32_t>(all.size())), S_OK);
  TelnetWire seen = ReadTelnet(dev.Receive(all.size() + 1));
  EXPECT_TRUE(seen.complete);
  EXPECT_TRUE(seen.commands.empty());
  EXPECT_EQ(seen.data, all);
}

TEST_F(TcpClientPort, NothingIsSentFirstWithoutBaudRateOrEventCharacter) {
  TcpConn dev = Connect(0, 0);
  ASSERT_TRUE(dev.Ok());
  ASSERT_EQ(YV_Write(port_, "A", 1), S_OK);
  EXPECT_EQ(dev.Receive(1), "A");
  EXPECT_EQ(dev.Receive(1, 100), "");
  YV_CloseHandle(port_);
  port_ = nullptr;

  // An event character alone still asks for a baud rate, of 0.
  TcpConn dev2 = Connect(0, 10);
  ASSERT_TRUE(dev2.Ok());
  EXPECT_EQ(dev2.Receive(10), Bytes({0xFF, 0xFA, 0x2C, 0x01, 0, 0, 0, 0, 0xFF, 0xF0}));
}

// What a port makes of telnet framing it receives, chunk by chunk. Each case
// is fed to a fresh decoder in the chunks given; the port itself gets them
// all one after the other.
struct DecodeCase {
  const char* what;
  std::vector<std::string> chunks;
  std::string data;
};

std::vector<DecodeCase> DecodeCases() {
  return {
      {"doubled IAC", {Bytes({0x41, 0xFF, 0xFF, 0x42})}, Bytes({0x41, 0xFF, 0x42})},
      {"option command", {Bytes({0xFF, 0xFB, 0x01, 0x41})}, "A"},
      {"every option verb", {Bytes({0xFF, 0xFC, 0x01, 0xFF, 0xFD, 0xFF, 0xFF, 0xFE, 0x03, 0x41})}, "A"},
      {"subnegotiation", {Bytes({0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0, 0x41})}, "A"},
      {"two-byte command", {Bytes({0xFF, 0xF1, 0x41})}, "A"},
      {"stray SE", {Bytes({0xFF, 0xF0, 0x41})}, "A"},
      {"IAC then a plain byte", {Bytes({0xFF, 0x10, 0x41})}, "A"},
      {"lone IAC at a chunk's end", {Bytes({0x40, 0xFF}), Bytes({0xFF, 0x42})}, Bytes({0x40, 0xFF, 0x42})},
      {"option verb at a chunk's end", {Bytes({0xFF, 0xFD}), Bytes({0x01, 0x43})}, "C"},
      {"doubled IAC inside a subnegotiation",
       {Bytes({0xFF, 0xFA, 0x2C, 0xFF, 0xFF, 0x01, 0xFF, 0xF0, 0x44})}, "D"},
      {"subnegotiation across chunks",
       {Bytes({0xFF, 0xFA, 0x2C}), Bytes({0x01, 0x00, 0xFF}), Bytes({0xF0, 0x45})}, "E"},
      {"doubled IAC in a subnegotiation across chunks",
       {Bytes({0xFF, 0xFA, 0x01, 0xFF}), Bytes({0xFF, 0x02, 0xFF, 0xF0, 0x46})}, "F"},
      {"subnegotiation broken off by IAC and a plain byte",
       {Bytes({0xFF, 0xFA, 0x01, 0x02, 0xFF, 0x41, 0x47})}, "G"},
      {"data only", {"plain text"}, "plain text"},
  };
}

TEST(TelnetDecoder, StripsFramingAcrossChunks) {
  for (const auto& c : DecodeCases()) {
    ylvane::CTelnetDecoder decoder;
    std::vector<uint8_t> out;
    for (const auto& chunk : c.chunks)
      decoder.Decode(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(), out);
    EXPECT_EQ(std::string(out.begin(), out.end()), c.data) << c.what;
  }
}

TEST_F(TcpClientPort, ReceivedFramingIsStrippedAndNeverAnswered) {
  TcpConn dev = Connect(0, 10);
  ASSERT_TRUE(dev.Ok());
  std::string expected;
  for (const auto& c : DecodeCases()) {
    for (const auto& chunk : c.chunks) ASSERT_TRUE(dev.Send(chunk));
    expected += c.data;
    // The device's side of the exchange stays quiet: the port sends nothing
    // for the commands (only its own SET-BAUDRATE of 0 came first).
  }
  ASSERT_TRUE(dev.Send("\n"));
  expected += "\n";
  ASSERT_TRUE(Signalled(Arm(), 2000));
  ASSERT_TRUE(WaitInCount(static_cast<int32_t>(expected.size())));
  EXPECT_EQ(ReadAll(), expected);
  EXPECT_EQ(dev.Receive(10), Bytes({0xFF, 0xFA, 0x2C, 0x01, 0, 0, 0, 0, 0xFF, 0xF0}));
  EXPECT_EQ(dev.Receive(1, 100), "");
}

TEST_F(TcpClientPort, EventFollowsTheEventCharacter) {
  TcpConn dev = Connect(9600, 10);
  ASSERT_TRUE(dev.Ok());
  int ev = Arm();
  ASSERT_TRUE(dev.Send("abc"));
  ASSERT_TRUE(WaitInCount(3));
  EXPECT_FALSE(Signalled(ev, 50));
  ASSERT_TRUE(dev.Send("def\n"));
  EXPECT_TRUE(Signalled(ev, 2000));
  ASSERT_TRUE(WaitInCount(7));

  // A line that came before the re-arm is not lost: the event signals at once.
  ASSERT_TRUE(dev.Send("ghi\n"));
  ASSERT_TRUE(WaitInCount(11));
  EXPECT_TRUE(Signalled(Arm(), 0));
  EXPECT_EQ(ReadAll(), "abcdef\nghi\n");
  EXPECT_FALSE(Signalled(Arm(), 0));

  // Any 8-bit value can be the event character.
  ASSERT_EQ(YV_SetBaudAndEvChar(port_, 9600, '\x85'), S_OK);
  ev = Arm();
  ASSERT_TRUE(dev.Send("x\n"));
  ASSERT_TRUE(WaitInCount(2));
  EXPECT_FALSE(Signalled(ev, 50));
  ASSERT_TRUE(dev.Send("\x85"));
  EXPECT_TRUE(Signalled(ev, 2000));
  ReadAll();

  // Without one, every byte signals.
  ASSERT_EQ(YV_SetBaudAndEvChar(port_, 9600, 0), S_OK);
  ev = Arm();
  ASSERT_TRUE(dev.Send("y"));
  EXPECT_TRUE(Signalled(ev, 2000));
}

TEST_F(TcpClientPort, PeerClosingKeepsWhatCameAndWakesTheWaiter) {
  TcpConn dev = Connect(9600, 10);
  ASSERT_TRUE(dev.Ok());
  int ev = Arm();
  ASSERT_TRUE(dev.Send("card 1234"));  // no line feed: only the loss wakes the host
  dev.Close();
  ASSERT_TRUE(Signalled(ev, 2000));
  ASSERT_TRUE(WaitClosedOutside());
  EXPECT_EQ(Port()->IsOpened(), 0);
  EXPECT_EQ(InCount(), 9);
  EXPECT_EQ(ReadAll(), "card 1234");
  EXPECT_EQ(InCount(), 0);
  int ignored = -1;
  EXPECT_EQ(YV_StartWaitEvent(port_, &ignored), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_SetBaudAndEvChar(port_, 9600, 10), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_Clear(port_, 1, 1), S_OK);
  uint32_t baud = 0;
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, nullptr), S_OK);
  EXPECT_EQ(baud, 9600u);
}

TEST_F(TcpClientPort, RefusedConnectionLosesThePortAfterOpen) {
  std::string name = "127.0.0.1:" + std::to_string(FreeListenPort());
  ASSERT_EQ(Open(std::u16string(name.begin(), name.end())), S_OK);
  ASSERT_TRUE(WaitClosedOutside());
  EXPECT_EQ(Port()->IsOpened(), 0);
  int ev = -1;
  EXPECT_EQ(YV_StartWaitEvent(port_, &ev), YV_E_CLOSED_OUTSIDE);
}

TEST_F(TcpClientPort, ClearRxDropsAHalfReceivedCommand) {
  TcpConn dev = Connect(9600, 10);
  ASSERT_TRUE(dev.Ok());
  // One write: the X and the command's start reach the port in one piece and
  // are decoded together, so once the X is counted the start is taken too.
  ASSERT_TRUE(dev.Send(std::string("X") + Bytes({0xFF, 0xFA, 0x2C, 0x01})));
  ASSERT_TRUE(WaitInCount(1));
  ASSERT_EQ(YV_Clear(port_, 1, 0), S_OK);
  EXPECT_EQ(InCount(), 0);
  ASSERT_TRUE(dev.Send("AB\n"));
  ASSERT_TRUE(Signalled(Arm(), 2000));
  EXPECT_EQ(ReadAll(), "AB\n");
}

TEST_F(TcpClientPort, LongStreamPassesThroughAFullBufferIntact) {
  TcpConn dev = Connect(0, 0);
  ASSERT_TRUE(dev.Ok());
  std::string data;
  for (int i = 0; i < 300 * 1024; ++i) data += static_cast<char>((i * 7) & 0xFF);
  std::string wire;
  for (char c : data) {
    wire += c;
    if (c == '\xFF') wire += c;
  }
  auto sent = std::async(std::launch::async, [&] { return dev.Send(wire); });
  // The device writes on while the port holds a full buffer; nothing is read
  // from the socket until the host makes room.
  ASSERT_TRUE(WaitInCount(64 * 1024, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(InCount(), 64 * 1024);
  std::string got;
  while (got.size() < data.size()) {
    if (!Signalled(Arm(), 5000)) break;
    got += ReadAll();
  }
  EXPECT_TRUE(sent.get());
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
}

TEST_F(TcpClientPort, ClearTxNeverCutsAPacketTheSocketTookInPart) {
  TcpConn dev = Connect(0, 0);
  ASSERT_TRUE(dev.Ok());
  // The device reads one byte, then nothing more: the port's socket fills
  // up in the middle of a packet, and the first packet has surely been
  // taken in part when the queue is cleared.
  const size_t packetSize = 256 * 1024;
  const int packets = 64;
  for (int i = 0; i < packets; ++i) {
    std::string packet(packetSize, static_cast<char>(i == 0 ? 0xFF : i));
    ASSERT_EQ(YV_Write(port_, packet.data(), static_cast<int32_t>(packet.size())), S_OK);
  }
  std::string wire = dev.Receive(1, 5000);
  ASSERT_EQ(wire.size(), 1u);
  ASSERT_EQ(YV_Clear(port_, 0, 1), S_OK);
  ASSERT_EQ(YV_Write(port_, "END", 3), S_OK);
  while (wire.size() < 3 || wire.compare(wire.size() - 3, 3, "END") != 0) {
    std::string more = dev.Receive(1 << 20, 300);
    if (more.empty()) break;
    wire += more;
  }
  TelnetWire seen = ReadTelnet(wire);
  ASSERT_TRUE(seen.complete);
  EXPECT_TRUE(seen.commands.empty());
  ASSERT_GE(seen.data.size(), 3u);
  const std::string body = seen.data.substr(0, seen.data.size() - 3);
  EXPECT_EQ(body.size() % packetSize, 0u);
  EXPECT_GE(body.size(), packetSize);  // the packet begun before the clear went whole
  EXPECT_LT(body.size(), packets * packetSize);  // the queue was cleared
  for (size_t at = 0; at < body.size(); at += packetSize) {
    const char value = static_cast<char>(at == 0 ? 0xFF : at / packetSize);
    EXPECT_EQ(body.find_first_not_of(value, at), at + packetSize >= body.size() ? std::string::npos : at + packetSize);
  }
}

TEST(TcpClientPortObject, CloseWakesAPendingWaitAndJoinsTheWorker) {
  TcpListener device;
  ylvane::IYvPort* port = nullptr;
  ASSERT_EQ(ylvane::CreatePort(device.Name().c_str(), &port, YV_PORT_IP, 9600, 10, 2), S_OK);
  TcpConn dev = device.Accept();
  int ev = -1;
  ASSERT_EQ(port->StartWaitEvent(&ev), S_OK);
  auto woke = std::async(std::launch::async, [ev] { return Signalled(ev, 5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  port->Close();
  EXPECT_TRUE(woke.get());
  EXPECT_FALSE(port->IsOpened());
  EXPECT_TRUE(dev.ClosedByPeer());
  EXPECT_EQ(port->Write("x", 1), YV_E_CLOSED_OUTSIDE);
  port->Close();  // a second Close does nothing
  port->Release();
}

TEST(TcpClientPortLibrary, FinalyzeClosesConnectionsStillOpen) {
  TcpListener device;
  ASSERT_EQ(YV_Initialize(0), S_OK);
  YV_HANDLE a = nullptr;
  ASSERT_EQ(YV_Open(&a, device.Name().c_str(), YV_PORT_IP, 9600, 10, 2), S_OK);
  TcpConn dev = device.Accept();
  ASSERT_TRUE(dev.Ok());
  YV_Finalyze();
  EXPECT_TRUE(dev.ClosedByPeer());
}

// Runs in a child process. Opens a port of the kind with only `spare`
// descriptors left: none gives E_FAIL (the port's events cannot be made),
// two (its events) give YV_E_SOCKET (no socket).
int OpenWithDescriptorsLeft(int32_t kind, const std::u16string& name, int spare) {
  // One full life first: the sanitizer runtime checks an object's type once
  // per type and needs descriptors of its own for that.
  YV_HANDLE h = nullptr;
  if (YV_Initialize(0) != S_OK || YV_Open(&h, name.c_str(), kind, 9600, 10, 2) != S_OK) return 2;
  YV_CloseHandle(h);
  // The same for the error the library gets when no event can be made.
  try {
    throw std::system_error(EMFILE, std::generic_category(), "eventfd");
  } catch (const std::system_error& e) {
    if (e.code().value() != EMFILE) return 2;
  }
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit low = old;
  low.rlim_cur = 256;
  if (setrlimit(RLIMIT_NOFILE, &low) != 0) return 3;
  std::vector<int> filler;
  const int any = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (any < 0) return 3;
  filler.push_back(any);
  for (int fd; (fd = fcntl(any, F_DUPFD_CLOEXEC, 0)) >= 0;) filler.push_back(fd);
  for (int i = 0; i < spare && !filler.empty(); ++i) {
    close(filler.back());
    filler.pop_back();
  }
  HRESULT hr = YV_Open(&h, name.c_str(), kind, 9600, 10, 2);
  for (int fd : filler) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
  YV_Finalyze();
  if (h != nullptr) return 4;
  if (hr == (spare == 0 ? E_FAIL : YV_E_SOCKET)) return 0;
  return 5;
}

TEST(TcpPortDeathTest, WithoutDescriptorsOpenFailsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TcpListener device;
  const std::u16string server = u"127.0.0.1:" + [] {
    std::string p = std::to_string(FreeListenPort());
    return std::u16string(p.begin(), p.end());
  }();
  for (int spare : {0, 2}) {
    EXPECT_EXIT(_exit(OpenWithDescriptorsLeft(YV_PORT_IP, device.Name(), spare)),
                ::testing::ExitedWithCode(0), "") << spare;
    EXPECT_EXIT(_exit(OpenWithDescriptorsLeft(YV_PORT_IPS, server, spare)),
                ::testing::ExitedWithCode(0), "") << spare;
  }
}

}  // namespace
