// A port whose device went away, of every kind alike: while something it
// received is left, the receive event is handed out and comes at once; once
// nothing is left, StartWaitEvent answers "closed from the outside" and
// hands out no event, for there is none that could ever come.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "../common/Pty.h"
#include "../common/TcpPeer.h"
#include "YvSeams.h"
#include "fake_ftd2xx.h"
#include "ylvane.h"

namespace {

const std::string kLine = "card 7\n";

// One kind of port and the device behind it.
struct Rig {
  std::function<HRESULT(YV_HANDLE*)> open;
  std::function<bool(const std::string&)> send;
  std::function<void()> lose;
  std::string leftAfterLoss;  // what the port still hands out once the device is gone
};

struct KindCase {
  const char* name;
  Rig (*make)();
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

HRESULT OpenAs(YV_HANDLE* h, const std::string& name, int32_t kind) {
  const std::u16string n(name.begin(), name.end());
  return YV_Open(h, n.c_str(), kind, 9600, '\n', 2);
}

Rig ComRig() {
  auto pty = std::make_shared<TestPty>();
  const std::string name = pty->Ok() ? pty->Path().substr(5) : "";
  return {[=](YV_HANDLE* h) { return OpenAs(h, name, YV_PORT_COM); },
          [=](const std::string& b) { return pty->Send(b); }, [=] { pty->CloseMaster(); },
          kLine};
}

Rig FtRig() {
  ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);
  FakeFt_ResetDevices(0, 0);
  FakeFt_AddDevice(0, 5, "FT07", "Reader");
  // The driver's queue goes with the device: nothing is left to read.
  return {[](YV_HANDLE* h) { return OpenAs(h, "FT07", YV_PORT_FT); },
          [](const std::string& b) {
            return FakeFt_Feed("FT07", b.data(), static_cast<uint32_t>(b.size())) == 0;
          },
          [] { FakeFt_Unplug("FT07", 2, 1); }, ""};
}

Rig ClientRig() {
  auto server = std::make_shared<TcpListener>();
  auto conn = std::make_shared<TcpConn>();
  return {[=](YV_HANDLE* h) {
            const std::string name = "127.0.0.1:" + std::to_string(server->Port());
            const HRESULT hr = OpenAs(h, name, YV_PORT_IP);
            if (hr == S_OK) *conn = server->Accept();
            return conn->Ok() ? hr : E_FAIL;
          },
          [=](const std::string& b) { return conn->Send(b); }, [=] { conn->Close(); }, kLine};
}

Rig ServerRig() {
  const uint16_t port = FreeListenPort();
  auto conn = std::make_shared<TcpConn>();
  return {[=](YV_HANDLE* h) {
            const HRESULT hr = OpenAs(h, "127.0.0.1:" + std::to_string(port), YV_PORT_IPS);
            if (hr == S_OK) *conn = TcpConn::To(port);  // the device calls in
            return conn->Ok() ? hr : E_FAIL;
          },
          [=](const std::string& b) { return conn->Send(b); }, [=] { conn->Close(); }, kLine};
}

class LostPort : public ::testing::TestWithParam<KindCase> {
 protected:
  void SetUp() override { ASSERT_EQ(YV_Initialize(0), S_OK); }
  void TearDown() override {
    if (port_) YV_CloseHandle(port_);
    YV_Finalyze();
    ylvane::SetFtLibraryPath("libftd2xx.so");
    FakeFt_ResetDevices(0, 0);
  }
  YV_HANDLE port_ = nullptr;
};

TEST_P(LostPort, HandsOutNoEventOnceNothingIsLeft) {
  Rig rig = GetParam().make();
  ASSERT_EQ(rig.open(&port_), S_OK);
  int ev = -1;
  ASSERT_EQ(YV_StartWaitEvent(port_, &ev), S_OK);
  ASSERT_TRUE(rig.send(kLine));
  ASSERT_TRUE(Signalled(ev, 2000));
  rig.lose();

  // Every event handed out after the loss comes; what is left is read.
  std::string left;
  HRESULT hr = S_OK;
  for (int round = 0; round < 5; ++round) {
    int again = -7;
    hr = YV_StartWaitEvent(port_, &again);
    if (hr != S_OK) {
      EXPECT_EQ(again, -7) << "an event was handed out with the failure";
      break;
    }
    ASSERT_TRUE(Signalled(again, 2000)) << "an event that never comes";
    int32_t n = 0;
    if (YV_GetInCount(port_, &n) != S_OK || n <= 0) continue;
    std::string chunk(static_cast<size_t>(n), '\0');
    int32_t got = 0;
    if (YV_Read(port_, chunk.data(), n, &got) == S_OK) left += chunk.substr(0, got);
  }
  EXPECT_EQ(hr, YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(left, rig.leftAfterLoss);
  int last = -7;
  EXPECT_EQ(YV_StartWaitEvent(port_, &last), YV_E_CLOSED_OUTSIDE);  // and so it stays
  EXPECT_EQ(last, -7);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LostPort,
                         ::testing::Values(KindCase{"Com", ComRig}, KindCase{"Ftdi", FtRig},
                                           KindCase{"TcpClient", ClientRig},
                                           KindCase{"TcpServer", ServerRig}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
