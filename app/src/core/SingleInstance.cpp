#include "SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <optional>

#include "AppUtils.h"

namespace {

using Clock = std::chrono::steady_clock;

// A message: dwData and the size of what follows (always 0), little-endian.
constexpr qint64 kMessageSize = 8;
constexpr char kAck = 1;

// The user id of the program at the other end of a connected local socket.
std::optional<uid_t> PeerUid(int ASocket) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(ASocket, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return std::nullopt;
  return cred.uid;
}

bool PeerIsThisUser(qintptr ASocket) { return PeerUid(int(ASocket)) == getuid(); }

QString RuntimeDirFromEnvironment() {
  const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
  if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QDir(runtime).exists())
    return QDir::cleanPath(runtime);
  return QString();
}

int MsLeft(Clock::time_point ADeadline) {
  return int(std::max<qint64>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - Clock::now()).count()));
}

// Waits for AEvents on AFd until ADeadline; false when they did not come.
bool WaitFd(int AFd, short AEvents, Clock::time_point ADeadline) {
  for (;;) {
    pollfd p{AFd, AEvents, 0};
    const int n = poll(&p, 1, MsLeft(ADeadline));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

struct OwnedFd {
  int fd = -1;
  explicit OwnedFd(int AFd) : fd(AFd) {}
  ~OwnedFd() {
    if (fd >= 0) close(fd);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
};

// A connection to the instances' address, made without waiting beyond
// ADeadline. The descriptor, or -1 with the reason in AErr: ENOENT or
// ECONNREFUSED when nobody listens, EAGAIN when one listens but its queue is
// full (it takes no connections), ETIMEDOUT when the deadline passed.
int ConnectInstance(const TInstanceAddress& AAt, Clock::time_point ADeadline, int& AErr) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const QByteArray name = AAt.abstract ? AAt.name.toUtf8() : QFile::encodeName(AAt.name);
  const size_t skip = AAt.abstract ? 1 : 0;  // an abstract name begins with a NUL
  if (name.size() + skip + 1 > sizeof addr.sun_path) {
    AErr = ENAMETOOLONG;
    return -1;
  }
  memcpy(addr.sun_path + skip, name.constData(), size_t(name.size()));
  const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + skip + size_t(name.size()) + (AAt.abstract ? 0 : 1));
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    AErr = errno;
    return -1;
  }
  // Non-blocking: a listener that takes no connections fails the connect at
  // once instead of holding this start.
  int rc;
  while ((rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), len)) != 0 && errno == EINTR) {
  }
  if (rc != 0 && errno == EINPROGRESS) {
    int soErr = ETIMEDOUT;
    socklen_t soLen = sizeof soErr;
    if (WaitFd(fd, POLLOUT, ADeadline)) getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &soLen);
    rc = soErr == 0 ? 0 : -1;
    errno = soErr;
  }
  if (rc != 0) {
    AErr = errno;
    close(fd);
    return -1;
  }
  AErr = 0;
  return fd;
}

}  // namespace

QString InstanceRuntimeDir() {
  const QString runtime = RuntimeDirFromEnvironment();
  return runtime.isEmpty() ? GetAppDataDir(false, false) : runtime;
}

QString PrivateRuntimeDir() {
  const QString runtime = RuntimeDirFromEnvironment();
  struct stat st {};
  if (runtime.isEmpty() || stat(QFile::encodeName(runtime).constData(), &st) != 0) return QString();
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 0777) == 0700 ? runtime : QString();
}

QString InstanceAbstractName() {
  const QByteArray hash =
      QCryptographicHash::hash(QFile::encodeName(InstanceRuntimeDir()), QCryptographicHash::Sha256).toHex();
  return QStringLiteral("%1-%2-%3").arg(QLatin1String(kAppName)).arg(getuid()).arg(QLatin1String(hash.left(16)));
}

TInstanceAddress InstanceAddress() {
  if (const QString runtime = PrivateRuntimeDir(); !runtime.isEmpty()) {
    const QString path = runtime + QStringLiteral("/%1.socket").arg(QLatin1String(kAppName));
    if (size_t(QFile::encodeName(path).size()) < sizeof(sockaddr_un::sun_path)) return {path, false};
  }
  return {InstanceAbstractName(), true};
}

bool TStartLock::Acquire(QString* AWhy) {
  if (m_fd >= 0) return true;
  // Not in a runtime folder of someone else's: its owner could hold the lock
  // and keep every start waiting.
  QStringList folders;
  if (const QString runtime = PrivateRuntimeDir(); !runtime.isEmpty()) folders << runtime;
  if (const QString own = GetAppDataDir(true, false); !own.isEmpty() && !folders.contains(own)) folders << own;
  QStringList reasons;
  for (const QString& folder : folders) {
    const QString path = folder + QStringLiteral("/%1.lock").arg(QLatin1String(kAppName));
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    int rc = -1;
    if (fd >= 0)
      while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
      }
    if (rc == 0) {
      m_fd = fd;
      return true;
    }
    reasons << path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0) close(fd);
  }
  if (folders.isEmpty()) reasons << QStringLiteral("no runtime folder of this user's and no per-user folder");
  if (AWhy) *AWhy = reasons.join(QStringLiteral("; "));
  return false;
}

void TStartLock::Release() {
  if (m_fd < 0) return;
  close(m_fd);  // closing the only descriptor releases the lock
  m_fd = -1;
}

TInstanceAnswer SendToRunningInstance(uint32_t AData, int ATimeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  const TInstanceAddress at = InstanceAddress();
  int err = 0;
  const OwnedFd socket(ConnectInstance(at, deadline, err));
  if (socket.fd < 0) {
    // A full queue on a socket in the private folder is an instance of this
    // user's that takes nothing in (no one else can have made it); on an
    // abstract name it may be anyone's, and must not stop this start.
    return err == EAGAIN && !at.abstract ? TInstanceAnswer::Silent : TInstanceAnswer::None;
  }
  if (!PeerIsThisUser(socket.fd)) return TInstanceAnswer::None;
  // From here on an instance is there, answer or not.
  char message[kMessageSize];
  qToLittleEndian<quint32>(AData, message);
  qToLittleEndian<quint32>(0, message + 4);
  for (qint64 sent = 0; sent < kMessageSize;) {
    const ssize_t n = send(socket.fd, message + sent, size_t(kMessageSize - sent), MSG_NOSIGNAL);
    if (n > 0) {
      sent += n;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitFd(socket.fd, POLLOUT, deadline)) return TInstanceAnswer::Silent;
    } else {
      return TInstanceAnswer::Silent;
    }
  }
  for (;;) {
    char ack = 0;
    const ssize_t n = recv(socket.fd, &ack, 1, 0);
    if (n == 1) return ack == kAck ? TInstanceAnswer::Answered : TInstanceAnswer::Silent;
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return TInstanceAnswer::Silent;
    if (n < 0 && errno == EAGAIN && !WaitFd(socket.fd, POLLIN, deadline)) return TInstanceAnswer::Silent;
  }
}

TInstanceListener::TInstanceListener(QObject* AParent)
    : QObject(AParent), m_server(new QLocalServer(this)) {
  connect(m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* peer = m_server->nextPendingConnection()) {
      // Root may reach the private folder too, and anyone an abstract name.
      if (!PeerIsThisUser(peer->socketDescriptor())) {
        peer->abort();
        peer->deleteLater();
        continue;
      }
      connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
        if (peer->bytesAvailable() < kMessageSize) return;
        char message[kMessageSize];
        peer->read(message, kMessageSize);
        // The handler may end the program's event processing for this peer;
        // answer only while the socket still exists.
        QPointer<QLocalSocket> alive(peer);
        emit copyData(qFromLittleEndian<quint32>(message));
        if (alive) {
          peer->write(&kAck, 1);
          peer->disconnectFromServer();
        }
      });
    }
  });
}

TInstanceListener::~TInstanceListener() = default;

TListenResult TInstanceListener::Listen(QString* AError) {
  // A name cannot be bound while anyone holds it, so an instance already
  // listening keeps it. Who holds it is asked only when it is taken.
  const TInstanceAddress at = InstanceAddress();
  m_server->setSocketOptions(at.abstract ? QLocalServer::AbstractNamespaceOption : QLocalServer::NoOptions);
  if (m_server->listen(at.name)) return TListenResult::Listening;
  const QString why = m_server->errorString();
  int err = 0;
  const OwnedFd probe(ConnectInstance(at, Clock::now() + std::chrono::seconds(1), err));
  const std::optional<uid_t> holder = probe.fd >= 0 ? PeerUid(probe.fd) : std::nullopt;
  if (holder == getuid()) return TListenResult::AnotherListens;
  if (!at.abstract) {
    // Only this user can have made the socket in the private folder: one
    // whose queue is full is an instance that takes nothing in for now; one
    // nobody listens on was left by an instance that did not end cleanly.
    if (err == EAGAIN) return TListenResult::AnotherListens;
    if ((err == ECONNREFUSED || err == ENOENT) && QLocalServer::removeServer(at.name) && m_server->listen(at.name))
      return TListenResult::Listening;
  }
  if (AError) {
    if (holder)
      *AError = QStringLiteral("%1 is held by a program of another user (user id %2)").arg(at.name).arg(*holder);
    else if (err == EAGAIN)
      *AError = QStringLiteral("%1 is held by a program that takes no connections, perhaps another user's")
                    .arg(at.name);
    else
      *AError = QStringLiteral("%1 (%2)").arg(why, at.name);
  }
  return TListenResult::Failed;
}
