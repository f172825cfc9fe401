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
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QLineEdit>
#include <QMap>
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

#include <algorithm>
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
  // The transfer log's text (UTF-16 little-endian), of a port in the data
  // folder or of a file; empty when there is none.
  QString LogText(const QString& AFile) const {
    QFile f(AFile);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    const QByteArray bytes = f.readAll();
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
  }
  QString PortLogText(QString APort) const {
    APort.replace('/', '_');
    return LogText(home_.filePath("Sorvex/_" + APort + ".log"));
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
}

TEST_F(MainWindow, ADeviceOnlyItsGroupMayUseIsNamedWithTheGroup) {
  // Root opens any file; the port's own tests show the words as another user.
  if (geteuid() == 0) GTEST_SKIP() << "root may open every device";
  TfmMain& form = Start({});
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
  const QString logText = PortLogText(port);
  EXPECT_TRUE(logText.endsWith("  \"04#44A1\\r\" -> \"<clipboard>\" [MUL: \"Own\"]\r\n")) << logText.toStdString();
}

// Which characters of the "Sent" field show in the marks' colour: "B" for
// a blue one, "." for any other.
QString BlueOf(const QTextEdit& AEdit) {
  QString shown;
  for (int i = 0; i < AEdit.toPlainText().size(); ++i) {
    QTextCursor c(AEdit.document());
    c.setPosition(i);
    c.setPosition(i + 1, QTextCursor::KeepAnchor);
    shown += c.charFormat().foreground().color() == QColor(0, 0, 255) ? u'B' : u'.';
  }
  return shown;
}

TEST_F(MainWindow, EachSentTextShowsOnlyItsOwnMarksInBlue) {
  PutSettings("[Main]\nTransMethod=1\n");
  PutProfile("p", "[MUL.1]\nname=Marked\nhint=\ntemplate=%.2X,%.2X\\r\nreplaces=b0 b1\n"
                  "[M1K.1]\nname=Plain\nhint=\ntemplate=%.2X%.2X\nreplaces=b0 b1\n"
                  "[Main]\nCurMULFmt=Marked\nCurMULFmtStd=0\nCurM1kFmt=Plain\nCurM1kFmtStd=0\n");
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  TfmMain& form = Start({"p", "-p" + QString::fromStdString(pty.Path().substr(5))});
  ASSERT_TRUE(form.Port().Opened());
  auto* trans = Find<QTextEdit>(form, "edtTrans");
  // The first text ends in a mark; what follows must not take its colour.
  const struct {
    const char* line;
    const char* shown;
    const char* blue;
  } cards[] = {
      {"Mifare[04A1B2] (UL)\r\n", "04#44A1\\r", "..BBB..BB"},
      {"Mifare[1A2B3C4D] (1K)\r\n", "1A2B", "...."},
      {"Mifare[10203040] (UL)\r\n", "10#4420\\r", "..BBB..BB"},
  };
  for (const auto& c : cards) {
    SCOPED_TRACE(c.line);
    trans->clear();
    ASSERT_TRUE(pty.Send(c.line));
    ASSERT_TRUE(WaitFor([&] { return !trans->toPlainText().isEmpty(); }));
    EXPECT_EQ(trans->toPlainText(), c.shown);
    EXPECT_EQ(BlueOf(*trans), c.blue);
  }
}

// What the program writes to standard error through Qt's log, caught while
// the object lives.
class CaughtWarnings {
 public:
  CaughtWarnings() : m_old(qInstallMessageHandler(&Catch)) { s_lines = &m_lines; }
  ~CaughtWarnings() {
    qInstallMessageHandler(m_old);
    s_lines = nullptr;
  }
  // The lines that begin with APrefix.
  int Count(const QString& APrefix) const {
    return int(std::count_if(m_lines.begin(), m_lines.end(), [&](const QString& l) { return l.startsWith(APrefix); }));
  }
  const QStringList& Lines() const { return m_lines; }

 private:
  static void Catch(QtMsgType, const QMessageLogContext&, const QString& AText) {
    if (s_lines) s_lines->append(AText);
  }
  static inline QStringList* s_lines = nullptr;
  QStringList m_lines;
  QtMessageHandler m_old;
};

// A problem that every card or change meets again while it lasts (the
// transfer log or the settings cannot be written) is told once, in the
// window's status line and on standard error, and the status line goes when
// the problem is over.
class ToldOnce : public MainWindow {
 protected:
  QLabel* Status(TfmMain& AForm) { return Find<QLabel>(AForm, "labStatus"); }
  // Told, and only once so far.
  void ExpectTold(TfmMain& AForm, const QString& AText) {
    QLabel* status = Status(AForm);
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isVisibleTo(&AForm));
    EXPECT_EQ(status->text(), AText);
    // The window grows for it, and the whole text shows.
    EXPECT_GE(AForm.height(), status->geometry().bottom());
    EXPECT_GE(status->height(), status->heightForWidth(status->width()));
    EXPECT_EQ(warnings_.Count("Sorvex: " + AText), 1) << warnings_.Lines().join('\n').toStdString();
  }
  // No status line, and the window is as high as its two halves again.
  void ExpectOver(TfmMain& AForm) {
    QLabel* status = Status(AForm);
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(status->isVisibleTo(&AForm));
    EXPECT_EQ(AForm.height(), Find<QGroupBox>(AForm, "grMain")->height());
  }
  CaughtWarnings warnings_;
};

TEST_F(ToldOnce, ATransferLogThatCannotBeWritten) {
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  const QString port = QString::fromStdString(pty.Path().substr(5));
  QString logName = port;
  logName.replace('/', '_');
  const QString log = home_.filePath("logs/_" + logName + ".log");
  // A folder where the file should be: no one, root included, can write it.
  ASSERT_TRUE(QDir().mkpath(log));
  PutSettings(("[Main]\nTransMethod=1\nTransLog=1\nLogDir=" + home_.filePath("logs") + "\nStdExFormat=1\nExFormat=basic\n")
                  .toUtf8());
  TfmMain& form = Start({"-p" + port});
  ASSERT_TRUE(form.Port().Opened());
  ExpectOver(form);
  auto* trans = Find<QTextEdit>(form, "edtTrans");
  auto card = [&](const char* ABytes, const QString& AShown) {
    trans->clear();
    ASSERT_TRUE(pty.Send(std::string("[") + ABytes + "]\r\n"));
    ASSERT_TRUE(WaitFor([&] { return trans->toPlainText() == AShown; })) << trans->toPlainText().toStdString();
  };
  card("0102030405060708", "08 07 06 05 04 03\\r");
  card("1112131415161718", "18 17 16 15 14 13\\r");
  ExpectTold(form, "Could not write the transfer log: " + log + ": Is a directory");

  ASSERT_TRUE(QDir().rmdir(log));
  card("2122232425262728", "28 27 26 25 24 23\\r");
  ExpectOver(form);
  EXPECT_TRUE(LogText(log).endsWith("\"28 27 26 25 24 23\\r\" -> \"<clipboard>\" [Ex: \"basic\" (std)]\r\n"));
}

TEST_F(ToldOnce, SettingsThatCannotBeSaved) {
  // Read-only: the settings are read, but not replaced, by root either.
  PutSettings("[Main]\nTransMethod=1\n");
  ASSERT_TRUE(QFile::setPermissions(SettingsPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  TfmMain& form = Start();
  const QList<QRadioButton*> items = Find<QGroupBox>(form, "rgTranMethod")->findChildren<QRadioButton*>();
  ASSERT_EQ(items.size(), 2);
  EXPECT_TRUE(items[1]->isChecked());
  // The start's own write back, then two changes: told once.
  items[0]->click();
  items[1]->click();
  QLabel* status = Status(form);
  ASSERT_NE(status, nullptr);
  ASSERT_TRUE(status->text().startsWith("Could not save the settings: " + SettingsPath() + ": "))
      << status->text().toStdString();
  ExpectTold(form, status->text());
  const int toldHeight = form.height();

  // The panel button halves the window: the status line wraps to its width.
  Find<QPushButton>(form, "btnShowFmtPan")->click();
  EXPECT_EQ(status->width(), form.width() - 16);
  EXPECT_GT(form.height(), toldHeight);
  ExpectTold(form, status->text());
  Find<QPushButton>(form, "btnShowFmtPan")->click();
  EXPECT_EQ(form.height(), toldHeight);

  ASSERT_TRUE(QFile::setPermissions(SettingsPath(), QFile::ReadOwner | QFile::WriteOwner));
  items[0]->click();
  ExpectOver(form);
  QFile f(SettingsPath());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().contains("TransMethod=0"));
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
  const QString logText = PortLogText(port);
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

// The window's hints (tool tips) are in the built-in language, English, and
// the shipped Russian file gives each its own text.
TEST_F(MainWindow, EveryHintIsEnglishAndTheRussianFileTranslatesIt) {
  TfmMain& form = Start();
  const int ru = FindLangIndex(form.Langs(), 0x419);
  ASSERT_GE(ru, 0);
  const TIniFile file(MakeLangPath(form.Langs()[ru].sFileName));
  auto cyrillic = [](const QString& AText) {
    return std::any_of(AText.begin(), AText.end(), [](QChar ch) { return ch.script() == QChar::Script_Cyrillic; });
  };
  QMap<QString, QString> english;
  for (QObject* c : OwnedComponents(&form)) {
    const auto hint = ResolveTextPath(c, "Hint", false);
    if (!hint || hint->Get().isEmpty()) continue;
    const QString key = "TfmMain-" + c->objectName() + "-Hint";
    english[key] = hint->Get();
    EXPECT_FALSE(cyrillic(hint->Get())) << key.toStdString() << ": " << hint->Get().toStdString();
    EXPECT_TRUE(cyrillic(file.ReadString("Forms", key, ""))) << "no Russian text: " << key.toStdString();
  }
  EXPECT_TRUE(english.contains("TfmMain-btnNewProfile-Hint"));
  EXPECT_TRUE(english.contains("TfmMain-btnDelProfile-Hint"));

  form.SetLang(ru);
  EXPECT_EQ(Find<QToolButton>(form, "btnNewProfile")->toolTip(),
            QString::fromUtf8("Создать новый профиль"));
  EXPECT_EQ(Find<QToolButton>(form, "btnDelProfile")->toolTip(),
            QString::fromUtf8("Удалить текущий профиль"));
  form.SetLang(-1);
  for (auto it = english.cbegin(); it != english.cend(); ++it) {
    const auto hint = ResolveFormKey({&form}, it.key());
    ASSERT_TRUE(hint) << it.key().toStdString();
    EXPECT_EQ(hint->text.Get(), it.value()) << it.key().toStdString();
  }
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

TEST_F(MainWindow, TheByteGridFillsItsPlaceAndEveryByteHasRoomInItsCell) {
  TfmMain& form = Start();
  auto* grid = Find<QTableWidget>(form, "gridBytes");
  ASSERT_TRUE(grid->isVisible());
  // The columns and the two rows cover the grid inside its frame: no empty
  // strip right of the last column or below the last row.
  EXPECT_EQ(grid->horizontalHeader()->length(), grid->viewport()->width());
  EXPECT_EQ(grid->verticalHeader()->length(), grid->viewport()->height());
  // Any byte a card shows, and the digits above, stand clear of the cell's
  // lines (each cell ends in its grid line) by a few pixels on every side.
  constexpr int kRoom = 3;
  const QFontMetrics font(grid->font());
  int widest = 0;
  for (int b = 0; b < 256; ++b)
    widest = std::max(widest, font.horizontalAdvance(QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper()));
  for (int c = 0; c < grid->columnCount(); ++c)
    EXPECT_GE(grid->columnWidth(c) - 1, widest + 2 * kRoom) << "column " << c;
  for (int r = 0; r < grid->rowCount(); ++r)
    EXPECT_GE(grid->rowHeight(r) - 1, font.height() + 2 * kRoom) << "row " << r;
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

// A pick that leaves the class's kind as it was (standard before, standard
// after) has no "Standard" box to store it: the next start must still find it,
// in the settings without a profile and in the profile's file with one.
TEST_F(MainWindow, AStandardFormatPickedFromTheTrayOnAStandardClassIsCurrentAfterARestart) {
  const struct {
    const char* what;
    bool profile;
  } cases[] = {{"fresh home, no profile", false}, {"a profile open", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(SettingsPath());
    QFile::remove(home_.filePath("Sorvex/profiles/shop.ini"));
    if (c.profile) {
      PutProfile("shop", kTrayProfile);  // HID on the standard formats, none chosen
      PutSettings("[Main]\nProfile=shop\n");
    }
    QString picked;
    {
      TfmMain& form = Start();
      ASSERT_EQ(form.UsrProfile().Opened(), c.profile);
      ASSERT_TRUE(form.UsrProfile().GetCurFmtStd(cft_Hid));
      PopUpTray(form);
      QAction* item = form.FmtSubmenu(cft_Hid, true)->actions().last();
      picked = item->text();
      item->trigger();
      ASSERT_EQ(form.UsrProfile().GetCurFmtName(cft_Hid), picked);
    }
    form_.reset();  // Exit
    const TIniFile settings(SettingsPath());
    if (c.profile) {
      // The profile holds the choice; the settings' own stays untouched.
      EXPECT_EQ(settings.ReadString("Main", "HidFormat", "<none>"), "<none>");
      EXPECT_EQ(TIniFile(home_.filePath("Sorvex/profiles/shop.ini")).ReadString("Main", "CurHidFmt", ""), picked);
    } else {
      EXPECT_EQ(settings.ReadString("Main", "HidFormat", ""), picked);
      EXPECT_EQ(settings.ReadString("Main", "StdHidFormat", ""), "1");
    }

    TfmMain& again = Start();
    EXPECT_EQ(again.UsrProfile().GetCurFmtName(cft_Hid), picked);
    EXPECT_TRUE(again.UsrProfile().GetCurFmtStd(cft_Hid));
    EXPECT_EQ(Find<QComboBox>(again, "cbHidFmt")->currentText(), picked);
    form_.reset();
  }
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

// Which menu a request opened: the window's, a control's own, or none.
enum class Opened { window, own, none };
std::ostream& operator<<(std::ostream& AOut, Opened AOpened) {
  return AOut << (AOpened == Opened::window ? "the window's menu" : AOpened == Opened::own ? "its own menu" : "no menu");
}

Opened MenuOpened(QMenu* AWindowMenu) {
  QWidget* popup = QApplication::activePopupWidget();
  Opened opened = !popup ? Opened::none : popup == AWindowMenu ? Opened::window : Opened::own;
  while ((popup = QApplication::activePopupWidget())) popup->close();
  return opened;
}

// Where the user asks for a menu with the mouse (a right click on a control
// of the window, or on its margin) or with the keyboard (the Menu key, as
// the window system hands it to the focused control, or Shift+F10), the
// control's own menu opens where it has one, else the window's; a click
// leaves an input control without a menu alone.
TEST_F(MainWindow, TheWindowsMenuOpensWhereTheControlHasNoMenuOfItsOwn) {
  TfmMain& form = Start();
  ASSERT_TRUE(WaitFor([&] { return form.isActiveWindow(); }));
  QMenu* menu = Find<QMenu>(form, "menuContext");
  enum How { click, menuKey, shiftF10 };
  const struct {
    const char* control;  // nullptr: the window's margin, or nothing focused
    How how;
    Opened opened;
  } cases[] = {
      {"edtName", click, Opened::own},          {"cbPorts", click, Opened::own},
      {"labMenu", click, Opened::window},       {nullptr, click, Opened::window},
      {"chkEnabled", click, Opened::none},      {"chkEnabled", menuKey, Opened::window},
      {"chkEnabled", shiftF10, Opened::window}, {"labMenu", menuKey, Opened::window},
      {"btnShowFmtPan", shiftF10, Opened::window}, {"edtName", menuKey, Opened::own},
      {"edtName", shiftF10, Opened::own},       {"cbPorts", menuKey, Opened::own},
      {"edtHint", shiftF10, Opened::own},       {nullptr, menuKey, Opened::window},
      {nullptr, shiftF10, Opened::window},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.control ? c.control : "-") + (c.how == click ? ", click" : c.how == menuKey ? ", Menu key" : ", Shift+F10"));
    QWidget* control = c.control ? Find<QWidget>(form, c.control) : nullptr;
    if (c.how == click) {
      // The window system gives the click to the control under the pointer.
      const QPoint at = control ? control->mapTo(&form, control->rect().center()) : QPoint(3, form.height() / 2);
      QWidget* under = form.childAt(at);
      ASSERT_NE(under, nullptr);
      QContextMenuEvent request(QContextMenuEvent::Mouse, under->mapFrom(&form, at), form.mapToGlobal(at));
      QApplication::sendEvent(under, &request);
    } else {
      if (control) {
        control->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == control; }));
      } else if (QWidget* focused = QApplication::focusWidget()) {
        focused->clearFocus();
      }
      QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &form;
      if (c.how == menuKey) {
        // As Qt hands the Menu key on: to the focused control, at its middle.
        const QPoint at = target->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        QContextMenuEvent request(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &request);
      } else {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
        QApplication::sendEvent(target, &press);
      }
    }
    EXPECT_EQ(MenuOpened(menu), c.opened);
  }
}

// The "menu" link is a stop of Tab, between the port list's button and the
// panel button, and opens the window's menu from the keyboard too.
TEST_F(MainWindow, TheMenuLinkIsReachedByTabAndOpensWithSpaceOrReturn) {
  TfmMain& form = Start();
  ASSERT_TRUE(WaitFor([&] { return form.isActiveWindow(); }));
  QMenu* menu = Find<QMenu>(form, "menuContext");
  auto* link = Find<QLabel>(form, "labMenu");
  const struct {
    Qt::Key key;
    const char* text;
  } keys[] = {{Qt::Key_Space, " "}, {Qt::Key_Return, "\r"}, {Qt::Key_Enter, "\r"}};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.key);
    Find<QWidget>(form, "btnUpdPortsList")->setFocus(Qt::TabFocusReason);
    PressKey(QApplication::focusWidget(), Qt::Key_Tab, "\t");
    ASSERT_EQ(QApplication::focusWidget(), link);
    PressKey(link, k.key, k.text);
    ASSERT_TRUE(menu->isVisible());
    // Where a click on the link opens it: below the link.
    EXPECT_EQ(menu->geometry().topLeft(), link->mapToGlobal(link->rect().bottomLeft()));
    EXPECT_EQ(MenuOpened(menu), Opened::window);
  }
  // Tab and Shift+Tab leave it at once, the menu having had the keyboard.
  PressKey(link, Qt::Key_Tab, "\t");
  EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>(form, "btnShowFmtPan"));
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
  QApplication::sendEvent(QApplication::focusWidget(), &back);
  ASSERT_EQ(QApplication::focusWidget(), link);
  QApplication::sendEvent(link, &back);
  EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>(form, "btnUpdPortsList"));
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

TEST_F(MainWindow, ANewProfileBecomesCurrentListedAndStored) {
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
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "Profile", ""), "kiosk");

  // Cancelled: nothing changes.
  WhenModal<TfmNewProfile>([](TfmNewProfile& d) { d.reject(); });
  Find<QToolButton>(form, "btnNewProfile")->click();
  EXPECT_EQ(form.UsrProfile().ProfileName(), "kiosk");
  EXPECT_EQ(list->count(), 2);
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("Main", "Profile", ""), "kiosk");
}

// A profile made in the window, by its button or by Apply without one, and
// the format of one's own applied in it: after a restart that profile is open
// and cards are converted by that format.
TEST_F(MainWindow, AProfileMadeInTheWindowIsOpenAgainAtTheNextStart) {
  const struct {
    const char* what;
    bool byButton;  // else Apply asks for the profile
  } cases[] = {{"the new-profile button", true}, {"Apply without a profile", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(SettingsPath());
    QFile::remove(home_.filePath("Sorvex/profiles/kiosk.ini"));
    PutSettings("[Main]\nTransMethod=1\n");
    {
      TfmMain& form = Start();
      ASSERT_FALSE(form.UsrProfile().Opened());
      auto makeKiosk = [] {
        WhenModal<TfmNewProfile>([](TfmNewProfile& d) {
          Find<QComboBox>(d, "cbName")->setEditText("kiosk");
          Find<QPushButton>(d, "btnOK")->click();
        });
      };
      if (c.byButton) {
        makeKiosk();
        Find<QToolButton>(form, "btnNewProfile")->click();
        ASSERT_TRUE(form.UsrProfile().Opened());
      }
      Find<QTabWidget>(form, "PageControl1")->setCurrentIndex(cft_MUL);
      Find<QCheckBox>(form, "chkMULFmtStd")->click();
      Find<QLineEdit>(form, "edtName")->setText("Mine");
      Find<QLineEdit>(form, "edtTemplate")->setText("<%.2X>");
      Find<QLineEdit>(form, "edtReplaces")->setText("b0");
      if (!c.byButton) makeKiosk();
      Find<QPushButton>(form, "btnApplyFmt")->click();
      ASSERT_TRUE(dialogs_.errors.isEmpty()) << dialogs_.errors.join('|').toStdString();
      ASSERT_EQ(form.UsrProfile().ProfileName(), "kiosk");
    }
    form_.reset();  // Exit

    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    TfmMain& again = Start({"-p" + QString::fromStdString(pty.Path().substr(5))});
    EXPECT_TRUE(again.UsrProfile().Opened());
    EXPECT_EQ(Find<QComboBox>(again, "cbUsrProfile")->currentText(), "kiosk");
    EXPECT_EQ(Find<QComboBox>(again, "cbMULFmt")->currentText(), "Mine");
    EXPECT_FALSE(Find<QCheckBox>(again, "chkMULFmtStd")->isChecked());
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(pty.Send("Mifare[04A1B2C3D4E5F6] (UL)\r\n"));
    EXPECT_TRUE(WaitFor([&] { return QGuiApplication::clipboard()->text() == "<04>"; }))
        << "\"" << QGuiApplication::clipboard()->text().toStdString() << "\"";
    form_.reset();
  }
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

// The comment is one field among the others: Tab and Shift+Tab move on
// from it, and no tab character gets into the format's comment.
TEST_F(FormatEditor, TabAndShiftTabLeaveTheCommentBox) {
  StartEditing();
  ASSERT_FALSE(hint_->isReadOnly());
  hint_->setPlainText("for the front desk");
  const struct {
    const char* what;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QWidget* to;
  } cases[] = {
      {"Tab", Qt::Key_Tab, Qt::NoModifier, template_},
      {"Shift+Tab", Qt::Key_Backtab, Qt::ShiftModifier, name_},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    hint_->setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), hint_);
    QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, "\t");
    QCoreApplication::sendEvent(hint_, &press);
    EXPECT_EQ(QApplication::focusWidget(), c.to);
    EXPECT_EQ(hint_->toPlainText(), "for the front desk");
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
