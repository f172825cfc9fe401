#include "YvDetector.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "YvLib.h"
#include "YvPortEnum.h"
#include "YvSeams.h"
#include "YvUsbWatch.h"
#include "sys/DeviceList.h"
#include "sys/SysFs.h"
#include "sys/Text.h"

namespace ylvane {

namespace {

constexpr uint16_t kFtdiVendor = 0x0403;
constexpr size_t kMaxName = 31;  // room of YV_PORT_INFO's names

// A host's text read no further than limit units: nothing when it has no
// end within them (it would not fit where it goes) or is missing.
std::optional<std::u16string> BoundedText(const char16_t* text, size_t limit) {
  if (!text) return std::nullopt;
  for (size_t i = 0; i <= limit; ++i)
    if (text[i] == 0) return std::u16string(text, i);
  return std::nullopt;
}

int MsUntil(std::chrono::steady_clock::duration d) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  if (ms < 0) return 0;
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// The smaller of two poll limits, -1 being none.
int Sooner(int a, int64_t b) {
  if (b < 0) return a;
  if (b > 0x7FFFFFFF) b = 0x7FFFFFFF;
  return a < 0 ? static_cast<int>(b) : std::min(a, static_cast<int>(b));
}

}  // namespace

CYvDetector::CYvDetector(CYvLib& lib) : m_lib(lib) {}

CYvDetector::~CYvDetector() = default;

uint32_t CYvDetector::AddRef() { return ++m_nRef; }

uint32_t CYvDetector::Release() {
  uint32_t n;
  {
    // Counted down under the lock under which AcquireDetector counts up, so
    // no one picks up a detector that is on its way out.
    CCritLock lock(m_lib.Lock());
    n = --m_nRef;
    if (n == 0 && g_pDetector == this) g_pDetector = nullptr;
  }
  if (n == 0 && Stop()) delete this;
  return n;
}

HRESULT CYvDetector::Start() {
  try {
    m_hWakeEvent.emplace();
    m_hPauseEvent.emplace();
  } catch (...) {
    m_hWakeEvent.reset();
    m_hPauseEvent.reset();
    return E_FAIL;
  }
  m_bRunning = true;
  // The worker keeps the library's memory until it has left: ended from
  // inside a host callback that finalised the library, it still takes the
  // library lock on its way out.
  m_lib.Pin();
  try {
    m_hThread = std::thread([this, lib = &m_lib] {
      Run();
      lib->Unpin();
    });
  } catch (...) {
    m_lib.Unpin();
    m_bRunning = false;
    m_hWakeEvent.reset();
    m_hPauseEvent.reset();
    return E_FAIL;
  }
  m_workerId = m_hThread.get_id();
  // What the devices present now report, for their removal later.
  for (const sys::UsbDevice& d : sys::ListUsbDevices(kFtdiVendor))
    if (!d.serial.empty())
      RememberDescription(sys::FromSystemBytes(d.serial), d.product,
                          sys::FromSystemBytes(d.description));
  return S_OK;
}

bool CYvDetector::Stop() {
  if (m_hThread.joinable()) {
    if (OnWorker()) {
      // From a host callback on the worker: it cannot wait for itself. It
      // ends its loop when the callback returns and takes the detector
      // with it, calling no host back on the way: a scan under way ends on
      // its abort event as soon as the callback has returned.
      m_bRunning = false;
      m_bOrphaned = true;
      m_hPauseEvent->Set();
      m_hWakeEvent->Set();
      m_hThread.detach();
      return false;
    }
    m_bRunning = false;
    m_hWakeEvent->Set();
    // A probe or discovery rescan under way ends at once on its abort
    // event rather than after its replies have timed out.
    m_hPauseEvent->Set();
    m_hThread.join();
  }
  CCritLock lock(m_lib.Lock());
  for (auto& w : m_PauseWaiters) w->Set();
  return true;
}

void CYvDetector::Run() {
  ThreadLoop();
  if (m_bOrphaned) delete this;
}

HRESULT CYvDetector::AddNotifier(CYvNotifier* notifier) {
  if (!m_hThread.joinable()) {
    HRESULT hr = Start();
    if (YV_FAILED(hr)) return hr;
  }
  m_Notifiers.reserve(m_Notifiers.size() + 1);  // nothing below may fail half-way
  m_dwFlags |= notifier->m_dwFlags;
  m_dwSerialMask |= notifier->m_dwSerialMask;
  m_dwIpMask |= notifier->m_dwIpMask;
  // An attach only ever lowers the intervals; a release recomputes them.
  m_nSerialInterval = std::min(m_nSerialInterval, notifier->m_nSerialInterval);
  m_nIpInterval = std::min(m_nIpInterval, notifier->m_nIpInterval);
  m_dwPending |= kPendReconfig;
  m_hWakeEvent->Set();
  m_Notifiers.push_back(notifier);
  ++m_nAttaching;
  AddRef();
  return S_OK;
}

void CYvDetector::EndAttach() {
  CCritLock lock(m_lib.Lock());
  --m_nAttaching;
  m_dwPending |= kPendReconfig;
  m_hWakeEvent->Set();
}

void CYvDetector::RemoveNotifier(CYvNotifier* notifier) {
  {
    CCritLock lock(m_lib.Lock());
    auto it = std::find(m_Notifiers.begin(), m_Notifiers.end(), notifier);
    if (it == m_Notifiers.end()) return;
    m_Notifiers.erase(it);
    m_dwPending |= kPendReaggregate;
    m_hWakeEvent->Set();
  }
  // Its callback may be running on the worker: the host must not be called
  // once its close has returned, and must not find its user data used
  // after it freed it. From inside that very callback there is nothing to
  // wait for.
  if (!OnWorker()) WaitNotDelivering(notifier);
  Release();
}

void CYvDetector::RegisterUsbNotification(void* recipient) {
  const bool window = (m_lib.Flags() & YV_INIT_NOWINDOW) == 0;
  void* target;
  bool wanted;
  {
    CCritLock lock(m_lib.Lock());
    target = recipient ? recipient : m_hRecipient;
    wanted = m_dwSerialMask != 0 && (m_dwFlags & YV_NF_EXIST) != 0 && (window || target);
    const bool right = m_DevNotify != DevNotify::None && target == m_hRecipient;
    if ((wanted && right) || (!wanted && m_DevNotify == DevNotify::None)) return;
  }
  // A host that forwards its device events gets no socket of ours.
  std::unique_ptr<CUsbWatch> watch;
  DevNotify kind = DevNotify::None;
  if (wanted) {
    if (target)
      kind = DevNotify::Host;
    else if ((watch = UsbWatchOpen()()))
      kind = DevNotify::Kernel;
  }
  CCritLock lock(m_lib.Lock());
  if (m_pUsbWatch) m_RetiredWatches.push_back(std::move(m_pUsbWatch));
  m_pUsbWatch = std::move(watch);
  m_DevNotify = kind;
  m_hRecipient = target;
  m_dwPending |= kPendReconfig;
  m_hWakeEvent->Set();
}

void CYvDetector::RememberDescription(const std::u16string& serial, uint16_t pid,
                                      const std::u16string& desc) {
  if (!desc.empty()) m_Descriptions[{serial, pid}] = desc;
}

void CYvDetector::OnDeviceChange(uint32_t EventType, void* EventData) {
  if (EventType != YV_DEVICE_ARRIVAL && EventType != YV_DEVICE_REMOVAL) return;
  if (!EventData) return;
  YV_DEVICE_EVENT ev;
  std::memcpy(&ev.Size, EventData, sizeof ev.Size);
  if (ev.Size < sizeof ev) return;
  std::memcpy(&ev, EventData, sizeof ev);
  const bool arrival = EventType == YV_DEVICE_ARRIVAL;
  // Names that YV_PORT_INFO cannot carry name nothing a host could open.
  const auto serial = BoundedText(ev.Serial, kMaxName);
  const auto tty = BoundedText(ev.TtyName, kMaxName);

  // An FTDI device is opened by its serial number.
  const bool named = ev.VendorId == kFtdiVendor && serial && !serial->empty();
  std::u16string desc;
  if (named) {
    // The bus description: from the device itself while it is there, else
    // from what it said when it was.
    if (auto path = BoundedText(ev.SysPath, 4096)) {
      if (auto utf8 = sys::ToUtf8(*path)) {
        if (auto text = sys::ReadAttr(*utf8 + "/product")) desc = sys::FromSystemBytes(*text);
      }
    }
    if (desc.empty()) GetFtdiBusDescription(desc, *serial, ev.ProductId);
    const auto key = std::make_pair(*serial, ev.ProductId);
    if (arrival) {
      RememberDescription(*serial, ev.ProductId, desc);
    } else {
      auto it = m_Descriptions.find(key);
      if (it != m_Descriptions.end()) {
        if (desc.empty()) desc = it->second;
        m_Descriptions.erase(it);
      }
    }
  }

  if (!(m_dwFlags & YV_NF_EXIST)) return;
  const SerialTypeTable types = SerialTypeTable::Take(m_lib);
  uint32_t mask = 0;
  if (named) {
    mask = GetSerialTypesByPid(types, ev.ProductId, m_dwSerialMask);
    if (mask != 0 && !desc.empty()) mask = GetSerialTypesByName(types, desc, mask);
  }
  YV_PORT_INFO info{};
  if (mask != 0) {
    info.PortType = YV_PORT_FT;
    CopyPortName(info.Name, *serial);
    if (tty) CopyPortName(info.PortName, *tty);
  } else {
    // Not listed as an FTDI device of a watched type (another maker's, one
    // without a serial number, a product id or description no watched type
    // takes): its port is listed as a plain one, by its tty name, and comes
    // and goes as such.
    if (!tty || tty->empty()) return;
    mask = GetPlainPortTypes(types, m_dwSerialMask);
    if (mask == 0) return;
    info.PortType = YV_PORT_COM;
    CopyPortName(info.Name, *tty);
  }
  // While the ports are rescanned, the rescan tells the difference. Not
  // before the serial map's first finished sweep, though: that one only
  // takes in what is there, so the event tells by itself.
  if (m_bSerialScan) {
    m_dwDue |= kDueSerial;
    m_hWakeEvent->Set();
    if (m_dwMapsValid & 1u) return;
  }
  info.Busy = arrival ? 0 : 1;
  info.TypeMask = mask;
  QueueExist(arrival, &info, nullptr, 0, mask, false);
}

void CYvDetector::Pause(DetectorPause& pause) {
  pause.acknowledged = false;
  sys::Event* waiter = nullptr;
  {
    CCritLock lock(m_lib.Lock());
    try {
      auto ev = std::make_unique<sys::Event>();
      m_PauseWaiters.push_back(std::move(ev));
    } catch (...) {
      return;  // no event to wait on: the work goes ahead unpaused
    }
    waiter = m_PauseWaiters.back().get();
    pause.waiter = waiter->Fd();
    // Every pause is acknowledged on its own: one that comes while another
    // is in force must not wait out the time limit.
    m_hPauseEvent->Set();
  }
  // From a host callback on the worker: no scan is running.
  if (OnWorker()) {
    pause.acknowledged = true;
    return;
  }
  pause.acknowledged = waiter->Wait(kPauseWaitMs);
}

void CYvDetector::Resume(DetectorPause& pause) {
  CCritLock lock(m_lib.Lock());
  auto it = std::find_if(m_PauseWaiters.begin(), m_PauseWaiters.end(),
                         [&](const auto& w) { return w->Fd() == pause.waiter; });
  if (it != m_PauseWaiters.end()) {
    if (m_PauseWaiters.size() == 1) {
      m_hPauseEvent->Reset();
      m_hWakeEvent->Set();  // the rescans go on now, not at the next paused wake-up
    }
    m_PauseWaiters.erase(it);
  }
  pause.waiter = -1;
}

void CYvDetector::ApplyPending() {
  if (m_dwPending & kPendReaggregate) {
    m_dwFlags = m_dwSerialMask = m_dwIpMask = 0;
    m_nSerialInterval = m_nIpInterval = 0xFFFFFFFFu;
    for (const CYvNotifier* n : m_Notifiers) {
      m_dwFlags |= n->m_dwFlags;
      m_dwSerialMask |= n->m_dwSerialMask;
      m_dwIpMask |= n->m_dwIpMask;
      m_nSerialInterval = std::min(m_nSerialInterval, n->m_nSerialInterval);
      m_nIpInterval = std::min(m_nIpInterval, n->m_nIpInterval);
    }
  }
  // Ports are rescanned for changes, or for arrivals and removals when no
  // device events come.
  const bool serial =
      m_dwSerialMask != 0 &&
      ((m_dwFlags & YV_NF_CHANGE) || ((m_dwFlags & YV_NF_EXIST) && m_DevNotify == DevNotify::None));
  if (serial && !m_bSerialScan) {
    m_dwMapsValid &= ~1u;
    m_nCurSerialInterval = m_nSerialInterval;
  }
  m_bSerialScan = serial;
  const bool ip = m_dwIpMask != 0;
  if (ip && !m_bIpScan) m_dwMapsValid &= ~2u;
  m_bIpScan = ip;
  m_dwPending = 0;
}

void CYvDetector::ThreadLoop() {
  std::optional<Clock::time_point> lastSerial, lastIp;
  while (m_bRunning) {
    try {
      std::vector<std::unique_ptr<CUsbWatch>> retired;
      CUsbWatch* watch;
      bool paused;
      {
        CCritLock lock(m_lib.Lock());
        retired.swap(m_RetiredWatches);
        if (m_dwPending && m_nAttaching == 0) ApplyPending();
        paused = !m_PauseWaiters.empty();
        watch = m_pUsbWatch.get();
      }
      retired.clear();  // no longer polled

      int timeout = -1;
      Clock::time_point now = Clock::now();
      if (paused) {
        timeout = kPausedWakeMs;
      } else {
        bool dueSerial, dueIp;
        {
          CCritLock lock(m_lib.Lock());
          auto schedule = [&](bool on, uint32_t bit, const std::optional<Clock::time_point>& last,
                              uint32_t interval) {
            if (!on || (m_dwDue & bit)) return;
            const auto elapsed = last ? now - *last : Clock::duration::max();
            const auto due = std::chrono::milliseconds(interval);
            if (elapsed < due)
              timeout = Sooner(timeout, MsUntil(due - elapsed));
            else
              m_dwDue |= bit;
          };
          schedule(m_bSerialScan, kDueSerial, lastSerial, m_nCurSerialInterval);
          schedule(m_bIpScan, kDueIp, lastIp, m_nIpInterval);
          // Cleared as the rescans start: a device event during one makes
          // the next one due at once.
          dueSerial = (m_dwDue & kDueSerial) != 0;
          dueIp = (m_dwDue & kDueIp) != 0;
          m_dwDue = 0;
        }
        if (dueSerial) {
          RescanSerialDevices();
          lastSerial = now;
          CCritLock lock(m_lib.Lock());
          timeout = Sooner(timeout, m_nCurSerialInterval);
        }
        if (dueIp) {
          RescanIpDevices();
          lastIp = now;
          CCritLock lock(m_lib.Lock());
          timeout = Sooner(timeout, m_nIpInterval);
        }
      }

      if (m_bDeliver.exchange(false)) {
        DeliverMessages();
        if (m_bOrphaned) return;
      }

      if (watch) {
        if (auto next = watch->NextDeadline()) timeout = Sooner(timeout, MsUntil(*next - now));
      }
      pollfd fds[3] = {{m_hWakeEvent->Fd(), POLLIN, 0},
                       {m_hPauseEvent->Fd(), POLLIN, 0},
                       {watch ? watch->Fd() : -1, POLLIN, 0}};
      int n = poll(fds, 3, timeout);
      if (n < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
      if (n > 0 && (fds[0].revents & POLLIN)) m_hWakeEvent->Reset();
      if (n > 0 && (fds[1].revents & POLLIN)) {
        m_hPauseEvent->Reset();
        CCritLock lock(m_lib.Lock());
        for (auto& w : m_PauseWaiters) w->Set();
      }
      if (watch) {
        std::vector<UsbDeviceEvent> events;
        const Clock::time_point after = Clock::now();
        // An overflow shows as an error on the socket; reading clears it.
        if (n > 0 && (fds[2].revents & (POLLIN | POLLERR))) watch->OnReadable(after, events);
        watch->Due(after, events);
        for (const UsbDeviceEvent& e : events) {
          YV_DEVICE_EVENT rec{};
          rec.Size = sizeof rec;
          rec.VendorId = e.vendor;
          rec.ProductId = e.product;
          rec.SysPath = e.sysPath.c_str();
          rec.Serial = e.serial.c_str();
          rec.TtyName = e.tty.empty() ? nullptr : e.tty.c_str();
          CCritLock lock(m_lib.Lock());
          OnDeviceChange(e.type, &rec);
        }
      }
    } catch (const std::bad_alloc&) {
      OnLoopFailure(E_OUTOFMEMORY);
    } catch (...) {
      OnLoopFailure(E_FAIL);
    }
  }
}

void CYvDetector::OnLoopFailure(HRESULT error) {
  try {
    QueueError(error);
  } catch (...) {
  }
  m_hWakeEvent->Wait(100);  // a stop still ends the pause at once
}

void CYvDetector::SetDelivering(CYvNotifier* notifier) {
  std::lock_guard<std::mutex> lock(m_deliveryLock);
  m_pDelivering = notifier;
  if (!notifier) m_deliveryDone.notify_all();
}

void CYvDetector::WaitNotDelivering(CYvNotifier* notifier) {
  std::unique_lock<std::mutex> lock(m_deliveryLock);
  m_deliveryDone.wait(lock, [&] { return m_pDelivering != notifier; });
}

void CYvDetector::DeliverMessages() {
  // There is no detector window on this platform: only the notifiers
  // without YV_NF_WNDSYNC are delivered here; the others are drained by
  // their hosts with YV_ProcessMessages.
  while (m_bRunning) {
    CYvNotifier::CNMsg* msg = nullptr;
    YV_NOTIFY_CALLBACK callback;
    void* user;
    {
      CCritLock lock(m_lib.Lock());
      // The host's last YV_Finalyze has returned while a call of its still
      // holds the library: the teardown that follows discards the rest.
      if (m_lib.Finalized()) return;
      auto it = std::find_if(m_Notifiers.begin(), m_Notifiers.end(), [](const CYvNotifier* n) {
        return !n->m_Queue.empty() && !(n->m_dwFlags & YV_NF_WNDSYNC) &&
               (!(n->m_dwFlags & YV_NF_SIGNAL) || (n->m_dwPending & CYvNotifier::kPendingSignal));
      });
      if (it == m_Notifiers.end()) return;
      CYvNotifier* n = *it;
      // Copied under the lock: the host may close the notifier meanwhile.
      callback = n->m_pfnCallback;
      user = n->m_pUser;
      if (n->m_dwFlags & YV_NF_SIGNAL) {
        n->m_dwPending &= ~CYvNotifier::kPendingSignal;  // the messages stay for the host
      } else {
        msg = n->m_Queue.front();
        n->m_Queue.pop_front();
      }
      SetDelivering(n);
    }
    bool threw = false;
    try {
      if (!msg)
        callback(YV_NMSG_SIGNAL, nullptr, user);
      else if (msg->m_nKind >= YV_NMSG_ARRIVAL && msg->m_nKind <= YV_NMSG_ERROR)
        callback(msg->m_nKind, msg->Payload(), user);
    } catch (...) {
      threw = true;
    }
    if (m_bOrphaned) {
      // The callback released the last notifier, or the library itself:
      // every queue is gone, so this reference is the message's last.
      if (msg) CYvNotifier::DropRef(msg);
      return;
    }
    if (msg) {
      CCritLock lock(m_lib.Lock());
      CYvNotifier::DropRef(msg);
    }
    SetDelivering(nullptr);
    if (threw) return;
  }
}

void CYvDetector::Fanout(uint32_t kind, uint32_t typeMask, bool ip,
                         const std::function<std::unique_ptr<CYvNotifier::CNMsg>()>& build) {
  CCritLock lock(m_lib.Lock());
  std::unique_ptr<CYvNotifier::CNMsg> owned;  // until a queue holds the message
  CYvNotifier::CNMsg* msg = nullptr;
  bool forWorker = false;
  for (CYvNotifier* n : m_Notifiers) {
    if (!n->TakesPart(kind, typeMask, ip)) continue;
    if (!msg) {
      owned = build();
      if (!owned) return;  // its data could not be copied: nobody gets it
      msg = owned.get();
    }
    n->m_Queue.push_back(msg);
    ++msg->m_nRef;
    owned.release();
    if (n->m_dwFlags & YV_NF_SIGNAL) n->m_dwPending |= CYvNotifier::kPendingSignal;
    if (!(n->m_dwFlags & YV_NF_WNDSYNC)) forWorker = true;
  }
  if (forWorker) {
    m_bDeliver = true;
    m_hWakeEvent->Set();
  }
}

void CYvDetector::QueueExist(bool arrival, const YV_PORT_INFO* info, const void* data, int32_t size,
                             uint32_t typeMask, bool ip) {
  Fanout(arrival ? YV_NMSG_ARRIVAL : YV_NMSG_REMOVAL, typeMask, ip,
         [&] { return CYvNotifier::NewExist(arrival, *info, data, size); });
}

void CYvDetector::QueueChange(uint32_t changeMask, const YV_PORT_INFO* newInfo, const void* newData,
                              int32_t newSize, const YV_PORT_INFO* oldInfo, const void* oldData,
                              int32_t oldSize, uint32_t typeMask, bool ip) {
  Fanout(YV_NMSG_CHANGE, typeMask, ip, [&] {
    return CYvNotifier::NewChange(changeMask, *newInfo, newData, newSize, *oldInfo, oldData,
                                  oldSize);
  });
}

void CYvDetector::QueueError(HRESULT error) {
  Fanout(YV_NMSG_ERROR, 0, false, [&] { return CYvNotifier::NewError(error); });
}

CYvDetector::State CYvDetector::GetState() {
  CCritLock lock(m_lib.Lock());
  return State{m_dwFlags,        m_dwSerialMask,       m_dwIpMask,         m_nSerialInterval,
               m_nIpInterval,    m_nCurSerialInterval, m_dwPending,        m_bSerialScan,
               m_bIpScan,        m_DevNotify,          m_Notifiers.size(), m_PauseWaiters.size(),
               m_nSerialRescans, m_nIpRescans, m_dwMapsValid};
}

}  // namespace ylvane
