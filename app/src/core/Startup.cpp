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
