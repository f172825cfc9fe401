// What lets one running instance of the program be found and woken by the
// next one: an exclusive lock on a file (held by an instance only while its
// main window is being created) and a local socket named after the program,
// the user and the runtime folder, on which every running instance listens
// for "show yourself".
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
// The socket's name, in the abstract namespace of local sockets: no file to
// make or to leave behind, and short whatever the folders' paths.
// "Sorvex-<uid>-<hash>", the hash taken over the runtime folder, so that
// sessions with runtime folders of their own do not meet.
QString InstanceSocketName();

// The start lock, on "Sorvex.lock" in $XDG_RUNTIME_DIR, or in the per-user
// folder when the runtime folder cannot hold it (it may belong to another
// user, as after su). Acquire waits without a time limit for an instance
// that is creating its window; the lock ends with Release or the process.
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
// Sends AData to the running instance and waits up to ATimeoutMs for it
// to be handled. A socket on the name that another user holds is no
// instance (anyone may take a name in the abstract namespace).
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
