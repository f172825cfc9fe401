#include "Startup.h"

#include <csignal>

#include <QDebug>
#include <QFileInfo>

#include "AppUtils.h"

namespace {

void OnFileSizeSignal(int) {}

}  // namespace

void CatchFileSizeSignal() {
  // Not SIG_IGN: an ignored signal stays ignored in every program started
  // from here, a handler goes back to the default at exec.
  struct sigaction sa {};
  sa.sa_handler = OnFileSizeSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGXFSZ, &sa, nullptr);
}

QString SettingsFilePath() {
  const QString beside = GetAppDir() + QStringLiteral("/Sorvex.ini");
  if (QFileInfo::exists(beside)) return beside;
  const QString folder = GetAppDataDir(true, false);
  return folder.isEmpty() ? QString() : folder + QStringLiteral("/Sorvex.ini");
}

bool TStartup::InitApp(const QStringList& AParams) {
  cmdLine = std::make_unique<TMyCmdLineInfo>();
  cmdLine->ParseCommandLine(AParams);
  config = std::make_unique<TAppConfig>();
  config->SetFileName(SettingsFilePath());
  // Without a home there is nowhere to keep settings; a name made of
  // nothing would put them at the root of the file system.
  if (config->FileName().isEmpty())
    qWarning("Sorvex: no per-user folder (neither $HOME nor an entry in the user database): running "
             "with the built-in settings and writing no settings, profiles or transfer log.");
  config->BeginUpdate(false);
  return config->GetSingleInstance() ? CheckSingleInstance() : true;
}

bool TStartup::CheckSingleInstance() {
  // A lock that cannot be made is no other instance. Without it a running
  // instance is still found and woken; only two starts at the very same
  // moment may then both go on.
  QString why;
  if (!lock.Acquire(&why))
    qWarning().noquote() << "Sorvex: the single-instance lock cannot be made (" + why +
                                "): starting without it.";
  // The running instance is found by its listener, whatever its own
  // setting; it shows itself and this one ends. One that is there but too
  // busy to answer in time (typing a long card) still counts as running.
  if (SendToRunningInstance(CD_SHOWAPP) != TInstanceAnswer::None) {
    lock.Release();
    return false;
  }
  return true;
}

void TStartup::DoneInit(TAppConfig& AConfig) {
  lock.Release();
  AConfig.EndUpdate();
}

std::optional<QString> XDisplayOfStart(const QStringList& AArgs, const QString& APlatform,
                                       const QString& ADisplay) {
  QString platform = APlatform;
  QString display = ADisplay;
  for (qsizetype i = 0; i + 1 < AArgs.size(); ++i) {
    QString arg = AArgs[i];
    if (arg.startsWith(u"--")) arg.remove(0, 1);
    if (arg == u"-platform")
      platform = AArgs[++i];
    else if (arg == u"-display")
      display = AArgs[++i];
  }
  // "name:options", or a list of names to try in turn: the first one counts.
  const QString name = platform.section(u';', 0, 0).section(u':', 0, 0);
  if (!name.isEmpty() && name != u"xcb") return std::nullopt;
  return display;
}

QString NoXDisplayMessage(const QString& ADisplay) {
  const QString what = ADisplay.isEmpty()
                           ? QStringLiteral("no X display to open (DISPLAY is not set)")
                           : QStringLiteral("cannot open the X display \"%1\"").arg(ADisplay);
  return QStringLiteral("Sorvex: %1; Sorvex needs an X11 session or XWayland.").arg(what);
}
