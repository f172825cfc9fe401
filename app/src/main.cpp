// Sorvex: the card reader's keyboard, living in the notification area.
#include <QApplication>

#include "AppDialogs.h"
#include "MainForm.h"
#include "Startup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Sorvex"));
  QApplication::setQuitOnLastWindowClosed(false);

  TStartup start;
  if (!start.InitApp(QApplication::arguments().mid(1))) return 0;

  // Every instance listens for "show yourself", and does so before the next
  // one may look for it.
  TInstanceListener listener;
  listener.Listen();

  TScreenDialogs dialogs;
  TfmMain form(std::move(start.config), std::move(start.cmdLine), dialogs);
  if (form.InitFailed()) return 1;
  QObject::connect(&listener, &TInstanceListener::copyData, &form, &TfmMain::WMCopyData);
  start.DoneInit(form.Config());
  return app.exec();
}
