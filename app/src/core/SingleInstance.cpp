#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "AppUtils.h"

namespace {

// A message: dwData and the size of what follows (always 0), little-endian.
constexpr qint64 kMessageSize = 8;
constexpr char kAck = 1;

// Whether the program at the other end of a connected local socket runs as
// this user.
bool PeerIsThisUser(qintptr ASocket) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return getsockopt(int(ASocket), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

QString RuntimeDirFromEnvironment() {
  const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
  if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QDir(runtime).exists())
    return QDir::cleanPath(runtime);
  return QString();
}

}  // namespace

QString InstanceRuntimeDir() {
  const QString runtime = RuntimeDirFromEnvironment();
  return runtime.isEmpty() ? GetAppDataDir(false, false) : runtime;
}

QString InstanceSocketName() {
  const QByteArray hash =
      QCryptographicHash::hash(QFile::encodeName(InstanceRuntimeDir()), QCryptographicHash::Sha256).toHex();
  return QStringLiteral("%1-%2-%3").arg(QLatin1String(kAppName)).arg(getuid()).arg(QLatin1String(hash.left(16)));
}

bool TStartLock::Acquire(QString* AWhy) {
  if (m_fd >= 0) return true;
  QStringList folders;
  if (const QString runtime = RuntimeDirFromEnvironment(); !runtime.isEmpty()) folders << runtime;
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
  if (folders.isEmpty()) reasons << QStringLiteral("no runtime folder and no per-user folder");
  if (AWhy) *AWhy = reasons.join(QStringLiteral("; "));
  return false;
}

void TStartLock::Release() {
  if (m_fd < 0) return;
  close(m_fd);  // closing the only descriptor releases the lock
  m_fd = -1;
}

TInstanceAnswer SendToRunningInstance(uint32_t AData, int ATimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  auto left = [&] {
    return int(std::max<qint64>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
  };
  QLocalSocket socket;
  socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(InstanceSocketName());
  if (!socket.waitForConnected(left()) || !PeerIsThisUser(socket.socketDescriptor())) return TInstanceAnswer::None;
  // From here on an instance is there, answer or not.
  char message[kMessageSize];
  qToLittleEndian<quint32>(AData, message);
  qToLittleEndian<quint32>(0, message + 4);
  if (socket.write(message, kMessageSize) != kMessageSize) return TInstanceAnswer::Silent;
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(left())) return TInstanceAnswer::Silent;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(left())) return TInstanceAnswer::Silent;
  char ack = 0;
  return socket.read(&ack, 1) == 1 && ack == kAck ? TInstanceAnswer::Answered : TInstanceAnswer::Silent;
}

TInstanceListener::TInstanceListener(QObject* AParent)
    : QObject(AParent), m_server(new QLocalServer(this)) {
  m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  connect(m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* peer = m_server->nextPendingConnection()) {
      // Any local program can connect to a name in the abstract namespace.
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
  // A name in the abstract namespace cannot be bound while anyone holds it,
  // so an instance already listening keeps it. Who holds it is asked only
  // when the name is taken.
  const QString name = InstanceSocketName();
  if (m_server->listen(name)) return TListenResult::Listening;
  const QString why = m_server->errorString();
  QLocalSocket probe;
  probe.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  probe.connectToServer(name);
  const bool connected = probe.waitForConnected(1000);
  if (connected && PeerIsThisUser(probe.socketDescriptor())) return TListenResult::AnotherListens;
  if (AError)
    *AError = connected ? QStringLiteral("the name %1 is held by a program of another user").arg(name)
                        : QStringLiteral("%1 (%2)").arg(why, name);
  return TListenResult::Failed;
}
