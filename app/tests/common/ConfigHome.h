// A private configuration home for a test: a temporary folder that
// $XDG_CONFIG_HOME names while the object lives, so settings and profiles
// land in it and nowhere else. The old value comes back at the end.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

class ConfigHome {
 public:
  ConfigHome() : m_old(qgetenv("XDG_CONFIG_HOME")), m_hadOld(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    if (m_dir.isValid()) qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
  }
  ~ConfigHome() {
    if (m_hadOld)
      qputenv("XDG_CONFIG_HOME", m_old);
    else
      qunsetenv("XDG_CONFIG_HOME");
  }
  ConfigHome(const ConfigHome&) = delete;
  ConfigHome& operator=(const ConfigHome&) = delete;

  bool isValid() const { return m_dir.isValid(); }
  QString path() const { return m_dir.path(); }
  QString filePath(const QString& AName) const { return m_dir.filePath(AName); }

 private:
  QByteArray m_old;
  bool m_hadOld;
  QTemporaryDir m_dir;
};
