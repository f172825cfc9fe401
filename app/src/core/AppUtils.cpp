#include "AppUtils.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <climits>
#include <cstdlib>

namespace {

bool InSet(const QString& ASet, QChar c) { return c.unicode() <= 255 && ASet.contains(c); }

bool IsHexDigit(QChar c) {
  const char16_t u = c.unicode();
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

char16_t AsciiLower(char16_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// The home folder: $HOME, else the password database; empty when neither.
QString HomeDir() {
  QByteArray home = qgetenv("HOME");
  if (!home.isEmpty()) return QString::fromLocal8Bit(home);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir)
    return QString::fromLocal8Bit(pw->pw_dir);
  return QString();
}

// The per-user configuration base of the desktop ($XDG_CONFIG_HOME, which
// must be absolute, else ~/.config).
QString ConfigHome() {
  QString xdg = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
  if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return QDir::cleanPath(xdg);
  QString home = HomeDir();
  return home.isEmpty() ? QString() : QDir::cleanPath(home + "/.config");
}

int32_t HexValue(const QString& digits) {
  // Leading zeros do not count against the 32 bits.
  int first = 0;
  while (first < digits.size() - 1 && digits[first] == u'0') ++first;
  if (digits.size() - first > 8) throw EConvertError("hexadecimal number out of range");
  uint32_t v = 0;
  for (int i = first; i < digits.size(); ++i) {
    char16_t c = AsciiLower(digits[i].unicode());
    v = (v << 4) | static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return static_cast<int32_t>(v);
}

int32_t DecimalValue(const QString& run) {
  bool ok = false;
  qlonglong v = 0;
  // One optional sign, then digits only: "-", "+-1" or "1-" are malformed.
  int start = run.startsWith(u'+') || run.startsWith(u'-') ? 1 : 0;
  bool digits = run.size() > start;
  for (int i = start; i < run.size() && digits; ++i) digits = run[i].isDigit() && run[i] <= u'9';
  if (digits) v = run.toLongLong(&ok);
  if (!ok || v < INT32_MIN || v > INT32_MAX) throw EConvertError("'" + run.toStdString() + "' is not a valid integer");
  return static_cast<int32_t>(v);
}

long double FloatValue(const QString& run) {
  // The run was scanned with "." as the decimal separator; it is converted
  // the same way whatever the process's locale says.
  QByteArray bytes = run.toLatin1();
  if (bytes.startsWith('+')) bytes.remove(0, 1);
  long double v = 0;
  const auto [end, err] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), v);
  if (err != std::errc() || end != bytes.constData() + bytes.size())
    throw EConvertError("'" + run.toStdString() + "' is not a valid floating point value");
  return v;
}

}  // namespace

QString GetAppExePath() { return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(); }

QString GetAppDir() { return QFileInfo(GetAppExePath()).absolutePath(); }

QString GetSpecialFolderPath(int ACsidl) {
  switch (ACsidl) {
    case CSIDL_APPDATA:
      return ConfigHome();
    case CSIDL_COMMON_APPDATA:
      return QStringLiteral("/etc/xdg");
    default:
      return QString();
  }
}

QString GetAppDataDir(bool ACreate, bool ACommon) {
  QString base = GetSpecialFolderPath(ACommon ? CSIDL_COMMON_APPDATA : CSIDL_APPDATA);
  // Without any base a bare "/Sorvex" would land at the root of the file
  // system: better no folder at all, which callers see.
  if (base.isEmpty()) return QString();
  QString dir = base + '/' + kAppName;
  if (ACreate && !QFileInfo::exists(dir)) QDir().mkpath(dir);
  return dir;
}

QString MakeTempFileName(const QString& APrefix) {
  // Empty when $TMPDIR names no folder: the name must not fall back to the
  // root of the file system.
  const QString dir = QDir::tempPath();
  if (dir.isEmpty()) return QString();
  QByteArray templ = QFile::encodeName(dir + '/' + APrefix + "XXXXXX");
  int fd = mkstemp(templ.data());
  if (fd < 0) return QString();
  close(fd);
  return QFile::decodeName(templ);
}

int FindCharOf(const QString& ASet, const QString& AText, int AStart) {
  for (int i = std::max(AStart, 1); i <= AText.size(); ++i)
    if (InSet(ASet, AText[i - 1])) return i;
  return 0;
}

int FindCharNotOf(const QString& ASet, const QString& AText, int AStart) {
  for (int i = std::max(AStart, 1); i <= AText.size(); ++i)
    if (!InSet(ASet, AText[i - 1])) return i;
  return 0;
}

int32_t HexToInt(const QString& AText) {
  const QString& digits = AText;
  if (digits.isEmpty()) throw EConvertError("'' is not a valid integer");
  for (QChar c : digits)
    if (!IsHexDigit(c)) throw EConvertError("'" + AText.toStdString() + "' is not a valid integer");
  return HexValue(digits);
}

int ScanFormat(const QString& AText, const QString& AFormat, const std::vector<ScanDest>& ADest) {
  // 1-based positions, as the format language counts them.
  const int lenT = AText.size(), lenF = AFormat.size();
  auto T = [&](int p) { return AText[p - 1]; };
  auto F = [&](int p) { return AFormat[p - 1]; };
  int tp = 1, fp = 1, count = 0;
  for (const ScanDest& dest : ADest) {
    char16_t conv = 0;
    while (!conv) {
      while (fp < lenF && F(fp) == u' ') ++fp;
      // The format's last character is never a conversion or a literal.
      if (fp >= lenF) return count;
      if (F(fp) == u'%') {
        char16_t c = F(fp + 1).unicode();
        if (c != 'd' && c != 'x' && c != 'f' && c != 's') return count;
        conv = c;
        fp += 2;
      } else {
        const QChar lit = F(fp);
        while (tp < lenT && T(tp) != lit) ++tp;
        if (tp > lenT) return count;  // the text ran out before
        ++tp;
        ++fp;
      }
    }
    while (tp < lenT && T(tp) == u' ') ++tp;
    auto runWhile = [&](auto pred) {
      int start = tp;
      while (tp <= lenT && pred(T(tp))) ++tp;
      return AText.mid(start - 1, tp - start);
    };
    switch (conv) {
      case 'd': {
        QString run = runWhile([](QChar c) { return c == u'+' || c == u'-' || (c >= u'0' && c <= u'9'); });
        if (run.isEmpty()) return count;
        auto* p = std::get_if<int32_t*>(&dest);
        if (!p) return count;
        **p = DecimalValue(run);
        break;
      }
      case 'x': {
        QString run = runWhile(IsHexDigit);
        if (run.isEmpty()) return count;
        auto* p = std::get_if<int32_t*>(&dest);
        if (!p) return count;
        **p = HexValue(run);
        break;
      }
      case 'f': {
        int start = tp;
        if (tp <= lenT && (T(tp) == u'+' || T(tp) == u'-')) ++tp;
        runWhile([](QChar c) { return (c >= u'0' && c <= u'9') || c == u'E' || c == u'e' || c == u'.'; });
        QString run = AText.mid(start - 1, tp - start);
        if (run.isEmpty()) return count;
        auto* p = std::get_if<long double*>(&dest);
        if (!p) return count;
        **p = FloatValue(run);
        break;
      }
      case 's': {
        const bool hasStop = fp <= lenF;
        const QChar stop = hasStop ? F(fp) : QChar();
        QString run = runWhile([&](QChar c) { return c != u' ' && !(hasStop && c == stop); });
        auto* p = std::get_if<QString*>(&dest);
        if (!p) return count;
        **p = run;
        break;
      }
    }
    ++count;
  }
  return count;
}

QString NextToken(const QString& AText, QChar ADelim, int& APos) {
  const int from = std::max(APos, 1);
  const int d = from <= AText.size() ? AText.indexOf(ADelim, from - 1) + 1 : 0;
  if (d > 0) {
    QString token = AText.mid(from - 1, d - from);
    APos = d + 1 > AText.size() ? 0 : d + 1;
    return token;
  }
  APos = 0;
  return from <= AText.size() ? AText.mid(from - 1) : QString();
}

bool WildcardMatch(const QString& AMask, const QString& AText) {
  if (AText.isEmpty()) return true;
  if (AMask.isEmpty()) return false;
  const int len = AText.size();
  int i = 1;
  bool star = false;
  for (QChar m : AMask) {
    if (m == u'*') {
      star = true;
    } else if (m == u'?') {
      ++i;
    } else {
      const char16_t want = AsciiLower(m.unicode());
      if (star)
        while (i <= len && AsciiLower(AText[i - 1].unicode()) != want) ++i;
      if (i > len || AsciiLower(AText[i - 1].unicode()) != want) return false;
      star = false;
      ++i;
    }
  }
  return true;
}

uint32_t MakeFileVersion(int AMajor, int AMinor, int ARelease, int ABuild) {
  return (static_cast<uint32_t>(AMajor) & 0xFF) | (static_cast<uint32_t>(AMinor) & 0xFF) << 8 |
         (static_cast<uint32_t>(ARelease) & 0xFF) << 16 | (static_cast<uint32_t>(ABuild) & 0xFF) << 24;
}

uint32_t GetFileVersion(const QString& AFileName) {
  // Linux files carry no version resource; the program knows its own.
  if (QFileInfo(AFileName).canonicalFilePath() != GetAppExePath()) return 0;
  return MakeFileVersion(SORVEX_VERSION_MAJOR, SORVEX_VERSION_MINOR, SORVEX_VERSION_PATCH,
                         SORVEX_VERSION_TWEAK);
}

QString FileVersionText(uint32_t AVersion) {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(AVersion & 0xFF)
      .arg((AVersion >> 8) & 0xFF)
      .arg((AVersion >> 16) & 0xFF)
      .arg((AVersion >> 24) & 0xFF);
}

QString GetFileVersionStr(const QString& AFileName) { return FileVersionText(GetFileVersion(AFileName)); }

QString AutorunFilePath() {
  QString base = ConfigHome();
  return base.isEmpty() ? QString() : base + "/autostart/" + kAppName + ".desktop";
}

QString AutorunEntryText(const QString& AProgram) {
  // The program as one quoted argument: inside quotes the desktop's command
  // line wants ", `, $ and \ escaped with a backslash, and a literal % is
  // %%. The whole value is then escaped once more as a string value, where
  // a backslash doubles and control characters become \n, \t, \r.
  QString arg = QStringLiteral("\"");
  for (QChar c : AProgram) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
      arg += u'\\';
    else if (c == u'%')
      arg += u'%';
    arg += c;
  }
  arg += QStringLiteral("\" -autorun");
  QString value;
  for (QChar c : arg) {
    switch (c.unicode()) {
      case '\\': value += QStringLiteral("\\\\"); break;
      case '\n': value += QStringLiteral("\\n"); break;
      case '\t': value += QStringLiteral("\\t"); break;
      case '\r': value += QStringLiteral("\\r"); break;
      default: value += c;
    }
  }
  return QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\n").arg(kAppName, value);
}

bool SetAutorun(bool AOn) {
  const QString path = AutorunFilePath();
  if (path.isEmpty()) return false;
  if (!AOn) return !QFileInfo::exists(path) || QFile::remove(path);
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  return WriteFileAtomic(path, AutorunEntryText(GetAppExePath()).toUtf8());
}

bool GetAutorun() {
  const QString path = AutorunFilePath();
  return !path.isEmpty() && QFileInfo::exists(path);
}

namespace {

// The process's file mode mask, read without changing it (umask() would).
mode_t CurrentUmask() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : status.readAll().split('\n')) {
      if (line.startsWith("Umask:")) {
        bool ok = false;
        const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
        if (ok) return mode_t(mask);
      }
    }
  }
  return 022;
}

bool Fail(QString* AError, const QString& AWhat) {
  if (AError) *AError = AWhat + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
  return false;
}

// The file a path names once every symbolic link at its end is followed, as
// its folder (canonical) and its name. Each link's folder is resolved before
// its target is read, so a relative target ("../x") means what it means to
// the system. False with errno set when a folder is missing or the links go
// round in circles.
bool ResolveLinks(QByteArray APath, QByteArray& AFolder, QByteArray& AName) {
  for (int hops = 0; hops <= 40; ++hops) {  // the system's own limit
    const qsizetype slash = APath.lastIndexOf('/');
    const QByteArray dir = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : APath.left(slash);
    AName = slash < 0 ? APath : APath.mid(slash + 1);
    char* real = realpath(dir.constData(), nullptr);
    if (!real) return false;
    AFolder = real;
    free(real);
    if (AFolder == "/") AFolder.clear();
    const QByteArray full = AFolder + '/' + AName;
    struct stat st {};
    if (AName.isEmpty() || lstat(full.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    QByteArray target(PATH_MAX, '\0');
    const ssize_t n = readlink(full.constData(), target.data(), size_t(target.size()));
    if (n < 0) return false;
    target.truncate(n);
    APath = target.startsWith('/') ? target : AFolder + '/' + target;
  }
  errno = ELOOP;
  return false;
}

}  // namespace

bool WriteFileAtomic(const QString& APath, const QByteArray& ABytes, QString* AError) {
  QByteArray folder, name;
  if (!ResolveLinks(QFile::encodeName(APath), folder, name))
    return Fail(AError, QStringLiteral("cannot find the file behind the name"));
  const QByteArray target = folder + '/' + name;
  QByteArray temp = folder + "/." + name + ".XXXXXX";

  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(AError, QStringLiteral("cannot create a temporary file"));
  auto discard = [&](const QString& what) {
    const int saved = errno;
    close(fd);
    unlink(temp.constData());
    errno = saved;
    return Fail(AError, what);
  };
  struct stat st{};
  const bool exists = stat(target.constData(), &st) == 0;
  // A file its owner made read-only is not replaced behind their back (the
  // rename would succeed, the directory being writable); root included.
  if (exists && ((st.st_mode & 0222) == 0 || access(target.constData(), W_OK) != 0)) {
    errno = EACCES;
    return discard(QStringLiteral("the file is read-only"));
  }
  const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
  if (fchmod(fd, mode) != 0) return discard(QStringLiteral("cannot set the file mode"));
  // write() may store less than asked (a full disk, a file size limit):
  // anything short of all the bytes keeps the old file.
  for (qsizetype done = 0; done < ABytes.size();) {
    const ssize_t n = write(fd, ABytes.constData() + done, size_t(ABytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return discard(QStringLiteral("cannot write the file"));
    done += n;
  }
  if (fsync(fd) != 0) return discard(QStringLiteral("cannot flush the file"));
  if (close(fd) != 0) {
    const int saved = errno;
    unlink(temp.constData());
    errno = saved;
    return Fail(AError, QStringLiteral("cannot write the file"));
  }
  if (rename(temp.constData(), target.constData()) != 0) {
    const int saved = errno;
    unlink(temp.constData());
    errno = saved;
    return Fail(AError, QStringLiteral("cannot replace the file"));
  }
  return true;
}

void TCommandLineInfo::ParseCommandLine(const QStringList& AParams) {
  for (qsizetype i = 0; i < AParams.size(); ++i) {
    QString param = AParams[i];
    if (param.isEmpty()) continue;
    const bool flag = param[0] == u'-' || param[0] == u'/';
    if (flag) param.remove(0, 1);
    ParseParam(param, flag, i == AParams.size() - 1);
  }
}

void TCommandLineInfo::ParseParam(const QString& AParam, bool AFlag, bool ALast) {
  if (AFlag)
    ParseParamFlag(AParam);
  else
    ParseParamNotFlag(AParam);
  ParseLast(ALast);
}

void TCommandLineInfo::ParseParamFlag(const QString& AParam) {
  if (AParam.compare(QLatin1String("Autorun"), Qt::CaseInsensitive) == 0)
    m_fAutorun = true;
  else if (AParam.compare(QLatin1String("Unregister"), Qt::CaseInsensitive) == 0)
    m_fUnregister = true;
}

void TCommandLineInfo::ParseParamNotFlag(const QString& AParam) {
  if (m_sFileName.isEmpty()) m_sFileName = AParam;
}

namespace {

// Whether the UTF-16 little-endian text of the file ends with a CR LF; the
// file is open for reading and its length, AEnd, is even.
bool EndsWithLineEnd(int AFd, off_t AEnd) {
  char last[4];
  return AEnd >= 4 && pread(AFd, last, sizeof last, AEnd - 4) == ssize_t(sizeof last) &&
         memcmp(last, "\r\0\n\0", sizeof last) == 0;
}

// Writes all of ABytes; 0, or the errno of the write that stopped.
int WriteAll(int AFd, const QByteArray& ABytes) {
  for (qsizetype done = 0; done < ABytes.size();) {
    const ssize_t n = write(AFd, ABytes.constData() + done, size_t(ABytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += n;
  }
  return 0;
}

}  // namespace

bool AppendTextToFile(const QString& AText, const QString& AFileName, QString* AError) {
  QByteArray bytes;
  bytes.reserve(AText.size() * 2 + 4);
  for (QChar ch : AText) {
    bytes.append(static_cast<char>(ch.unicode() & 0xFF));
    bytes.append(static_cast<char>(ch.unicode() >> 8));
  }
  const int fd = open(QFile::encodeName(AFileName).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (AError) *AError = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  // O_APPEND puts every write at the end as one step; the lock keeps
  // writers that split a text (or readers that honour the lock) apart, and
  // holds the end where it is while this text goes in.
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  int err = 0;
  struct stat st {};
  if (fstat(fd, &st) != 0) err = errno;
  off_t end = st.st_size;
  // A file torn before ends in the middle of a line, perhaps of a
  // character. Written on as it is, every later character would stand one
  // byte off and read as garbage: the stray byte goes, and the text starts
  // on a line of its own.
  if (!err && end % 2 != 0) {
    if (ftruncate(fd, end - 1) == 0)
      --end;
    else
      err = errno;
  }
  if (!err && end > 0 && !EndsWithLineEnd(fd, end)) bytes.prepend("\r\0\n\0", 4);
  if (!err) err = WriteAll(fd, bytes);
  // Part of a text is worse than none (the next one would follow a torn
  // line): what went in of it is cut back.
  if (err && fstat(fd, &st) == 0 && st.st_size > end && ftruncate(fd, end) != 0) {
    // Cannot be cut back: the next append starts on a line of its own.
  }
  flock(fd, LOCK_UN);
  if (close(fd) != 0 && !err) err = errno;
  if (err && AError) *AError = QString::fromLocal8Bit(std::strerror(err));
  return err == 0;
}
