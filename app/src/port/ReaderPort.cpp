#include "ReaderPort.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <cerrno>
#include <chrono>
#include <vector>

#include "AppMessages.h"
#include "DeviceIdentity.h"

namespace {

using CritHold = std::lock_guard<std::recursive_mutex>;

// The reader's line: 9600 baud, LF as the event character, two stop bits.
constexpr uint32_t kBaudRate = 9600;
constexpr char kEventChar = 10;
constexpr uint8_t kStopBits = 2;

// A descriptor closed when it goes out of scope.
class OwnedFd {
 public:
  OwnedFd() = default;
  ~OwnedFd() { Reset(); }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  void Reset(int AFd = -1) {
    if (m_fd >= 0) close(m_fd);
    m_fd = AFd;
  }
  int Get() const { return m_fd; }

 private:
  int m_fd = -1;
};

// Waits until one of the descriptors is readable or ATimeoutMs passes (-1:
// no limit); retried after a signal with the time that is left.
void WaitReadable(pollfd* AFds, nfds_t ACount, int ATimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs < 0 ? 0 : ATimeoutMs);
  for (;;) {
    int left = ATimeoutMs;
    if (ATimeoutMs >= 0) {
      auto ms = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
      left = ms > 0 ? static_cast<int>(ms) : 0;
    }
    if (poll(AFds, ACount, left) >= 0 || errno != EINTR) return;
  }
}

const char16_t* Utf16(const QString& AText) {
  return reinterpret_cast<const char16_t*>(AText.utf16());
}

// The group the device of APort belongs to, when the device is there and
// this user may not both read and write it; empty otherwise.
QString DeniedDeviceGroup(const QString& APort) {
  const QByteArray path = QFile::encodeName(QStringLiteral("/dev/") + APort);
  struct stat st {};
  if (stat(path.constData(), &st) != 0) return QString();
  if (faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0 || errno != EACCES) return QString();
  std::vector<char> buf(4096);
  group entry {};
  group* found = nullptr;
  while (getgrgid_r(st.st_gid, &entry, buf.data(), buf.size(), &found) == ERANGE && buf.size() < (1u << 20))
    buf.resize(buf.size() * 2);
  return found ? QString::fromLocal8Bit(found->gr_name) : QString::number(st.st_gid);
}

QString LibraryText(HRESULT AResult, int32_t ALangId) {
  char16_t text[512] = {};
  for (const int32_t lang : {ALangId, int32_t(YV_LANG_ENGLISH)})
    if (YV_GetStatusText(AResult, uint32_t(lang), text, int32_t(std::size(text)), nullptr) == S_OK)
      return QString::fromUtf16(text).trimmed();
  return QString();
}

}  // namespace

QString PortOpenReason(HRESULT AResult, const QString& APort, int32_t ALangId) {
  // The library takes a port name of at most this many characters; a longer
  // one (the full names below /dev/serial/by-id often are) is refused as a
  // bad argument, which says nothing to the user.
  constexpr int32_t kMaxPortName = 30;
  if (AResult == E_INVALIDARG && APort.size() > kMaxPortName)
    return FormatAppMsg(msgPortNameTooLong, {kMaxPortName});
  // The library reports a refused permission as a failure to open.
  if (AResult == YV_E_PORT_OPEN)
    if (const QString group = DeniedDeviceGroup(APort); !group.isEmpty())
      return FormatAppMsg(msgPortAccessDenied, {group});
  const QString text = LibraryText(AResult, ALangId);
  return !text.isEmpty() ? text : QStringLiteral("0x%1").arg(uint32_t(AResult), 8, 16, QChar(u'0'));
}

// ---- TPortThread -----------------------------------------------------------

TPortThread::TPortThread(TPort* AOwner) : FOwner(AOwner), m_HandOver(&m_oGuiContext) {
  m_thread = std::thread([this] { Execute(); });
}

TPortThread::~TPortThread() { Stop(); }

void TPortThread::Stop() {
  m_fStopped = true;
  // The GUI thread may be the one stopping us while we wait for it.
  m_HandOver.Cancel();
  m_evUpdate.Set();
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void TPortThread::Execute() {
  while (!m_fStopped) {
    bool ok = false;
    try {
      ok = Pass();
    } catch (...) {
      ok = false;
    }
    if (!ok) BackOff();
  }
}

void TPortThread::BackOff() {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(kRetryMs);
  while (!m_fStopped) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return;
    // Whatever else the update event announces is looked at by the next
    // pass, which reads the port's state afresh.
    if (m_evUpdate.Wait(static_cast<int>(left))) m_evUpdate.Reset();
  }
}

bool TPortThread::Pass() {
  int timeout = -1;
  m_fOnEvents = false;
  // The thread waits on its own copy of the receive event: Close may release
  // the port, and with it the library's descriptor, while the wait goes on.
  OwnedFd received;
  {
    CritHold hold(m_Crit);
    if (FOwner->m_hPort) {
      int ev = -1;
      HRESULT hr = YV_StartWaitEvent(FOwner->m_hPort, &ev);
      if (hr == S_OK && ev > 0) received.Reset(fcntl(ev, F_DUPFD_CLOEXEC, 0));
      CheckGone(hr);
      if (FOwner->m_hPort) ReadPending();
      if (FOwner->FAltWorkPort) timeout = kAltPollMs;
    }
    // No receive event to wait on although the port is open (the re-arm
    // failed): wake up now and then instead of waiting forever or spinning.
    // A port whose device went away waits for the update event alone.
    if (received.Get() < 0 && FOwner->m_hPort) timeout = timeout < 0 ? kRetryMs : timeout;
  }
  if (m_fOnEvents && !NotifyOwner()) return false;

  pollfd fds[2] = {{m_evUpdate.Fd(), POLLIN, 0}, {received.Get(), POLLIN, 0}};
  WaitReadable(fds, received.Get() >= 0 ? 2 : 1, timeout);
  if (fds[0].revents & POLLIN) {
    m_evUpdate.Reset();
  } else if (received.Get() >= 0 && (fds[1].revents & POLLIN)) {
    {
      CritHold hold(m_Crit);
      if (FOwner->m_hPort) ReadPending();
    }
    if (m_fOnEvents && !NotifyOwner()) return false;
  }
  return true;
}

void TPortThread::ReadPending() {
  int32_t n = 0;
  HRESULT hr = YV_GetInCount(FOwner->m_hPort, &n);
  CheckGone(hr);
  if (hr == S_OK && n > 0) ReadBytes(n);
}

void TPortThread::ReadBytes(int32_t ACount) {
  std::vector<char> buf(static_cast<size_t>(ACount));
  int32_t got = 0;
  HRESULT hr = S_OK;
  if (!FOwner->ReadPort(buf.data(), ACount, got, hr)) {
    CheckGone(hr);
    return;
  }
  if (got <= 0) return;
  FOwner->m_sData.append(buf.data(), got < ACount ? got : ACount);
  m_fOnEvents = true;
  m_fReceiveMsg = true;
}

void TPortThread::CheckGone(HRESULT AResult) {
  if (AResult == YV_E_CLOSED_OUTSIDE) FOwner->PortLost();
}

bool TPortThread::NotifyOwner() {
  // One hand-over per read: a wake-up that finds nothing new (the receive
  // event stays set after a read done before the wait) hands nothing over.
  m_fOnEvents = false;
  if (!m_fReceiveMsg) return true;
  TPort* owner = FOwner;
  return m_HandOver.Call([owner] { owner->DoReceive(); }) != GuiHandOver::Outcome::Failed;
}

// ---- TPort -----------------------------------------------------------------

TPort::TPort() { m_Tr = std::make_unique<TPortThread>(this); }

TPort::~TPort() {
  m_Tr->Stop();
  Close();
  m_Tr.reset();
}

HRESULT TPort::OpenHandle(const QString& AName) {
  const HRESULT hr = YV_Open(&m_hPort, Utf16(AName), YV_PORT_COM, kBaudRate, kEventChar, kStopBits);
  if (hr != S_OK) {
    m_hPort = nullptr;
    return hr;
  }
  m_fLost = false;
  m_Tr->Update();
  return S_OK;
}

HRESULT TPort::Open() {
  CritHold hold(m_Tr->Crit());
  if (m_hPort || m_fLost) return S_OK;
  // The device behind the name is looked at before it is opened: one pulled
  // out as soon as it has been opened is then still known when it comes back.
  const QString identity = DeviceIdentity(m_sPort);
  const HRESULT hr = OpenHandle(m_sPort);
  if (hr == S_OK) {
    m_sOpenedPort = m_sPort;
    m_sIdentity = identity;
  }
  return hr;
}

void TPort::Close() {
  CritHold hold(m_Tr->Crit());
  if (!m_hPort && !m_fLost) return;
  if (m_hPort) YV_CloseHandle(m_hPort);
  m_hPort = nullptr;
  m_fLost = false;
  m_Tr->Update();
}

HRESULT TPort::Reopen() {
  CritHold hold(m_Tr->Crit());
  Close();
  return Open();
}

bool TPort::Opened() {
  CritHold hold(m_Tr->Crit());
  return m_hPort || m_fLost;
}

bool TPort::Lost() {
  CritHold hold(m_Tr->Crit());
  return m_fLost;
}

QString TPort::OpenedPort() {
  CritHold hold(m_Tr->Crit());
  return m_sOpenedPort;
}

HRESULT TPort::ReopenLost() {
  CritHold hold(m_Tr->Crit());
  if (!m_fLost || m_sIdentity.isEmpty() || DeviceIdentity(m_sOpenedPort) != m_sIdentity) return kNotTried;
  return OpenHandle(m_sOpenedPort);
}

QByteArray TPort::Data() {
  CritHold hold(m_Tr->Crit());
  QByteArray data;
  data.swap(m_sData);
  return data;
}

void TPort::SetAltWorkPort(bool AValue) {
  if (FAltWorkPort == AValue) return;
  FAltWorkPort = AValue;
  if (AValue) m_Tr->Update();
}

bool TPort::ReadPort(void* ABuf, int32_t ACount, int32_t& AGot, HRESULT& AResult) {
  AResult = YV_Read(m_hPort, ABuf, ACount, &AGot);
  return AResult == S_OK;
}

void TPort::DoReceive() {
  if (FOnReceive) FOnReceive(this);
}

void TPort::PortLost() {
  if (!m_hPort) return;
  // Releasing the handle at once frees the device name, so a reader plugged
  // in again (or the next pty) can get the same name back.
  YV_CloseHandle(m_hPort);
  m_hPort = nullptr;
  m_fLost = true;
}
