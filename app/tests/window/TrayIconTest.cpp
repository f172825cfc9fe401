// The tray icon's image on the offscreen platform: the active image only
// while the port is open and listed among the present ports. (Under X11
// the tests see the icon's pixels too, but there the listing is the
// machine's own.) The port is a pseudo-terminal, which no listing shows:
// the test puts it into the list the way a listing fills it, and an empty
// fixture device tree takes it out again at the next refresh.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QImage>
#include <QSystemTrayIcon>

#include "AppConfig.h"
#include "AppDialogs.h"
#include "CommandLine.h"
#include "common/ConfigHome.h"
#include "common/WidgetTests.h"
#include "MainForm.h"
#include "Pty.h"
#include "ReaderPort.h"
#include "SysfsFixture.h"
#include "YvSeams.h"

namespace {

QImage Picture(const QIcon& AIcon) {
  return AIcon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The images by the names they are kept under: 0 inactive, 1 active.
QImage Inactive() { return Picture(QIcon(QStringLiteral(":/icons/riDISABL.xpm"))); }
QImage Active() { return Picture(QIcon(QStringLiteral(":/icons/riENABL.xpm"))); }

TEST(TrayIconImage, ActiveOnlyWhileTheOpenPortIsListed) {
  ConfigHome home;
  ASSERT_TRUE(home.isValid());
  SysfsFixture sys;
  ylvane::SetSysRoot(sys.SysRoot());
  ylvane::SetLockDir(sys.LockDir());
  ASSERT_NE(Inactive(), Active());
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  const QString port = QString::fromStdString(pty.Path().substr(5));

  RecordingDialogs dialogs;
  {
    auto config = std::make_unique<TAppConfig>();
    config->SetFileName(home.filePath(QStringLiteral("Sorvex.ini")));
    config->BeginUpdate(false);
    TfmMain form(std::move(config), std::make_unique<TMyCmdLineInfo>(), dialogs);
    ASSERT_FALSE(form.InitFailed());
    form.Config().EndUpdate();
    QCoreApplication::processEvents();  // the deferred start-up
    auto* ports = form.findChild<QComboBox*>(QStringLiteral("cbPorts"));
    ASSERT_NE(ports, nullptr);
    EXPECT_FALSE(form.ActiveIcon());
    EXPECT_EQ(Picture(form.TrayIcon()->icon()), Inactive());

    ports->addItem(port);
    ports->setCurrentText(port);
    form.DoEnableCvt(true);
    ASSERT_TRUE(form.Port().Opened()) << dialogs.errors.join('|').toStdString();
    EXPECT_TRUE(form.ActiveIcon());
    EXPECT_EQ(Picture(form.TrayIcon()->icon()), Active());

    // The reader is pulled out: at the next listing the image goes back,
    // though the port stays open until switched off.
    form.WMUpdatePorts();
    ASSERT_EQ(ports->findText(port), -1);
    EXPECT_TRUE(form.Port().Opened());
    EXPECT_FALSE(form.ActiveIcon());
    EXPECT_EQ(Picture(form.TrayIcon()->icon()), Inactive());
    form.DoEnableCvt(false);
    EXPECT_FALSE(form.ActiveIcon());
  }
  EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('|').toStdString();
}

}  // namespace

int main(int argc, char** argv) { return RunWidgetTests(argc, argv); }
