// What lets one running instance of the program be found and woken by the
// next one: an exclusive lock on a file (held by an instance only while its
// main window is being created) and a local socket on which every running
// instance listens for "show yourself". Both live in the user's own runtime
// folder when there is one, where no other user can make or take them.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

class QLocalServer;

// The "show yourself" message.
inline constexpr uint32_t CD_SHOWAPP = 1;

// The user's runtime folder: $XDG_RUNTIME_DIR when it names a folder, else
// the per-user data folder (not created here; empty when there is none).
QString InstanceRuntimeDir();
// $XDG_RUNTIME_DIR when it is the user's own: a folder of this user that no
// one else may enter (mode 0700). Empty otherwise (not set, or another
// user's, as after su).
QString PrivateRuntimeDir();

// Where the instances of this user meet.
struct TInstanceAddress {
  QString name;
  bool abstract = false;  // a name in the abstract namespace, not a file
};
// A socket "Sorvex.socket" in the private runtime folder. Without one (or
// when its path is too long for a socket), a name in the abstract namespace,
// which needs no folder but which anyone may take first:
// "Sorvex-<uid>-<hash>", the hash taken over the runtime folder, so that
// sessions with runtime folders of their own do not meet.
TInstanceAddress InstanceAddress();
QString InstanceAbstractName();

// The start lock, on "Sorvex.lock" in the private runtime folder, or in the
// per-user folder when there is none or it cannot hold the lock. Acquire
// waits without a time limit for an instance that is creating its window;
// the lock ends with Release or the process.
class TStartLock {
 public:
  TStartLock() = default;
  ~TStartLock() { Release(); }
  TStartLock(const TStartLock&) = delete;
  TStartLock& operator=(const TStartLock&) = delete;

  // False when no folder can hold the lock file; *AWhy then says, for each
  // folder tried, why.
  bool Acquire(QString* AWhy = nullptr);
  void Release();
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// What became of a message to the running instance.
enum class TInstanceAnswer {
  None,      // no instance of this user listens
  Answered,  // it handled the message
  Silent,    // one listens but did not answer in time (it may be busy typing)
};
// Sends AData to the running instance and waits up to ATimeoutMs in all
// (connecting included) for it to be handled. A socket that a program of
// another user holds is no instance, and neither is an abstract name whose
// holder takes no connections (anyone may take such a name).
TInstanceAnswer SendToRunningInstance(uint32_t AData, int ATimeoutMs = 5000);

enum class TListenResult {
  Listening,       // this instance is the one a later start finds
  AnotherListens,  // an instance of this user already listens, and stays the one found
  Failed,          // the name cannot be had: a later start will not find this instance
};

// The listening side: every message from a program of the same user is
// handed to copyData on the listener's thread, then acknowledged.
class TInstanceListener : public QObject {
  Q_OBJECT
 public:
  explicit TInstanceListener(QObject* AParent = nullptr);
  ~TInstanceListener() override;
  // With Failed, *AError says why.
  TListenResult Listen(QString* AError = nullptr);

 signals:
  void copyData(uint32_t AData);

 private:
  QLocalServer* m_server;
};
