// A pseudo-terminal whose slave is still locked: the device is there, and
// opening it fails for every user, root included (the kernel answers EIO).
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QString>

class LockedPty {
 public:
  LockedPty() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char buf[64];
    if (m_master >= 0 && grantpt(m_master) == 0 && ptsname_r(m_master, buf, sizeof buf) == 0)
      m_name = QString::fromLatin1(buf).mid(5);  // "pts/N"
  }
  ~LockedPty() {
    if (m_master >= 0) close(m_master);
  }
  LockedPty(const LockedPty&) = delete;
  LockedPty& operator=(const LockedPty&) = delete;

  bool Ok() const { return !m_name.isEmpty(); }
  // The port's name, "pts/N".
  const QString& Name() const { return m_name; }

 private:
  int m_master = -1;
  QString m_name;
};
