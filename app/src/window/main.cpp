// Sorvex: the card reader's keyboard, living in the notification area.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include "AppDialogs.h"
#include "CommandLine.h"
#include "MainForm.h"
#include "Startup.h"
#include "XDesktop.h"

namespace {

// A request to end from outside (the session ending, kill, Ctrl+C) goes the
// way Exit goes, so the window position and the settings are kept and the
// port is closed. The handler only writes a byte; the event loop does the
// rest.
int g_quitPipe[2] = {-1, -1};

void OnQuitSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(g_quitPipe[1], &byte, 1);
}

void QuitOnSignals(QApplication& AApp, TfmMain& AForm) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_quitPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_quitPipe[0], QSocketNotifier::Read, &AApp);
  // Through the window's Exit: a plain quit() would ask the window to close,
  // and the window only hides.
  QObject::connect(notifier, &QSocketNotifier::activated, &AForm, [&AForm] {
    char byte;
    [[maybe_unused]] const ssize_t n = read(g_quitPipe[0], &byte, 1);
    AForm.Exit();
  });
  struct sigaction sa {};
  sa.sa_handler = OnQuitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  CatchFileSizeSignal();

  // The arguments as given, before Qt takes its own out of them.
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  switch (InfoRequest(args)) {
    case TInfoRequest::Usage:
      std::fputs(UsageText().toLocal8Bit().constData(), stdout);
      return 0;
    case TInfoRequest::Version:
      std::fputs(VersionText().toLocal8Bit().constData(), stdout);
      return 0;
    case TInfoRequest::None:
      break;
  }
  const std::optional<QString> display =
      XDisplayOfStart(args, qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("DISPLAY"));
  if (display && (display->isEmpty() || !x11::XDesktop::Reachable(display->toStdString()))) {
    std::fprintf(stderr, "%s\n", NoXDisplayMessage(*display).toLocal8Bit().constData());
    return 1;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Sorvex"));
  QApplication::setQuitOnLastWindowClosed(false);

  TStartup start;
  if (!start.InitApp(QApplication::arguments().mid(1))) return 0;

  // Every instance listens for "show yourself", and does so before the next
  // one may look for it.
  TInstanceListener listener;
  QString why;
  if (listener.Listen(&why) == TListenResult::Failed)
    qWarning().noquote() << "Sorvex: cannot listen for a later start (" + why +
                                "): with \"OneInstance\" on, it will not find this instance.";

  TScreenDialogs dialogs;
  TfmMain form(std::move(start.config), std::move(start.cmdLine), dialogs);
  if (form.InitFailed()) return 1;
  QObject::connect(&listener, &TInstanceListener::copyData, &form, &TfmMain::WMCopyData);
  start.DoneInit(form.Config());
  QuitOnSignals(app, form);
  return app.exec();
}
