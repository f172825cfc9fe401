// The reader port: the program's one connection to the card reader. TPort
// holds a port of the port library, opened with the reader's fixed line
// settings, and owns the reading thread TPortThread, which waits for
// received bytes, appends them to the port's buffer and hands each batch
// over to the GUI thread, firing OnReceive there while it waits.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "GuiHandOver.h"
#include "Event.h"
#include "ylvane.h"

class TPort;

// The port's handler: runs on the GUI thread with the port as sender.
using TPortNotifyEvent = std::function<void(TPort* ASender)>;

class TPortThread {
 public:
  // The back-off after a failed pass, and the wait of a pass that has no
  // receive event to wait on.
  static constexpr int kRetryMs = 300;
  // The poll period of the alternative working mode.
  static constexpr int kAltPollMs = 50;

  // Starts the thread at once; with no port open it sleeps on the update
  // event alone.
  explicit TPortThread(TPort* AOwner);
  // Stops the thread (again, when it was stopped already).
  ~TPortThread();
  TPortThread(const TPortThread&) = delete;
  TPortThread& operator=(const TPortThread&) = delete;

  // Stop request, wake-up, and the wait until the thread has ended. A
  // hand-over in progress is cancelled: its handler does not run.
  void Stop();
  // Wakes the thread so that it looks at the port again.
  void Update() { m_evUpdate.Set(); }

  std::recursive_mutex& Crit() { return m_Crit; }
  // The synchronous call to the GUI thread (tests look whether one waits).
  const GuiHandOver& HandOver() const { return m_HandOver; }

 private:
  void Execute();
  // One pass of the reading loop; false when it failed and the thread must
  // back off.
  bool Pass();
  // Waits kRetryMs, woken early only by a stop request.
  void BackOff();
  // With m_Crit held.
  void ReadPending();
  void ReadBytes(int32_t ACount);
  // False when the handler failed.
  bool NotifyOwner();
  // A library result that says the device went away (with m_Crit held).
  void CheckGone(HRESULT AResult);

  TPort* FOwner;
  std::atomic<bool> m_fStopped{false};
  ylvane::sys::Event m_evUpdate;
  std::recursive_mutex m_Crit;
  bool m_fOnEvents = false;
  bool m_fReceiveMsg = false;
  QObject m_oGuiContext;  // lives on the thread that created the port
  GuiHandOver m_HandOver;
  std::thread m_thread;
};

// Why the reader's port APort could not be opened (AResult, from Open), in
// words for the user. A device that is there but this user may neither read
// nor write (the usual case on Linux: the user is not in the device's group)
// is named with the group it belongs to; any other failure is the library's
// text of the code, in the language ALangId when the library has it, else in
// English.
QString PortOpenReason(HRESULT AResult, const QString& APort, int32_t ALangId);

class TPort {
 public:
  TPort();
  ~TPort();
  TPort(const TPort&) = delete;
  TPort& operator=(const TPort&) = delete;

  // Opens Port as a COM port: 9600 baud, event character LF, two stop bits.
  // 0 when opened (or when already open); otherwise the library's status
  // code, and the port stays closed.
  HRESULT Open();
  // Releases the port, when one is open, and wakes the thread.
  void Close();
  // Close, then Open.
  HRESULT Reopen();

  // The port is open: a handle is held, or the device went away under an
  // open port (it stays switched on until it is closed).
  bool Opened();
  // The device went away under the open port, which holds no handle now.
  bool Lost();
  // Opens a lost port again when the device now behind its name is the one
  // it had open (the same USB device, or the same sysfs device); a name
  // that no device identifies (a pty) is never opened again. S_OK when it
  // was opened; kNotTried when the port is not lost or the device is not the
  // one (nothing was tried); else why the device would not open.
  HRESULT ReopenLost();
  // ReopenLost's answer when it tried nothing (a success code, as the
  // library's own are non-negative).
  static constexpr HRESULT kNotTried = 1;
  // The name the port was last opened by.
  QString OpenedPort();
  // The port's name as the library takes it ("ttyUSB0", "pts/3"); a new name
  // takes effect at the next Open.
  QString Port() const { return m_sPort; }
  void SetPort(const QString& AValue) { m_sPort = AValue; }
  // All bytes received and not yet taken; reading empties the buffer.
  QByteArray Data();
  bool AltWorkPort() const { return FAltWorkPort; }
  void SetAltWorkPort(bool AValue);
  const TPortNotifyEvent& OnReceive() const { return FOnReceive; }
  void SetOnReceive(TPortNotifyEvent AHandler) { FOnReceive = std::move(AHandler); }

  void Lock() { m_Tr->Crit().lock(); }
  void Unlock() { m_Tr->Crit().unlock(); }
  TPortThread& Thread() { return *m_Tr; }

 private:
  friend class TPortThread;

  // Opens AName with the reader's line settings into m_hPort (with the
  // thread's lock held); on success the port is no longer lost.
  HRESULT OpenHandle(const QString& AName);
  bool ReadPort(void* ABuf, int32_t ACount, int32_t& AGot, HRESULT& AResult);
  void DoReceive();
  // The device behind the open port went away: the handle is released,
  // so that the name is free for whatever device gets it next.
  void PortLost();

  YV_HANDLE m_hPort = nullptr;
  QString m_sPort;
  QString m_sOpenedPort;  // the name of the last successful Open
  QString m_sIdentity;    // the device it opened (DeviceIdentity)
  bool m_fLost = false;
  QByteArray m_sData;
  std::atomic<bool> FAltWorkPort{false};
  TPortNotifyEvent FOnReceive;
  std::unique_ptr<TPortThread> m_Tr;
};
