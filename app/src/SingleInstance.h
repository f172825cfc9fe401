// What lets one running instance of the program be found and woken by the
// next one: an exclusive lock on a file in the user's runtime folder (held
// by an instance only while its main window is being created) and a local
// socket named after the program and the user, on which every running
// instance listens for "show yourself".
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

class QLocalServer;

// The "show yourself" message.
inline constexpr uint32_t CD_SHOWAPP = 1;

// The folder of the lock file and the socket: $XDG_RUNTIME_DIR, else the
// per-user data folder.
QString InstanceRuntimeDir();
// The socket's path: "<runtime dir>/Sorvex-<user>".
QString InstanceSocketPath();

// The start lock. Acquire waits without a time limit for an instance that
// is creating its window; the lock ends with Release or the process.
class TStartLock {
 public:
  TStartLock() = default;
  ~TStartLock() { Release(); }
  TStartLock(const TStartLock&) = delete;
  TStartLock& operator=(const TStartLock&) = delete;

  bool Acquire();  // false when the lock file cannot be made
  void Release();
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// What became of a message to the running instance.
enum class TInstanceAnswer {
  None,      // no instance listens
  Answered,  // it handled the message
  Silent,    // one listens but did not answer in time (it may be busy typing)
};
// Sends AData to the running instance and waits up to ATimeoutMs for it
// to be handled.
TInstanceAnswer SendToRunningInstance(uint32_t AData, int ATimeoutMs = 5000);

// The listening side: every message that arrives is handed to copyData on
// the listener's thread, then acknowledged.
class TInstanceListener : public QObject {
  Q_OBJECT
 public:
  explicit TInstanceListener(QObject* AParent = nullptr);
  ~TInstanceListener() override;
  // False when the socket cannot be made, or another instance already
  // listens on it (that instance stays the one a starting program finds).
  bool Listen();

 signals:
  void copyData(uint32_t AData);

 private:
  QLocalServer* m_server;
};
