#include "SingleInstance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QtEndian>

#include <cerrno>
#include <chrono>

#include "uAppUtils.h"

namespace {

// A message: dwData and the size of what follows (always 0), little-endian.
constexpr qint64 kMessageSize = 8;
constexpr char kAck = 1;

QString UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name && *pw->pw_name)
    return QString::fromLocal8Bit(pw->pw_name);
  return QString::number(getuid());
}

}  // namespace

QString InstanceRuntimeDir() {
  const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
  if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QDir(runtime).exists())
    return QDir::cleanPath(runtime);
  return GetAppDataDir(true, false);
}

QString InstanceSocketPath() {
  return InstanceRuntimeDir() + QStringLiteral("/%1-%2").arg(QLatin1String(kAppName), UserName());
}

bool TStartLock::Acquire() {
  if (m_fd >= 0) return true;
  const QString dir = InstanceRuntimeDir();
  if (dir.isEmpty()) return false;
  const QByteArray path = QFile::encodeName(dir + QStringLiteral("/%1.lock").arg(QLatin1String(kAppName)));
  const int fd = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  int rc;
  while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    close(fd);
    return false;
  }
  m_fd = fd;
  return true;
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
  socket.connectToServer(InstanceSocketPath());
  if (!socket.waitForConnected(left())) return TInstanceAnswer::None;
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
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* peer = m_server->nextPendingConnection()) {
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

bool TInstanceListener::Listen() {
  // Qt makes the socket under a temporary name and renames it into place,
  // which would take the name from an instance already listening: ask
  // first. A socket file nobody answers on was left by an instance that
  // ended without removing it.
  const QString path = InstanceSocketPath();
  QLocalSocket probe;
  probe.connectToServer(path);
  if (probe.waitForConnected(1000)) return false;
  QLocalServer::removeServer(path);
  return m_server->listen(path);
}
