#include "Startup.h"

#include <QFileInfo>

#include "uAppUtils.h"

QString SettingsFilePath() {
  const QString beside = GetAppDir() + QStringLiteral("/Sorvex.ini");
  if (QFileInfo::exists(beside)) return beside;
  return GetAppDataDir(true, false) + QStringLiteral("/Sorvex.ini");
}

bool TStartup::InitApp(const QStringList& AParams) {
  cmdLine = std::make_unique<TMyCmdLineInfo>();
  cmdLine->ParseCommandLine(AParams);
  config = std::make_unique<TAppConfig>();
  config->SetFileName(SettingsFilePath());
  config->BeginUpdate(false);
  return config->GetSingleInstance() ? CheckSingleInstance() : true;
}

bool TStartup::CheckSingleInstance() {
  if (!lock.Acquire()) return false;
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
