// The main window on the offscreen platform: its creation and deferred
// start-up from a settings file, the port list from a device tree, the card
// road through its controls, and the window's own rules.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QScreen>
#include <QTabWidget>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <functional>

#include "About.h"
#include "AppConfig.h"
#include "AppDialogs.h"
#include "AppUtils.h"
#include "CommandLine.h"
#include "common/ConfigHome.h"
#include "common/LockedPty.h"
#include "common/QStringPrinter.h"
#include "common/TextsShown.h"
#include "common/WidgetTests.h"
#include "FormTexts.h"
#include "IniFile.h"
#include "MainForm.h"
#include "NewProfile.h"
#include "PageTabs.h"
#include "Pty.h"
#include "ReaderPort.h"
#include "SettingsDialog.h"
#include "SysfsFixture.h"
#include "ylvane.h"
#include "YvSeams.h"

namespace {

bool WaitFor(const std::function<bool()>& ACond, int ATimeoutMs = 5000) {
  QDeadlineTimer limit(ATimeoutMs);
  while (!ACond()) {
    if (limit.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// A key pressed in AWidget, with the character it types.
void PressKey(QWidget* AWidget, Qt::Key AKey, const QString& AText) {
  QKeyEvent press(QEvent::KeyPress, AKey, Qt::NoModifier, AText);
  QCoreApplication::sendEvent(AWidget, &press);
}

QString ComboItems(const QComboBox& ACombo) {
  QStringList items;
  for (int i = 0; i < ACombo.count(); ++i) items << ACombo.itemText(i);
  return items.join(u'|');
}

// The buttons Qt gives the program's message boxes, as they read now.
QString StandardButtonTexts() {
  QMessageBox box(QMessageBox::Question, "Sorvex", "?",
                  QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  QStringList texts;
  for (auto b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
    texts << box.button(b)->text();
  return texts.join(u'|');
}

// A private home (settings, profiles) and device tree for each test.
class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    ylvane::SetSysRoot(sys_.SysRoot());
    ylvane::SetLockDir(sys_.LockDir());
    QDir().mkpath(home_.filePath("Sorvex/profiles"));
  }
  void TearDown() override { form_.reset(); }

  QString SettingsPath() const { return home_.filePath("Sorvex/Sorvex.ini"); }
  void PutFile(const QString& APath, const QByteArray& ABytes) {
    QFile f(APath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(ABytes);
  }
  void PutSettings(const QByteArray& ABytes) { PutFile(SettingsPath(), ABytes); }
  void PutProfile(const QString& AName, const QByteArray& ABytes) {
    PutFile(home_.filePath("Sorvex/profiles/" + AName + ".ini"), ABytes);
  }

  // Creates the window as the program does and runs its deferred start-up.
  TfmMain& Start(const QStringList& AParams = {}) {
    auto cmd = std::make_unique<TMyCmdLineInfo>();
    cmd->ParseCommandLine(AParams);
    auto cfg = std::make_unique<TAppConfig>();
    cfg->SetFileName(SettingsPath());
    cfg->BeginUpdate(false);
    form_ = std::make_unique<TfmMain>(std::move(cfg), std::move(cmd), dialogs_);
    EXPECT_FALSE(form_->InitFailed());
    form_->Config().EndUpdate();
    QCoreApplication::processEvents();  // the deferred start-up
    return *form_;
  }

  ConfigHome home_;
  SysfsFixture sys_;
  RecordingDialogs dialogs_;
  std::unique_ptr<TfmMain> form_;
};

const QByteArray kShopProfile =
    "[MUL.1]\nname=Own UL\nhint=\ntemplate=%.2X\nreplaces=b0\n"
    "[EMM.1]\nname=Own EM\nhint=\ntemplate=<%u>\nreplaces=w43\n"
    "[Main]\nCurMULFmt=own ul\nCurMULFmtStd=0\nCurEmmFmt=Own EM\nCurEmmFmtStd=0\n";

TEST_F(MainWindow, StartUpRestoresTheStoredState) {
  PutProfile("shop", kShopProfile);
  PutSettings(
      "[Main]\nProfile=shop\nActivePageN=3\nTabVisIC=0\nShowFmtPan=1\nTransMethod=1\n"
      "DefFormat=4\nTransLog=1\nPressKeyDelay=20000\n");
  TfmMain& form = Start();
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('|').toStdString();
  EXPECT_EQ(Find<QComboBox>(form, "cbUsrProfile")->currentText(), "shop");
  EXPECT_TRUE(form.UsrProfile().Opened());
  // The profile's own current formats, found in the class lists ignoring case.
  EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->currentText(), "Own UL");
  EXPECT_FALSE(Find<QCheckBox>(form, "chkMULFmtStd")->isChecked());
  EXPECT_EQ(Find<QComboBox>(form, "cbEmFmt")->currentText(), "Own EM");
  EXPECT_TRUE(Find<QCheckBox>(form, "chkHidFmtStd")->isChecked());  // standard, none chosen
  EXPECT_EQ(Find<QComboBox>(form, "cbHidFmt")->count(), 21);
  auto* pages = Find<QTabWidget>(form, "PageControl1");
  EXPECT_EQ(pages->currentIndex(), 3);
  EXPECT_FALSE(pages->isTabVisible(cft_iCode));
  EXPECT_TRUE(pages->isTabVisible(cft_Hid));
  const auto radios = Find<QGroupBox>(form, "rgTranMethod")->findChildren<QRadioButton*>();
  ASSERT_EQ(radios.size(), 2);
  EXPECT_FALSE(radios[0]->isChecked());
  EXPECT_TRUE(radios[1]->isChecked());
  EXPECT_EQ(form.Pipeline().TransMethod(), tm_Clipboard);
  EXPECT_TRUE(form.Pipeline().TransLog());
  EXPECT_EQ(Find<QComboBox>(form, "cbDefCmt")->currentIndex(), 4);
  EXPECT_EQ(form.Pipeline().DefCmt(), 4);
  // The page's format is in the editor, read-only for a standard class.
  EXPECT_EQ(Find<QLineEdit>(form, "edtName")->text(), "Own EM");
  EXPECT_FALSE(Find<QLineEdit>(form, "edtName")->isReadOnly());
  EXPECT_EQ(Find<QTableWidget>(form, "gridBytes")->item(0, 15)->text(), "F");
}

TEST_F(MainWindow, WithoutAProfileTheStoredFormatsApplyAndTheCommandLineWins) {
  PutSettings("[Main]\nMULFormat=NOT THERE\nStdMULFormat=1\nHidFormat=x\nStdHidFormat=0\n");
  TfmMain& form = Start({"-uEMMmine", "-sHIDx"});
  EXPECT_TRUE(dialogs_.errors.isEmpty());
  EXPECT_FALSE(form.UsrProfile().Opened());
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), "NOT THERE");
  EXPECT_TRUE(form.UsrProfile().GetCurFmtStd(cft_MUL));
  EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->currentIndex(), -1);  // no such format
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_Emm), "mine");
  EXPECT_FALSE(form.UsrProfile().GetCurFmtStd(cft_Emm));
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_Hid), "x");
  EXPECT_TRUE(form.UsrProfile().GetCurFmtStd(cft_Hid));  // -s on the command line
}

TEST_F(MainWindow, StartUpErrorsAreCollectedIntoOneDialog) {
  // Another holder of the port: opening it again finds it busy.
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_EQ(YV_Initialize(0), S_OK);
  YV_HANDLE held = nullptr;
  ASSERT_EQ(YV_Open(&held, pty.Name(), YV_PORT_COM, 9600, 10, 2), S_OK);
  const QString port = QString::fromStdString(pty.Path().substr(5));
  TfmMain& form = Start({"nosuch", "-p" + port});
  ASSERT_EQ(dialogs_.errors.size(), 1);
  EXPECT_EQ(dialogs_.errors[0], "Failed to open profile \"nosuch\".\r\nCould not open port: port \"" + port +
                                     "\" occupied by another program.");
  EXPECT_EQ(Find<QComboBox>(form, "cbPorts")->currentText(), port);
  EXPECT_FALSE(form.Port().Opened());
  form_.reset();
  YV_CloseHandle(held);
  YV_Finalyze();
}

TEST_F(MainWindow, APortThatCannotBeOpenedForAnyOtherReasonIsNamedWithTheReason) {
  TfmMain& form = Start({"-pnull"});  // a device, but no terminal
  ASSERT_EQ(dialogs_.errors.size(), 1);
  EXPECT_EQ(dialogs_.errors[0], "Could not open port: port \"null\" does not exist.");

  // A terminal that refuses to open: the library's words for it, in the
  // window's language.
  LockedPty locked;
  ASSERT_TRUE(locked.Ok());
  Find<QComboBox>(form, "cbPorts")->setEditText(locked.Name());
  const int ru = FindLangIndex(form.Langs(), 0x419);
  ASSERT_GE(ru, 0);
  const struct {
    int lang;
    const char* message;
  } cases[] = {
      {-1, "Could not open port: port \"%1\": Error opening port."},
      {ru, "Не удалось открыть порт: порт \"%1\": Ошибка открытия порта."},
  };
  for (const auto& c : cases) {
    form.SetLang(c.lang);
    dialogs_.errors.clear();
    form.DoEnableCvt(true);
    EXPECT_FALSE(form.Port().Opened());
    EXPECT_EQ(dialogs_.errors, QStringList{QString::fromUtf8(c.message).arg(locked.Name())});
  }
  form.SetLang(-1);

  // A device only its group may use. Root opens any file: the port's own
  // tests show this as another user.
  if (geteuid() == 0) return;
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_EQ(chmod(pty.Path().c_str(), 0060), 0);
  struct stat st {};
  ASSERT_EQ(stat(pty.Path().c_str(), &st), 0);
  const group* owner = getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  const QString port = QString::fromStdString(pty.Path().substr(5));
  Find<QComboBox>(form, "cbPorts")->setEditText(port);
  dialogs_.errors.clear();
  form.DoEnableCvt(true);
  EXPECT_EQ(dialogs_.errors, QStringList{"Could not open port: port \"" + port +
                                         "\": this user may not read and write the device, which belongs to the "
                                         "group \"" + QString::fromLocal8Bit(owner->gr_name) +
                                         "\" (add the user to that group and log in again)."});
}

TEST_F(MainWindow, ThePortListComesFromTheDevicesAndFollowsArrivals) {
  sys_.SetFtdiDriver(true);
  sys_.AddUsb("1-1", 0x0403, 0x1234, "RDR1", "Card reader", "ttyUSB0");
  sys_.AddUart("ttyS0", 4);
  sys_.AddUart("ttyS5", 0);  // a placeholder of the kernel
  // A host-side notifier that forwards device events, as a service would.
  ASSERT_EQ(YV_Initialize(0), S_OK);
  YV_NOTIFY_SETTINGS fwd{};
  fwd.Flags = YV_NF_EXIST;
  fwd.Callback = [](uint32_t, const void*, void*) -> YV_BOOL { return 1; };
  fwd.SerialTypeMask = 1;
  fwd.Recipient = reinterpret_cast<void*>(1);
  YV_HANDLE forwarder = nullptr;
  ASSERT_EQ(YV_FindNotification(&forwarder, &fwd), S_OK);

  TfmMain& form = Start();
  auto* ports = Find<QComboBox>(form, "cbPorts");
  QStringList listed;
  for (int i = 0; i < ports->count(); ++i) listed << ports->itemText(i);
  EXPECT_EQ(listed, QStringList({"ttyUSB0", "ttyS0"}));
  EXPECT_EQ(ports->currentText(), "ttyUSB0");  // the first entry is taken at start

  // The user types a name; a reader arrives: the list grows, the text stays.
  ports->setEditText("ttyACM7");
  const std::string path = sys_.AddUsb("1-2", 0x0403, 0x1235, "RDR2", "Card reader", "ttyUSB1");
  const std::u16string sysPath(path.begin(), path.end());
  YV_DEVICE_EVENT ev{};
  ev.Size = sizeof ev;
  ev.VendorId = 0x0403;
  ev.ProductId = 0x1235;
  ev.SysPath = sysPath.c_str();
  ev.Serial = u"RDR2";
  ev.TtyName = u"ttyUSB1";
  ASSERT_EQ(YV_DeviceEventNotify(YV_DEVICE_ARRIVAL, &ev), S_OK);
  EXPECT_TRUE(WaitFor([&] { return ports->findText("ttyUSB1") >= 0; }));
  EXPECT_EQ(ports->currentText(), "ttyACM7");

  sys_.RemoveUsb("1-1");
  YV_DEVICE_EVENT gone{};
  gone.Size = sizeof gone;
  gone.VendorId = 0x0403;
  gone.ProductId = 0x1234;
  gone.Serial = u"RDR1";
  gone.TtyName = u"ttyUSB0";
  ASSERT_EQ(YV_DeviceEventNotify(YV_DEVICE_REMOVAL, &gone), S_OK);
  EXPECT_TRUE(WaitFor([&] { return ports->findText("ttyUSB0") < 0; }));
  form_.reset();  // the window goes first; the library's thread must not reach it
  YV_Finalyze();
}

TEST_F(MainWindow, ACardTravelsFromThePortToTheClipboardAndTheControls) {
  PutSettings("[Main]\nTransMethod=1\nTransLog=1\nMULFormat=Own\n");
  PutProfile("p", "[MUL.1]\nname=Own\nhint=\ntemplate=%.2X,%.2X\\r\nreplaces=b0 b1\n"
                  "[Main]\nCurMULFmt=Own\nCurMULFmtStd=0\n");
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  const QString port = QString::fromStdString(pty.Path().substr(5));
  TfmMain& form = Start({"p", "-p" + port});
  ASSERT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('|').toStdString();
  ASSERT_TRUE(form.Port().Opened());
  auto* trans = Find<QTextEdit>(form, "edtTrans");
  ASSERT_TRUE(pty.Send("No Card\r\nMifare[04A1B2] (UL)\r\n"));
  ASSERT_TRUE(WaitFor([&] { return !trans->toPlainText().isEmpty(); }));
  EXPECT_EQ(trans->toPlainText(), "04#44A1\\r");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "04,A1\r");
  EXPECT_EQ(Find<QLineEdit>(form, "edtCardTip")->text(), "Mifare UltraLight");
  EXPECT_EQ(Find<QLineEdit>(form, "edtLastFmt")->text(), "Own (custom)");
  EXPECT_EQ(Find<QLineEdit>(form, "edtWindow")->text(), "<clipboard>");
  EXPECT_EQ(Find<QLineEdit>(form, "edtPortOutput")->text(), "Mifare[04A1B2] (UL)");
  auto* grid = Find<QTableWidget>(form, "gridBytes");
  EXPECT_EQ(grid->item(1, 0)->text(), "04");
  EXPECT_EQ(grid->item(1, 2)->text(), "B2");
  EXPECT_EQ(grid->item(1, 3)->text(), "");
  // The marks (the comma and the CR) are blue.
  QTextCursor c(trans->document());
  c.setPosition(3);  // inside "#44"
  EXPECT_EQ(c.charFormat().foreground().color(), QColor(0, 0, 255));
  c.setPosition(1);  // inside "04"
  EXPECT_NE(c.charFormat().foreground().color(), QColor(0, 0, 255));
  // The log of the port got the line, in the data folder.
  QString logName = port;
  logName.replace('/', '_');
  QFile log(home_.filePath("Sorvex/_" + logName + ".log"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QString logText = QString::fromUtf16(reinterpret_cast<const char16_t*>(log.readAll().constData()),
                                             log.size() / 2);
  EXPECT_TRUE(logText.endsWith("  \"04#44A1\\r\" -> \"<clipboard>\" [MUL: \"Own\"]\r\n")) << logText.toStdString();
}

// Typing with nothing to type on (no X11 display here): the card is not lost
// without a word. Its text stays in view, the window's place says why it
// was not typed, the log says so too, and the clipboard is left alone.
TEST_F(MainWindow, ACardThatCannotBeTypedIsShownAndLoggedAsNotTyped) {
  PutSettings("[Main]\nTransMethod=0\nTransLog=1\n");
  QGuiApplication::clipboard()->setText("the user's own");
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  const QString port = QString::fromStdString(pty.Path().substr(5));
  TfmMain& form = Start({"-p" + port, "-sEXbasic"});
  ASSERT_TRUE(form.Port().Opened());
  auto* trans = Find<QTextEdit>(form, "edtTrans");
  ASSERT_TRUE(pty.Send("[0102030405060708]\r\n"));
  ASSERT_TRUE(WaitFor([&] { return !trans->toPlainText().isEmpty(); }));
  EXPECT_EQ(trans->toPlainText(), "08 07 06 05 04 03\\r");
  EXPECT_EQ(Find<QLineEdit>(form, "edtWindow")->text(), "[not typed: typing needs an X11 display]");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "the user's own");
  QString logName = port;
  logName.replace('/', '_');
  QFile log(home_.filePath("Sorvex/_" + logName + ".log"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QString logText = QString::fromUtf16(reinterpret_cast<const char16_t*>(log.readAll().constData()),
                                             log.size() / 2);
  EXPECT_TRUE(logText.endsWith(
      "  \"08 07 06 05 04 03\\r\" [not typed: typing needs an X11 display] [Ex: \"basic\" (std)]\r\n"))
      << logText.toStdString();
}

TEST_F(MainWindow, SwitchingThePortStoresTheChoiceAndTheControlsFollow) {
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  const QString port = QString::fromStdString(pty.Path().substr(5));
  TfmMain& form = Start();
  auto* ports = Find<QComboBox>(form, "cbPorts");
  auto* enabled = Find<QCheckBox>(form, "chkEnabled");
  ports->setEditText(port);
  enabled->click();
  EXPECT_TRUE(form.Port().Opened());
  EXPECT_TRUE(enabled->isChecked());
  EXPECT_FALSE(ports->isEnabled());
  EXPECT_FALSE(form.ActiveIcon());  // open, but not among the listed ports
  TAppConfig stored;
  stored.SetFileName(SettingsPath());
  EXPECT_EQ(stored.GetPort(), port);
  EXPECT_TRUE(stored.GetPortEnable());
  enabled->click();
  EXPECT_FALSE(form.Port().Opened());
  EXPECT_TRUE(ports->isEnabled());
  EXPECT_FALSE(stored.GetPortEnable());
  // An empty name opens nothing and says nothing; the box unticks.
  ports->setEditText("");
  enabled->click();
  EXPECT_FALSE(enabled->isChecked());
  EXPECT_TRUE(dialogs_.errors.isEmpty());
}

TEST_F(MainWindow, TheStoredPortOpensOnlyWhenItWasSwitchedOn) {
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  const QByteArray port = QByteArray::fromStdString(pty.Path().substr(5));
  sys_.AddUart("ttyS0", 4);  // listed first: never taken in place of the stored port
  for (const bool on : {false, true}) {
    const QByteArray settings = "[Main]\nPort=" + port + "\nPortEnable=" + (on ? "1" : "0") + "\n";
    PutSettings(settings);
    TfmMain& form = Start();
    EXPECT_EQ(form.Port().Opened(), on);
    auto* ports = Find<QComboBox>(form, "cbPorts");
    EXPECT_EQ(ports->currentText(), QString(port));
    // Starting stores nothing.
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), settings);
    if (!on) {
      // The next switch-on opens the stored port.
      Find<QCheckBox>(form, "chkEnabled")->click();
      EXPECT_TRUE(form.Port().Opened());
      EXPECT_EQ(form.Port().Port(), QString(port));
    }
    form_.reset();
  }
}

TEST_F(MainWindow, HidingTheActivePagesTabKeepsTheEditorOnTheShownPage) {
  PutProfile("shop", kShopProfile);
  const QByteArray settings = "[Main]\nProfile=shop\nActivePageN=3\nTabVisEM=0\n";
  PutSettings(settings);
  TfmMain& form = Start();
  auto* pages = Find<QTabWidget>(form, "PageControl1");
  auto* name = Find<QLineEdit>(form, "edtName");
  // The EM page's tab is hidden: another page is shown, and the editor shows
  // its (standard, none chosen) format, read-only, not the EM format.
  EXPECT_NE(pages->currentIndex(), cft_Emm);
  EXPECT_TRUE(pages->isTabVisible(pages->currentIndex()));
  EXPECT_NE(name->text(), "Own EM");
  EXPECT_TRUE(name->isReadOnly());
  {
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), settings);  // the page Qt chose is not stored
  }

  // From the page menu: the MUL page (own format) is shown, its tab hidden.
  pages->setCurrentIndex(cft_MUL);  // the user's choice, stored
  EXPECT_EQ(name->text(), "Own UL");
  TAppConfig stored;
  stored.SetFileName(SettingsPath());
  EXPECT_EQ(stored.GetActivePageN(), int(cft_MUL));
  QAction* item = form.findChild<QAction*>("miTabMUL");
  ASSERT_NE(item, nullptr);
  item->trigger();
  EXPECT_FALSE(pages->isTabVisible(cft_MUL));
  EXPECT_FALSE(stored.GetTabVisMUL());
  EXPECT_EQ(stored.GetActivePageN(), int(cft_MUL));  // only the tab's setting changed
  EXPECT_NE(name->text(), "Own UL");
  EXPECT_TRUE(name->isReadOnly());
}

TEST_F(MainWindow, TransferMethodChoiceIsStoredAtOnce) {
  TfmMain& form = Start();
  const auto radios = Find<QGroupBox>(form, "rgTranMethod")->findChildren<QRadioButton*>();
  ASSERT_EQ(radios.size(), 2);
  radios[1]->click();
  EXPECT_EQ(form.Pipeline().TransMethod(), tm_Clipboard);
  TAppConfig stored;
  stored.SetFileName(SettingsPath());
  EXPECT_EQ(stored.GetTransMethod(), 1);
}

TEST_F(MainWindow, ClosingNeverEndsTheProgram) {
  TfmMain& form = Start();
  ASSERT_TRUE(form.isVisible());
  QCloseEvent close;
  QCoreApplication::sendEvent(&form, &close);
  EXPECT_FALSE(close.isAccepted());
  // Without a tray the window is minimised, never hidden where it could not
  // be reached again.
  EXPECT_TRUE(form.isMinimized() || !form.isVisible());
  EXPECT_EQ(form.isVisible(), !QSystemTrayIcon::isSystemTrayAvailable());
}

TEST_F(MainWindow, TheShippedRussianFileTranslatesTheWindowAndBack) {
  TfmMain& form = Start();
  const int ru = FindLangIndex(form.Langs(), 0x419);
  ASSERT_GE(ru, 0);
  // Every key of the file addresses a text of the window.
  const TIniFile file(MakeLangPath(form.Langs()[ru].sFileName));
  const QList<QObject*> forms{&form};
  const QList<TIniFile::KeyValue> keys = file.ReadSectionValues("Forms");
  EXPECT_GE(keys.size(), 40);
  for (const auto& [key, value] : keys)  // the dialogs' keys are their own tests' concern
    EXPECT_TRUE(!key.startsWith("TfmMain-") || ResolveFormKey(forms, key)) << "addresses nothing: " << key.toStdString();

  auto* apply = Find<QPushButton>(form, "btnApplyFmt");
  auto* defCmt = Find<QComboBox>(form, "cbDefCmt");
  defCmt->setCurrentIndex(2);
  form.SetLang(ru);
  EXPECT_EQ(apply->text(), QString::fromUtf8("Применить"));
  EXPECT_EQ(Find<QGroupBox>(form, "rgTranMethod")->findChildren<QRadioButton*>()[0]->text(),
            QString::fromUtf8("Имитация набора"));
  EXPECT_EQ(defCmt->currentIndex(), 2);  // the default-format choice stays
  EXPECT_EQ(Find<QComboBox>(form, "cbHidFmt")->count(), 21);  // the standard formats again
  EXPECT_EQ(ComboItems(*defCmt), QString::fromUtf8("нет|Mifare UL,DF|Mifare 1K/4K|HID|Em-Marine|iCode|Эксклюзив"));
  // Qt's own texts (the buttons of the message boxes) follow the language.
  EXPECT_EQ(StandardButtonTexts(), QString::fromUtf8("OK|&Да|&Нет|Отмена"));
  // Excluded: the lists and the editor keep what the program put there.
  form.SetLang(-1);
  EXPECT_EQ(apply->text(), "Apply");
  EXPECT_EQ(ComboItems(*defCmt), "none|Mifare UL,DF|Mifare 1K/4K|HID|Em-Marine|iCode|Exclusive");
  EXPECT_EQ(StandardButtonTexts(), "OK|&Yes|&No|Cancel");
}

TEST_F(MainWindow, AStoredLanguageTranslatesQtsOwnTextsFromTheStart) {
  PutSettings("[Main]\nlang=1049\n");
  Start();
  EXPECT_EQ(StandardButtonTexts(), QString::fromUtf8("OK|&Да|&Нет|Отмена"));
  form_.reset();  // the window takes its translation with it
  EXPECT_EQ(StandardButtonTexts(), "OK|&Yes|&No|Cancel");
}

TEST_F(MainWindow, EveryTextShowsWholeInEveryShippedLanguageAtTheWindowsSize) {
  TfmMain& form = Start();
  const int ru = FindLangIndex(form.Langs(), 0x419);
  ASSERT_GE(ru, 0);
  // Back to English too: the layout follows the texts both ways.
  auto* pages = Find<QTabWidget>(form, "PageControl1");
  // The tabs wrap onto rows of their own.
  const TabRectOf drawnAt = [](const QTabBar& ABar, int AIndex) {
    const auto* rows = dynamic_cast<const TPageTabBar*>(&ABar);
    return rows ? rows->RowTabRect(AIndex) : ABar.tabRect(AIndex);
  };
  for (const int lang : {-1, ru, -1}) {
    SCOPED_TRACE(lang < 0 ? "built-in language" : "Russian");
    form.SetLang(lang);
    EXPECT_EQ(form.size(), QSize(695, 334));
    for (int page = 0; page < pages->count(); ++page) {
      SCOPED_TRACE(page);
      pages->setCurrentIndex(page);
      EXPECT_EQ(TextsCut(form, drawnAt), QStringList());
    }
  }
}

TEST_F(MainWindow, TheTabsWrapIntoRowsAndAClickedTabsRowComesNextToThePages) {
  PutSettings("[Main]\nActivePageN=0\n");
  TfmMain& form = Start();
  auto* pages = Find<QTabWidget>(form, "PageControl1");
  auto* bar = dynamic_cast<TPageTabBar*>(pages->tabBar());
  ASSERT_NE(bar, nullptr);
  // Six tabs do not fit into one row of the panel.
  ASSERT_EQ(bar->RowCount(), 2);
  const int bottomRow = bar->height() - bar->RowTabRect(0).height();
  EXPECT_EQ(bar->RowTabRect(cft_MUL).top(), bottomRow);
  const QRect exclusive = bar->RowTabRect(cft_Ex);
  ASSERT_LT(exclusive.top(), bottomRow);  // the other row, above

  const QPointF at(exclusive.center());
  QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(bar, &press);
  EXPECT_EQ(pages->currentIndex(), cft_Ex);
  EXPECT_EQ(Find<QLineEdit>(form, "edtName")->text(), Find<QComboBox>(form, "cbExFmt")->currentText());
  EXPECT_EQ(bar->RowTabRect(cft_Ex).top(), bottomRow);
  EXPECT_LT(bar->RowTabRect(cft_MUL).top(), bottomRow);
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "ActivePageN", ""), "5");

  // With tabs hidden the rest fits into one row, and the editor below takes
  // the room.
  const int hintHeight = Find<QPlainTextEdit>(form, "edtHint")->height();
  const QStringList tabItems{"miTabMUL", "miTabM1K", "miTabHID", "miTabEm", "miTabIC", "miTabEx"};
  for (const TCvtFmtType hidden : {cft_M1K, cft_Emm, cft_iCode}) form.findChild<QAction*>(tabItems[hidden])->trigger();
  EXPECT_EQ(bar->RowCount(), 1);
  EXPECT_GT(Find<QPlainTextEdit>(form, "edtHint")->height(), hintHeight);
  EXPECT_EQ(TextsCut(form, [](const QTabBar& ABar, int AIndex) {
              return static_cast<const TPageTabBar&>(ABar).RowTabRect(AIndex);
            }),
            QStringList());
}

// ---- the tray menu's format submenus ----------------------------------------

// What a submenu offers: the captions and names of its format items and the
// checked one (the hidden placeholder left out).
struct SubmenuItems {
  QStringList captions, names;
  QString checked;
};
SubmenuItems ItemsOf(const QMenu* AMenu) {
  SubmenuItems r;
  const QList<QAction*> items = AMenu->actions();
  for (qsizetype i = 1; i < items.size(); ++i) {
    r.captions << items[i]->text();
    r.names << items[i]->objectName();
    if (items[i]->isChecked()) r.checked = items[i]->text();
  }
  return r;
}

void PopUpTray(TfmMain& AForm) { Q_EMIT AForm.TrayIcon()->contextMenu()->aboutToShow(); }

const QByteArray kTrayProfile =
    "[MUL.1]\nname=Own UL\nhint=first\ntemplate=%.2X\nreplaces=b0\n"
    "[MUL.4]\nname=R&D\nhint=\ntemplate=%u\nreplaces=w0\n"
    "[Main]\nCurMULFmt=own ul\nCurMULFmtStd=0\n";

TEST_F(MainWindow, TheFirstTrayPopupBuildsEveryFormatSubmenu) {
  PutProfile("shop", kTrayProfile);
  PutSettings("[Main]\nProfile=shop\nStdHidFormat=1\nHidFormat=x\n");
  TfmMain& form = Start();
  EXPECT_EQ(form.MenuInitFlags(), 0u);
  form.SetCurHidFmt(form.StdProfile().GetFmtList(cft_Hid).Items(2)->m_sName, true, false);
  PopUpTray(form);
  EXPECT_EQ(form.MenuInitFlags(), 0x1FBFu);  // bits 0..5 and 7..12

  const SubmenuItems stdHid = ItemsOf(form.FmtSubmenu(cft_Hid, true));
  const TUIntKeyObjectList& hid = form.StdProfile().GetFmtList(cft_Hid);
  ASSERT_EQ(stdHid.captions.size(), hid.Count());
  EXPECT_EQ(stdHid.names[0], QStringLiteral("shid%1").arg(hid.Items(0)->m_nFmtId));
  EXPECT_EQ(stdHid.checked, hid.Items(2)->m_sName);
  // The class is on its own formats: its standard submenu checks nothing.
  EXPECT_TRUE(ItemsOf(form.FmtSubmenu(cft_MUL, true)).checked.isEmpty());

  const SubmenuItems ownMul = ItemsOf(form.FmtSubmenu(cft_MUL, false));
  EXPECT_EQ(ownMul.captions, QStringList({"Own UL", "R&&D"}));  // shown as "R&D"
  EXPECT_EQ(ownMul.names, QStringList({"umul1", "umul4"}));
  EXPECT_EQ(ownMul.checked, "Own UL");
  EXPECT_TRUE(form.FmtSubmenu(cft_MUL, false)->isEnabled());
  // No formats of a kind: that submenu is there, disabled.
  EXPECT_FALSE(form.FmtSubmenu(cft_Hid, false)->isEnabled());
  EXPECT_TRUE(ItemsOf(form.FmtSubmenu(cft_Hid, false)).captions.isEmpty());
}

TEST_F(MainWindow, PickingFromTheTrayMovesTheClassAndStoresTheFormatWithItsStandardFlag) {
  PutSettings("[Main]\nMULFormat=mine\nStdMULFormat=0\n");
  TfmMain& form = Start();
  PopUpTray(form);
  QMenu* stdMul = form.FmtSubmenu(cft_MUL, true);
  const TCvtFmt* wanted = form.StdProfile().GetFmtList(cft_MUL).Items(1);
  QAction* item = stdMul->actions()[2];
  item->trigger();
  EXPECT_TRUE(form.UsrProfile().GetCurFmtStd(cft_MUL));
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), wanted->m_sName);
  EXPECT_TRUE(Find<QCheckBox>(form, "chkMULFmtStd")->isChecked());
  EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->currentText(), wanted->m_sName);
  const TIniFile stored(SettingsPath());
  // The name goes with the flag: "mine" looked up among the standard
  // formats at the next start would find nothing.
  EXPECT_EQ(stored.ReadString("Main", "StdMULFormat", ""), "1");
  EXPECT_EQ(stored.ReadString("Main", "MULFormat", ""), wanted->m_sName);

  // The item already checked loses its mark; nothing else changes.
  item->trigger();
  EXPECT_FALSE(item->isChecked());
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), wanted->m_sName);
  EXPECT_TRUE(form.UsrProfile().GetCurFmtStd(cft_MUL));
}

// One card of each class, and its text by the last standard format of the
// class (the highest id): worked out by hand from the formats' definitions.
// wXY is bY * 256 + bX.
struct ClassCard {
  const char* list;
  const char* line;
  const char* text;
};
const ClassCard kLastStdFormatCards[kCvtFmtTypeCount] = {
    // "16 hex digits b6..b0 + CRC-8": %.2X x 8 | b6 .. b0 bX (X = 40).
    {"cbMULFmt", "Mifare[04A1B2C3D4E5F6] (UL)\r\n", "F6E5D4C3B2A10440"},
    // "3+5 digits b2,b1b0": %.3U\#44%.5U | b2 w01 (3C, 2B1A).
    {"cbM1kFmt", "Mifare[1A2B3C4D] (1K)\r\n", "060,11034"},
    // "Hex bit-reversed b4b5 + 6C001A": %.4X6C001A | AD1 (3039 reversed).
    {"cbHidFmt", "HID[1A2B3C4D] 12345\r\n", "9C0C6C001A"},
    // "3+5 digits b2,b3b4": %.3U,%.5U | b2 w43 (12, CDEF).
    {"cbEmFmt", "Em-Marine[00AB12CDEF] 18,52719\r\n", "018,52719"},
    // "3+5 digits b5 b6b7": %.3U%.5U | b5 w76 (34, 5678).
    {"cbICFmt", "iCode[E004010012345678]\r\n", "05222136"},
    // "basic", read from the end.
    {"cbExFmt", "[0102030405060708]\r\n", "08 07 06 05 04 03\r"},
};

TEST_F(MainWindow, AStandardFormatPickedInAListIsTheOneAfterARestart) {
  // A fresh home: every page comes up on the standard formats.
  PutSettings("[Main]\nTransMethod=1\n");
  {
    TfmMain& form = Start();
    for (const ClassCard& c : kLastStdFormatCards) {
      auto* list = Find<QComboBox>(form, c.list);
      list->setFocus();
      PressKey(list, Qt::Key_End, QString());
      ASSERT_EQ(list->currentIndex(), list->count() - 1) << c.list;
    }
  }
  form_.reset();  // Exit

  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  Start({"-p" + QString::fromStdString(pty.Path().substr(5))});
  ASSERT_TRUE(form_->Port().Opened());
  for (const ClassCard& c : kLastStdFormatCards) {
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(pty.Send(c.line));
    EXPECT_TRUE(WaitFor([&] { return QGuiApplication::clipboard()->text() == c.text; }))
        << c.list << ": \"" << QGuiApplication::clipboard()->text().toStdString() << "\"";
  }
}

TEST_F(MainWindow, ANameWithAnAmpersandIsPickedUnderItsOwnName) {
  PutProfile("shop", kTrayProfile);
  PutSettings("[Main]\nProfile=shop\n");
  TfmMain& form = Start();
  PopUpTray(form);
  form.FmtSubmenu(cft_MUL, false)->actions()[2]->trigger();
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), "R&D");
  EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->currentText(), "R&D");
}

TEST_F(MainWindow, OnlyClearedSubmenusAreBuiltAgain) {
  PutProfile("shop", kTrayProfile);
  PutProfile("other", "[MUL.2]\nname=Other UL\nhint=\ntemplate=%u\nreplaces=w0\n");
  PutSettings("[Main]\nProfile=shop\n");
  TfmMain& form = Start();
  PopUpTray(form);
  QMenu* stdMul = form.FmtSubmenu(cft_MUL, true);
  const QString firstStd = form.StdProfile().GetFmtList(cft_MUL).Items(0)->m_sName;
  stdMul->actions()[1]->trigger();
  // A change made elsewhere leaves the standard submenu as it was.
  form.SetCurMULFmt(form.StdProfile().GetFmtList(cft_MUL).Items(3)->m_sName, true, false);
  form.SetCurUsrProfile("other", false);
  EXPECT_EQ(form.MenuInitFlags(), 0x3Fu);  // the six custom bits cleared
  PopUpTray(form);
  EXPECT_EQ(ItemsOf(stdMul).checked, firstStd);
  EXPECT_EQ(ItemsOf(form.FmtSubmenu(cft_MUL, false)).captions, QStringList({"Other UL"}));
}

TEST_F(MainWindow, ARightClickOnAnInputControlLeavesTheWindowMenuClosed) {
  TfmMain& form = Start();
  QMenu* menu = Find<QMenu>(form, "menuContext");
  auto requestAt = [&](QWidget* AWidget) {
    Q_EMIT form.customContextMenuRequested(AWidget->mapTo(&form, AWidget->rect().center()));
  };
  const struct {
    const char* control;
    bool windowMenu;
  } cases[] = {{"edtName", false}, {"cbPorts", false}, {"labMenu", true}, {"grMain", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    requestAt(Find<QWidget>(form, c.control));
    EXPECT_EQ(menu->isVisible(), c.windowMenu);
    menu->hide();
  }
}

TEST_F(MainWindow, TheProfileListShowsProfileFilesAndPickingOneAgainOnlyStoresIt) {
  PutProfile("shop", kShopProfile);
  PutProfile("a", "");
  PutProfile("", "");  // ".ini": no name
  PutFile(home_.filePath("Sorvex/profiles/Upper.INI"), "");  // opened as "Upper.ini": none
  PutSettings("[Main]\nProfile=shop\n");
  TfmMain& form = Start();
  auto* list = Find<QComboBox>(form, "cbUsrProfile");
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->itemText(i);
  EXPECT_EQ(names, QStringList({"a", "shop"}));

  // The current one picked again: nothing is reloaded, the setting is stored.
  PutSettings("[Main]\nProfile=elsewhere\n");
  form.UsrProfile().SetCurFmtName(cft_MUL, "Reversed");  // would be undone by a reload
  list->setCurrentIndex(list->findText("shop"));
  Q_EMIT list->activated(list->currentIndex());
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), "Reversed");
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "Profile", ""), "shop");
}

TEST_F(MainWindow, AProfilePickedAgainAfterAFailedSwitchIsOpened) {
  PutProfile("shop", kShopProfile);
  PutProfile("gone", kShopProfile);
  PutSettings("[Main]\nProfile=shop\n");
  TfmMain& form = Start();
  auto* list = Find<QComboBox>(form, "cbUsrProfile");
  ASSERT_TRUE(QFile::remove(home_.filePath("Sorvex/profiles/gone.ini")));
  for (const char* name : {"gone", "shop"}) {
    list->setCurrentIndex(list->findText(name));
    Q_EMIT list->activated(list->currentIndex());
  }
  EXPECT_TRUE(form.UsrProfile().Opened());
  EXPECT_EQ(form.UsrProfile().ProfileName(), "shop");
  EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->currentText(), "Own UL");
}

TEST_F(MainWindow, TickingStandardWithAProfileOpenStoresTheClassSetting) {
  PutProfile("shop", kShopProfile);
  PutSettings("[Main]\nProfile=shop\n");
  TfmMain& form = Start();
  ASSERT_TRUE(form.UsrProfile().Opened());
  Find<QCheckBox>(form, "chkMULFmtStd")->click();
  EXPECT_TRUE(form.UsrProfile().GetCurFmtStd(cft_MUL));
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "StdMULFormat", ""), "1");
}

TEST_F(MainWindow, ChoosingTheLoadedLanguageAgainReloadsItAndKeepsTheChoices) {
  TfmMain& form = Start();
  const int ru = FindLangIndex(form.Langs(), 0x419);
  ASSERT_GE(ru, 0);
  QAction* item = Find<QAction>(form, QStringLiteral("miLang%1").arg(ru).toLatin1().constData());
  item->trigger();
  auto* defCmt = Find<QComboBox>(form, "cbDefCmt");
  defCmt->setCurrentIndex(3);
  auto* pages = Find<QTabWidget>(form, "PageControl1");
  pages->setCurrentIndex(cft_Hid);
  auto* hid = Find<QComboBox>(form, "cbHidFmt");
  hid->setCurrentIndex(2);
  Q_EMIT hid->activated(2);
  const QString shown = Find<QLineEdit>(form, "edtName")->text();
  ASSERT_FALSE(shown.isEmpty());
  Find<QLineEdit>(form, "edtName")->setText("scribbled");  // read-only for the user; shown again
  item->trigger();
  EXPECT_TRUE(form.Language().Loaded());
  EXPECT_EQ(defCmt->currentIndex(), 3);
  EXPECT_EQ(hid->count(), form.StdProfile().GetFmtList(cft_Hid).Count());
  EXPECT_EQ(hid->currentIndex(), 2);
  EXPECT_EQ(Find<QLineEdit>(form, "edtName")->text(), shown);
}

// ---- deleting profiles ------------------------------------------------------------

TEST_F(MainWindow, DeletingTheOpenProfileAsksAndOnlyYesDeletesIt) {
  const struct {
    IAppDialogs::TAnswer answer;
    bool byBackspace;
    bool deleted;
  } cases[] = {
      {IAppDialogs::ansYes, false, true},    {IAppDialogs::ansNo, false, false},
      {IAppDialogs::ansCancel, false, false}, {IAppDialogs::ansYes, true, true},
      {IAppDialogs::ansNo, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "answer " << c.answer << (c.byBackspace ? " by Backspace" : " by button"));
    PutProfile("shop", kShopProfile);
    PutProfile("other", "");
    PutSettings("[Main]\nProfile=shop\n");
    dialogs_ = RecordingDialogs();
    dialogs_.answer = c.answer;
    TfmMain& form = Start();
    auto* list = Find<QComboBox>(form, "cbUsrProfile");
    ASSERT_EQ(list->currentText(), "shop");
    if (c.byBackspace) {
      PressKey(list, Qt::Key_Backspace, "\b");
    } else {
      Find<QToolButton>(form, "btnDelProfile")->click();
    }
    EXPECT_EQ(dialogs_.questions, QStringList({"Delete profile \"shop\"?"}));
    const QString file = home_.filePath("Sorvex/profiles/shop.ini");
    EXPECT_EQ(QFile::exists(file), !c.deleted);
    EXPECT_EQ(form.UsrProfile().Opened(), !c.deleted);
    EXPECT_EQ(list->findText("shop") < 0, c.deleted);
    EXPECT_EQ(list->currentIndex() < 0, c.deleted);
    // Its formats stay in memory until another profile is chosen.
    EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->currentText(), "Own UL");
    EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "Profile", ""), "shop");
    EXPECT_TRUE(dialogs_.errors.isEmpty());
    form_.reset();
  }
}

TEST_F(MainWindow, AProfileFileThatCannotBeDeletedIsReportedAndStaysListed) {
  PutProfile("shop", kShopProfile);
  PutSettings("[Main]\nProfile=shop\n");
  dialogs_.answer = IAppDialogs::ansYes;
  TfmMain& form = Start();
  // A folder where the file was cannot be removed as a file, not even by root.
  const QString file = home_.filePath("Sorvex/profiles/shop.ini");
  ASSERT_TRUE(QFile::remove(file));
  ASSERT_TRUE(QDir().mkpath(file + "/inside"));
  Find<QToolButton>(form, "btnDelProfile")->click();
  EXPECT_EQ(dialogs_.errors, QStringList({"Failed to delete profile shop."}));
  EXPECT_FALSE(form.UsrProfile().Opened());
  EXPECT_EQ(Find<QComboBox>(form, "cbUsrProfile")->currentText(), "shop");
}

TEST_F(MainWindow, DeletingWithNoFileOpenEmptiesTheFormatsWithoutAsking) {
  PutProfile("shop", kShopProfile);
  PutProfile("gone", kShopProfile);
  PutSettings("[Main]\nProfile=shop\n");
  TfmMain& form = Start();
  PopUpTray(form);
  // Chosen in the list after its file went: nothing is open, the name shows.
  ASSERT_TRUE(QFile::remove(home_.filePath("Sorvex/profiles/gone.ini")));
  auto* list = Find<QComboBox>(form, "cbUsrProfile");
  list->setCurrentIndex(list->findText("gone"));
  Q_EMIT list->activated(list->currentIndex());  // as the user picks it
  ASSERT_FALSE(form.UsrProfile().Opened());
  ASSERT_EQ(list->currentText(), "gone");
  Find<QToolButton>(form, "btnDelProfile")->click();
  EXPECT_TRUE(dialogs_.questions.isEmpty());
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    EXPECT_FALSE(form.UsrProfile().GetCurFmtStd(TCvtFmtType(c))) << c;
    EXPECT_EQ(form.UsrProfile().GetFmtList(TCvtFmtType(c)).Count(), 0) << c;
  }
  EXPECT_FALSE(Find<QCheckBox>(form, "chkMULFmtStd")->isChecked());
  EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->count(), 0);
  EXPECT_EQ(form.MenuInitFlags(), 0x3Fu);  // the custom submenus are built again
}

// ---- the window's actions ------------------------------------------------------

TEST_F(MainWindow, TheToggleActionsFlipTheirStateAndStoreItAtOnce) {
  TfmMain& form = Start();
  const struct {
    const char* action;
    std::function<bool(TfmMain&)> state;
    std::function<bool(TAppConfig&)> stored;
  } cases[] = {
      {"actTopMost", [](TfmMain& f) { return f.TopMost() && bool(f.windowFlags() & Qt::WindowStaysOnTopHint); },
       [](TAppConfig& c) { return c.GetTopMost(); }},
      {"actOnlyOneInstance", [](TfmMain& f) { return f.findChild<QAction*>("actOnlyOneInstance")->isChecked(); },
       [](TAppConfig& c) { return c.GetSingleInstance(); }},
      {"actShowTransFmtPar", [](TfmMain& f) { return f.Pipeline().ShowTransFmtPar(); },
       [](TAppConfig& c) { return c.GetTransFmtPar(); }},
      {"actTransLog", [](TfmMain& f) { return f.Pipeline().TransLog(); },
       [](TAppConfig& c) { return c.GetTransLog(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    QAction* action = Find<QAction>(form, c.action);
    ASSERT_NE(action, nullptr);
    for (const bool expected : {true, false}) {
      action->trigger();
      TAppConfig stored;
      stored.SetFileName(SettingsPath());
      EXPECT_EQ(c.state(form), expected);
      EXPECT_EQ(action->isChecked(), expected);
      EXPECT_EQ(c.stored(stored), expected);
    }
  }
  // The top-most window stays in view.
  EXPECT_TRUE(form.isVisible());
}

TEST_F(MainWindow, AutorunWritesTheEntryOnlyWhenItDiffersAndFollowsIt) {
  TfmMain& form = Start();
  QAction* autorun = Find<QAction>(form, "actAutorun");
  const QString entry = AutorunFilePath();
  ASSERT_FALSE(QFile::exists(entry));
  autorun->trigger();
  EXPECT_TRUE(QFile::exists(entry));
  EXPECT_TRUE(autorun->isChecked());
  autorun->trigger();
  EXPECT_FALSE(QFile::exists(entry));
  EXPECT_FALSE(autorun->isChecked());

  // Made from outside while the window thinks it is off: asking for it
  // leaves the entry alone, and the mark now shows it, so the next click
  // can take it away.
  ASSERT_TRUE(SetAutorun(true));
  PutFile(entry, "[Desktop Entry]\nExec=made by hand\n");
  autorun->trigger();
  QFile kept(entry);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_TRUE(kept.readAll().contains("made by hand"));
  EXPECT_TRUE(autorun->isChecked());
  autorun->trigger();
  EXPECT_FALSE(QFile::exists(entry));
}

TEST_F(MainWindow, TheBuiltInLanguageItemSwitchesBackAndIsStored) {
  TfmMain& form = Start();
  const int ru = FindLangIndex(form.Langs(), 0x419);
  ASSERT_GE(ru, 0);
  Find<QAction>(form, QStringLiteral("miLang%1").arg(ru).toLatin1().constData())->trigger();
  EXPECT_TRUE(form.Language().Loaded());
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "lang", ""), "1049");
  Find<QAction>(form, "miLangDefault")->trigger();
  EXPECT_FALSE(form.Language().Loaded());
  EXPECT_EQ(Find<QPushButton>(form, "btnApplyFmt")->text(), "Apply");
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "lang", ""), "0");
  EXPECT_EQ(Find<QComboBox>(form, "cbHidFmt")->count(), 21);
}

// ---- the dialogs the window opens ---------------------------------------------

// Runs AAct on the next modal dialog of class T once it is up, as a user would.
template <class T>
void WhenModal(std::function<void(T&)> AAct) {
  QTimer::singleShot(0, [AAct] {
    auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr) << "no " << T::staticMetaObject.className() << " came up";
    AAct(*dlg);
  });
}

QByteArray FileBytes(const QString& APath) {
  QFile f(APath);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST_F(MainWindow, TheSettingsDialogAppliesAndStoresItsChoicesOnlyOnOk) {
  PutSettings("[Main]\nLogDir=/var/log/Cards\nPressKeyDelay=5\n");
  TfmMain& form = Start();
  const QByteArray before = FileBytes(SettingsPath());

  // Cancelled after changing everything: nothing applies.
  WhenModal<TfmSettingsDlg>([](TfmSettingsDlg& d) {
    for (const char* box : {"chkAutorun", "chkAlwaysOnTop", "chkOneInstance", "chkTransLog"})
      Find<QCheckBox>(d, box)->click();
    Find<QPushButton>(d, "btnCancel")->click();
  });
  Find<QAction>(form, "actSettings")->trigger();
  EXPECT_EQ(FileBytes(SettingsPath()), before);
  EXPECT_FALSE(QFile::exists(AutorunFilePath()));
  EXPECT_FALSE(form.TopMost());

  // OK: the window follows and one write stores it all. A change of letter
  // case alone is a change of folder.
  WhenModal<TfmSettingsDlg>([](TfmSettingsDlg& d) {
    for (const char* box : {"chkAutorun", "chkAlwaysOnTop", "chkTransLog", "chkAltWorkPort"})
      Find<QCheckBox>(d, box)->click();
    Find<QLineEdit>(d, "edtLogDir")->setText("/var/log/cards");
    Find<QSpinBox>(d, "edtReleaseKeyDelay")->setValue(7);
    Find<QPushButton>(d, "btnOk")->click();
  });
  Find<QAction>(form, "actSettings")->trigger();
  EXPECT_TRUE(QFile::exists(AutorunFilePath()));
  EXPECT_TRUE(form.TopMost());
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(form.Pipeline().TransLog());
  EXPECT_TRUE(form.Port().AltWorkPort());
  TAppConfig stored;
  stored.SetFileName(SettingsPath());
  EXPECT_TRUE(stored.GetTopMost());
  EXPECT_TRUE(stored.GetTransLog());
  EXPECT_TRUE(stored.GetAltWorkPort());
  EXPECT_EQ(stored.GetLogDir(), "/var/log/cards");
  EXPECT_EQ(stored.GetPressKeyDelay(), 5u);
  EXPECT_EQ(stored.GetReleaseKeyDelay(), 7u);
  // The same state as the menu's own switch gives.
  Find<QAction>(form, "actTopMost")->trigger();
  EXPECT_FALSE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  stored.SetFileName(SettingsPath());
  EXPECT_FALSE(stored.GetTopMost());
}

TEST_F(MainWindow, ANewProfileBecomesCurrentAndListedWithoutChangingTheStoredOne) {
  PutProfile("shop", kTrayProfile);
  PutSettings("[Main]\nProfile=shop\n");
  TfmMain& form = Start();
  PopUpTray(form);
  WhenModal<TfmNewProfile>([](TfmNewProfile& d) {
    Find<QComboBox>(d, "cbName")->setEditText("kiosk");
    Find<QCheckBox>(d, "chkCopy")->setChecked(true);
    Find<QPushButton>(d, "btnOK")->click();
  });
  Find<QToolButton>(form, "btnNewProfile")->click();
  EXPECT_TRUE(QFile::exists(home_.filePath("Sorvex/profiles/kiosk.ini")));
  EXPECT_TRUE(form.UsrProfile().Opened());
  EXPECT_EQ(form.UsrProfile().ProfileName(), "kiosk");
  auto* list = Find<QComboBox>(form, "cbUsrProfile");
  EXPECT_EQ(list->currentText(), "kiosk");
  EXPECT_GE(list->findText("shop"), 0);
  EXPECT_EQ(form.MenuInitFlags(), 0x3Fu);
  EXPECT_EQ(Find<QComboBox>(form, "cbMULFmt")->currentText(), "Own UL");  // copied
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "Profile", ""), "shop");

  // Cancelled: nothing changes.
  WhenModal<TfmNewProfile>([](TfmNewProfile& d) { d.reject(); });
  Find<QToolButton>(form, "btnNewProfile")->click();
  EXPECT_EQ(form.UsrProfile().ProfileName(), "kiosk");
  EXPECT_EQ(list->count(), 2);
}

TEST_F(MainWindow, TheAboutBoxOpensFromTheHelpMenu) {
  TfmMain& form = Start();
  bool shown = false;
  WhenModal<TAboutBox>([&shown](TAboutBox& d) {
    shown = true;
    Find<QPushButton>(d, "OKButton")->click();
  });
  Find<QAction>(form, "actHelpAbout")->trigger();
  EXPECT_TRUE(shown);
}

// The format editor on a profile of one's own: two MUL formats (the first
// current) and an HID one; HID and Exclusive are on own formats too.
const QByteArray kEditProfile =
    "[MUL.1]\nname=Own UL\nhint=\ntemplate=%.2X\nreplaces=b0\n"
    "[MUL.2]\nname=Reversed\nhint=\ntemplate=%.2X%.2X\nreplaces=b1 b0\n"
    "[HID.1]\nname=Own HID\nhint=\ntemplate=%u\nreplaces=AD1\n"
    "[Main]\nCurMULFmt=Own UL\nCurMULFmtStd=0\nCurHidFmt=Own HID\nCurHidFmtStd=0\nCurExFmtStd=0\n";

class FormatEditor : public MainWindow {
 protected:
  TfmMain& StartEditing(const QByteArray& AProfile = kEditProfile) {
    PutProfile("shop", AProfile);
    PutSettings("[Main]\nProfile=shop\nActivePageN=0\n");
    TfmMain& form = Start();
    EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('|').toStdString();
    name_ = Find<QLineEdit>(form, "edtName");
    hint_ = Find<QPlainTextEdit>(form, "edtHint");
    template_ = Find<QLineEdit>(form, "edtTemplate");
    replaces_ = Find<QLineEdit>(form, "edtReplaces");
    apply_ = Find<QPushButton>(form, "btnApplyFmt");
    return form;
  }
  // What the user types into the four fields.
  void Type(const QString& AName, const QString& AHint, const QString& ATempl, const QString& ARepl) {
    name_->setText(AName);
    hint_->setPlainText(AHint);
    template_->setText(ATempl);
    replaces_->setText(ARepl);
  }
  QString ProfilePath(const QString& AName = "shop") const {
    return home_.filePath("Sorvex/profiles/" + AName + ".ini");
  }
  QByteArray ProfileBytes() const {
    QFile f(ProfilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static QStringList Items(const QComboBox& AList) {
    QStringList items;
    for (int i = 0; i < AList.count(); ++i) items << AList.itemText(i);
    return items;
  }
  QLineEdit* name_ = nullptr;
  QPlainTextEdit* hint_ = nullptr;
  QLineEdit* template_ = nullptr;
  QLineEdit* replaces_ = nullptr;
  QPushButton* apply_ = nullptr;
};

TEST_F(FormatEditor, ParametersAreCheckedAgainstTheClassAndErrorsNameThePosition) {
  TfmMain& form = StartEditing();
  auto* pages = Find<QTabWidget>(form, "PageControl1");
  const struct {
    TCvtFmtType page;
    const char* templ;
    const char* repl;
    const char* error;  // empty: stored
    int caret;          // where the caret is put; -1: not looked at
  } cases[] = {
      // HID cards have 6 bytes: index 6 is beyond them; Exclusive has 16.
      {cft_Hid, "%.2X", "B6", "Syntax error parameters: number of bytes more than the maximum (position 2)", 1},
      {cft_Ex, "%.2X", "B6", "", -1},
      // The position and the caret both count in the text as typed, leading
      // blanks too: the caret lands before the faulty character.
      {cft_Hid, "%u", "  w4", "Syntax error parameters: Not true number of bytes in number (position 4)", 3},
      {cft_MUL, "%u", " b0 q1", "Syntax error parameters: the number of incorrect specifier (position 5)", 4},
      {cft_MUL, "%u", "b0 q1", "Syntax error parameters: the number of incorrect specifier (position 4)", 3},
      {cft_MUL, "%u%u", "b0 b1 b2",
       "Incorrect parameters: the number of parameters in the line pattern not match the number of parameters "
       "in the \"Parameters\".",
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.repl);
    pages->setCurrentIndex(c.page);
    auto* list = form.findChild<QComboBox*>(QStringList{"cbMULFmt", "cbM1kFmt", "cbHidFmt", "cbEmFmt", "cbICFmt",
                                                        "cbExFmt"}[c.page]);
    const QStringList before = Items(*list);
    const QByteArray file = ProfileBytes();
    dialogs_.errors.clear();
    Type("Checked", "", c.templ, c.repl);
    ASSERT_TRUE(apply_->isEnabled());
    apply_->click();
    if (*c.error) {
      EXPECT_EQ(dialogs_.errors, QStringList{c.error});
      EXPECT_EQ(ProfileBytes(), file);
      EXPECT_EQ(Items(*list), before);
      EXPECT_EQ(QApplication::focusWidget(), replaces_);
      if (c.caret >= 0) {
        EXPECT_EQ(replaces_->cursorPosition(), c.caret);
      }
      EXPECT_FALSE(replaces_->hasSelectedText());
      EXPECT_TRUE(apply_->isEnabled());  // the user mends and applies again
    } else {
      EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('|').toStdString();
      EXPECT_EQ(Items(*list), before + QStringList{"Checked"});
      const TIniFile ini(ProfilePath());
      EXPECT_EQ(ini.ReadString(CvtFmtTypeName(c.page) + ".1", "replaces", ""), c.repl);
    }
  }
}

TEST_F(FormatEditor, ApplyCreatesAFormatThenUpdatesTheSameSection) {
  TfmMain& form = StartEditing();
  auto* list = Find<QComboBox>(form, "cbMULFmt");
  auto* del = Find<QToolButton>(form, "btnDelMULFmt");
  EXPECT_EQ(name_->text(), "Own UL");
  EXPECT_FALSE(apply_->isEnabled());

  // A new name: a new format with the next id, current at once. Only this
  // class's custom tray submenu is built again.
  PopUpTray(form);
  ASSERT_EQ(form.MenuInitFlags(), 0x1FBFu);
  Type("Badge", "first\nsecond", "%.2X-%.2X", "b0 b1");
  ASSERT_TRUE(apply_->isEnabled());
  apply_->click();
  EXPECT_EQ(form.MenuInitFlags(), 0x1FBFu & ~(1u << 7));
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('|').toStdString();
  {
    const TIniFile ini(ProfilePath());
    EXPECT_EQ(ini.ReadSections(), QStringList({"MUL.1", "MUL.2", "HID.1", "Main", "MUL.3"}));
    EXPECT_EQ(ini.ReadString("MUL.3", "name", ""), "Badge");
    EXPECT_EQ(ini.ReadString("MUL.3", "hint", ""), "first\\nsecond");
    EXPECT_EQ(ini.ReadString("MUL.3", "template", ""), "%.2X-%.2X");
    EXPECT_EQ(ini.ReadString("MUL.3", "replaces", ""), "b0 b1");
  }
  EXPECT_EQ(Items(*list), QStringList({"Own UL", "Reversed", "Badge"}));
  EXPECT_EQ(list->currentText(), "Badge");
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), "Badge");
  EXPECT_FALSE(form.UsrProfile().GetCurFmtStd(cft_MUL));
  EXPECT_FALSE(apply_->isEnabled());
  EXPECT_TRUE(del->isEnabled());
  // Cards are converted by it from now on.
  bool std = true;
  const TCvtFmt* used = form.Pipeline().GetCurCvtFmt(cft_MUL, &std);
  ASSERT_NE(used, nullptr);
  EXPECT_EQ(used->m_sTemplate, "%.2X-%.2X");
  EXPECT_FALSE(std);

  // The same name again, and then in other letter case: the same section.
  template_->setText("%.2X:%.2X");
  apply_->click();
  name_->setText("BADGE");
  apply_->click();
  {
    const TIniFile ini(ProfilePath());
    EXPECT_EQ(ini.ReadSections().size(), 5);
    EXPECT_EQ(ini.ReadString("MUL.3", "name", ""), "BADGE");
    EXPECT_EQ(ini.ReadString("MUL.3", "template", ""), "%.2X:%.2X");
  }
  EXPECT_EQ(Items(*list), QStringList({"Own UL", "Reversed", "BADGE"}));

  // The name of another format of the class: that one is replaced, and it
  // is the current format from now on, as the list shows.
  Type("reversed", "", "%.4X", "w01");
  apply_->click();
  {
    const TIniFile ini(ProfilePath());
    EXPECT_EQ(ini.ReadSections().size(), 5);
    EXPECT_EQ(ini.ReadString("MUL.2", "name", ""), "reversed");
    EXPECT_EQ(ini.ReadString("MUL.2", "replaces", ""), "w01");
    EXPECT_EQ(ini.ReadString("MUL.3", "name", ""), "BADGE");
  }
  EXPECT_EQ(list->currentText(), "reversed");
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL).toLower(), "reversed");
  used = form.Pipeline().GetCurCvtFmt(cft_MUL, &std);
  ASSERT_NE(used, nullptr);
  EXPECT_EQ(used->m_sReplaces, "w01");

  // Without a name nothing can be stored: Apply stays off.
  const QByteArray file = ProfileBytes();
  template_->setText("%u");
  EXPECT_TRUE(apply_->isEnabled());
  name_->clear();
  EXPECT_FALSE(apply_->isEnabled());
  apply_->click();
  EXPECT_EQ(ProfileBytes(), file);
  EXPECT_TRUE(dialogs_.errors.isEmpty());

  // The choice reaches the file's "Main" section when the profile closes.
  form_.reset();
  const TIniFile ini(ProfilePath());
  EXPECT_EQ(ini.ReadString("Main", "CurMULFmt", "").toLower(), "reversed");
  EXPECT_EQ(ini.ReadString("Main", "CurMULFmtStd", ""), "0");
}

TEST_F(FormatEditor, DeletingRemovesTheFormatFromFileAndListAndApplyBringsItBack) {
  TfmMain& form = StartEditing();
  auto* list = Find<QComboBox>(form, "cbMULFmt");
  auto* del = Find<QToolButton>(form, "btnDelMULFmt");
  ASSERT_TRUE(del->isEnabled());

  // Deleted without a question; the class keeps its current name, which now
  // names no format, and the fields keep the deleted one so that Apply can
  // bring it back.
  del->click();
  EXPECT_TRUE(dialogs_.questions.isEmpty());
  EXPECT_EQ(TIniFile(ProfilePath()).ReadSections(), QStringList({"MUL.2", "HID.1", "Main"}));
  EXPECT_EQ(Items(*list), QStringList{"Reversed"});
  EXPECT_EQ(list->currentIndex(), -1);
  EXPECT_FALSE(del->isEnabled());
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), "Own UL");
  bool std = true;
  EXPECT_EQ(form.Pipeline().GetCurCvtFmt(cft_MUL, &std), nullptr);
  EXPECT_EQ(name_->text(), "Own UL");
  EXPECT_TRUE(apply_->isEnabled());
  apply_->click();
  EXPECT_EQ(TIniFile(ProfilePath()).ReadString("MUL.3", "name", ""), "Own UL");
  EXPECT_EQ(list->currentText(), "Own UL");

  // Picking a format with a profile open stores no setting; Backspace in
  // the list deletes the picked one.
  list->setCurrentIndex(0);
  emit list->activated(0);
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), "Reversed");
  EXPECT_EQ(name_->text(), "Reversed");
  PressKey(list, Qt::Key_Backspace, "\b");
  EXPECT_EQ(Items(*list), QStringList{"Own UL"});
  EXPECT_FALSE(TIniFile(ProfilePath()).SectionExists("MUL.2"));
  TAppConfig stored;
  stored.SetFileName(SettingsPath());
  EXPECT_TRUE(stored.GetFormat(cft_MUL).isEmpty());
  EXPECT_TRUE(dialogs_.errors.isEmpty());

  // Standard formats are read-only: nothing to edit, apply or delete.
  auto* pages = Find<QTabWidget>(form, "PageControl1");
  pages->setCurrentIndex(cft_M1K);
  auto* stdList = Find<QComboBox>(form, "cbM1kFmt");
  ASSERT_GT(stdList->count(), 0);
  stdList->setCurrentIndex(0);
  emit stdList->activated(0);
  EXPECT_FALSE(name_->text().isEmpty());
  for (QWidget* w : std::initializer_list<QWidget*>{name_, template_, replaces_})
    EXPECT_TRUE(static_cast<QLineEdit*>(w)->isReadOnly());
  EXPECT_TRUE(hint_->isReadOnly());
  template_->setText("%u");
  EXPECT_FALSE(apply_->isEnabled());
  EXPECT_FALSE(Find<QToolButton>(form, "btnDelM1kFmt")->isEnabled());
  const QByteArray now = ProfileBytes();
  PressKey(stdList, Qt::Key_Backspace, "\b");
  EXPECT_EQ(ProfileBytes(), now);
  EXPECT_EQ(stdList->count(), form.StdProfile().GetFmtList(cft_M1K).Count());
}

TEST_F(FormatEditor, AFailedWriteIsReportedAndChangesNothing) {
  const struct {
    const char* what;
    bool fileToFolder;  // else the file is gone
    const char* name;   // typed and applied; empty: the current format is deleted
    const char* error;
  } cases[] = {
      {"new format, file gone", false, "Fresh", "Failed to create a format."},
      {"update, file unreadable", true, "Own UL", "Unable to change the format."},
      {"delete, file unreadable", true, "", "Unable to remove the format \"Own UL\"."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TfmMain& form = StartEditing();
    auto* list = Find<QComboBox>(form, "cbMULFmt");
    dialogs_.answer = IAppDialogs::ansYes;
    ASSERT_TRUE(QFile::remove(ProfilePath()));
    if (c.fileToFolder) {
      ASSERT_TRUE(QDir().mkdir(ProfilePath()));
    }
    if (*c.name) {
      Type(c.name, "", "%u", "b0");
      apply_->click();
      EXPECT_TRUE(apply_->isEnabled());  // still unapplied
    } else {
      Find<QToolButton>(form, "btnDelMULFmt")->click();
    }
    EXPECT_EQ(dialogs_.errors, QStringList{c.error});
    EXPECT_EQ(Items(*list), QStringList({"Own UL", "Reversed"}));
    EXPECT_EQ(form.UsrProfile().GetFmtList(cft_MUL).Count(), 2);
    EXPECT_EQ(form.UsrProfile().GetFmtList(cft_MUL).Items(0)->m_sTemplate, "%.2X");
    form_.reset();
    if (c.fileToFolder) {
      ASSERT_TRUE(QDir().rmdir(ProfilePath()));
    }
    dialogs_.errors.clear();
  }
}

TEST_F(FormatEditor, WithoutAProfileApplyAsksForANewOne) {
  TfmMain& form = Start();
  ASSERT_FALSE(form.UsrProfile().Opened());
  auto* list = Find<QComboBox>(form, "cbMULFmt");
  auto* name = Find<QLineEdit>(form, "edtName");
  auto* apply = Find<QPushButton>(form, "btnApplyFmt");
  // Off the standard formats: the fields become editable; the choice is
  // stored as the class's setting.
  Find<QCheckBox>(form, "chkMULFmtStd")->click();
  EXPECT_FALSE(name->isReadOnly());
  EXPECT_EQ(list->count(), 0);
  TAppConfig stored;
  stored.SetFileName(SettingsPath());
  EXPECT_FALSE(stored.GetFormatStd(cft_MUL));

  name->setText("Mine");
  Find<QLineEdit>(form, "edtTemplate")->setText("%u");
  Find<QLineEdit>(form, "edtReplaces")->setText("b0");
  ASSERT_TRUE(apply->isEnabled());
  const QDir profiles(home_.filePath("Sorvex/profiles"));

  // The dialog cancelled: nothing is stored.
  int shown = 0;
  WhenModal<TfmNewProfile>([&shown](TfmNewProfile& d) {
    ++shown;
    d.reject();
  });
  apply->click();
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(profiles.entryList(QDir::Files).isEmpty());
  EXPECT_EQ(list->count(), 0);
  EXPECT_TRUE(apply->isEnabled());

  // OK: the new profile holds the format, and the window shows it.
  WhenModal<TfmNewProfile>([&shown](TfmNewProfile& d) {
    ++shown;
    Find<QComboBox>(d, "cbName")->setEditText("fresh");
    Find<QPushButton>(d, "btnOK")->click();
  });
  apply->click();
  EXPECT_EQ(shown, 2);
  EXPECT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('|').toStdString();
  ASSERT_TRUE(form.UsrProfile().Opened());
  EXPECT_EQ(TIniFile(ProfilePath("fresh")).ReadString("MUL.1", "name", ""), "Mine");
  EXPECT_EQ(Find<QComboBox>(form, "cbUsrProfile")->currentText(), "fresh");
  EXPECT_EQ(list->currentText(), "Mine");
  EXPECT_EQ(form.UsrProfile().GetCurFmtName(cft_MUL), "Mine");
  EXPECT_FALSE(apply->isEnabled());
  form_.reset();
  const TIniFile ini(ProfilePath("fresh"));
  EXPECT_EQ(ini.ReadString("Main", "CurMULFmt", ""), "Mine");
  EXPECT_EQ(ini.ReadString("Main", "CurMULFmtStd", ""), "0");
}

TEST_F(MainWindow, ThePanelButtonKeepsTheWindowInsideTheWorkAreaAndIsStored) {
  TfmMain& form = Start();
  auto* button = Find<QPushButton>(form, "btnShowFmtPan");
  auto* panel = Find<QGroupBox>(form, "grFmtPan");
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  const int right = work.x() + work.width();
  TAppConfig stored;
  stored.SetFileName(SettingsPath());
  ASSERT_TRUE(panel->isVisible());
  const int wide = form.width();

  // Hidden at the right edge: the right edge stays there.
  form.move(right - form.frameGeometry().width(), work.y() + 40);
  ASSERT_TRUE(WaitFor([&] { return form.frameGeometry().right() + 1 == right; }));
  button->click();
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(button->text(), ">>");
  EXPECT_EQ(form.width(), Find<QGroupBox>(form, "grMain")->width());
  EXPECT_TRUE(WaitFor([&] { return form.frameGeometry().right() + 1 == right; }));
  EXPECT_FALSE(stored.GetShowFmtPan());

  // Shown again there: the window moves left so that the panel fits.
  button->click();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(button->text(), "<<");
  EXPECT_EQ(form.width(), wide);
  EXPECT_TRUE(WaitFor([&] { return form.frameGeometry().right() + 1 == right; }));
  EXPECT_TRUE(stored.GetShowFmtPan());
  EXPECT_TRUE(form.FormPosChanged());

  // The panel's own button does the same; the default format is stored.
  Find<QToolButton>(form, "SpeedButton1")->click();
  EXPECT_FALSE(panel->isVisible());
  Find<QComboBox>(form, "cbDefCmt")->setCurrentIndex(5);
  EXPECT_EQ(stored.GetDefFormat(), 5);
  EXPECT_EQ(form.Pipeline().DefCmt(), 5);
}

TEST(WindowSnap, EdgesWithinTenPixelsAttract) {
  const QRect work(0, 0, 1280, 1000);
  const QSize size(700, 380);
  const struct {
    QPoint in, out;
  } cases[] = {
      {{10, 10}, {0, 0}},          // both edges, 10 inclusive
      {{11, 500}, {11, 500}},      // just outside
      {{-10, -3}, {0, 0}},         // from beyond the edge too
      {{575, 615}, {580, 620}},    // right and bottom: 1280-700, 1000-380
      {{591, 631}, {591, 631}},
      {{300, 300}, {300, 300}},
  };
  for (const auto& c : cases) EXPECT_EQ(SnapToWorkArea(c.in, size, work), c.out) << c.in.x() << "," << c.in.y();
  // A work area that does not start at 0 (a panel on the left).
  EXPECT_EQ(SnapToWorkArea({45, 100}, size, QRect(40, 30, 1240, 970)), QPoint(40, 100));
}

}  // namespace

int main(int argc, char** argv) { return RunWidgetTests(argc, argv); }
