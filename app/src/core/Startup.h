// The program's start before and around the main window: the command line,
// the settings file, the single-instance rule, then the main window and
// the message loop.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "AppConfig.h"
#include "CommandLine.h"
#include "SingleInstance.h"

struct TStartup {
  std::unique_ptr<TMyCmdLineInfo> cmdLine;
  std::unique_ptr<TAppConfig> config;
  TStartLock lock;  // held while this instance creates its window

  // Parses the command line, finds the settings file (beside the program
  // when one is there, else in the per-user folder; none without that
  // folder, which is said once on standard error) and opens the update that
  // spans the main window's creation. With "OneInstance" on, false when
  // another instance answered (it shows itself; this one ends).
  bool InitApp(const QStringList& AParams);
  // False when another instance was found and woken. The lock stays held
  // when none was; a lock that cannot be made is said on standard error and
  // the start goes on without it.
  bool CheckSingleInstance();
  // Right after the main window exists: lets the next instance go on and
  // writes the settings file once. AConfig is the settings object, now owned
  // by the window.
  void DoneInit(TAppConfig& AConfig);
};

// A write beyond the file size limit must fail like one to a full disk
// (EFBIG; the settings keep their old file, the log line is cut back), not
// end the program: the signal it raises is caught by a handler that does
// nothing.
void CatchFileSizeSignal();

// The settings file the program uses; empty when there is no per-user
// folder and none beside the program.
QString SettingsFilePath();

// The X display the window system will open, tried before it is, since Qt
// ends a program whose display cannot be opened with an abort and a hint
// about reinstalling it. AArgs are the program's arguments as given (Qt's
// own "-platform" and "-display" among them, with one dash or two),
// APlatform is $QT_QPA_PLATFORM, ADisplay is $DISPLAY. Nothing when another
// platform than X11 is asked for; an empty name when none is given.
std::optional<QString> XDisplayOfStart(const QStringList& AArgs, const QString& APlatform,
                                       const QString& ADisplay);
// The one line said when that display cannot be opened.
QString NoXDisplayMessage(const QString& ADisplay);
