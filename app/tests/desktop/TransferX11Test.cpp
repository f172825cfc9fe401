// Typing into real windows of an X server (Xvfb, no window manager, the
// layouts "us,ru"): the delivery's keys, groups, focus moves and titles, as
// a window of the tests' own receives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QPixmap>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "AppMessages.h"
#include "Transfer.h"
#include "tools/TestTray.h"
#include "x11/XRecorder.h"
#include "XDesktop.h"

namespace {

using x11test::XRecorder;

// Waits at most 3 s for ACondition, our own events handled meanwhile.
bool WaitUntil(const std::function<bool()>& ACondition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!ACondition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

bool WaitExposed(QWidget& AWidget) {
  return WaitUntil([&] { return AWidget.isVisible() && AWidget.windowHandle() && AWidget.windowHandle()->isExposed(); });
}

class TypingX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x11test::SetKeyboardLayout("-layout us,ru"));
    desktop_ = x11::XDesktop::Open();
    ASSERT_TRUE(desktop_);
    desktop_->LockGroup(0);
    x11test::SetCapsLock(false);
    ASSERT_TRUE(recorder_.Ok());
    Focus(recorder_.Window());
  }
  void TearDown() override { x11test::SetCapsLock(false); }
  void Focus(unsigned long AWindow) {
    desktop_->Activate(AWindow);
    ASSERT_TRUE(desktop_->WaitForeground(AWindow, 2000));
  }
  // Types AText and waits until the recorder holds AExpected.
  void TypeAndExpect(const QString& AText, const std::string& AExpected) {
    recorder_.Clear();
    QString shown, window;
    transfer_.TransferByKeyboard(AText, shown, &window);
    EXPECT_TRUE(recorder_.WaitFor(AExpected)) << "got \"" << recorder_.Text() << "\"";
    EXPECT_EQ(shown, AText);
    EXPECT_EQ(window, QString::fromUtf8(kTitle));
  }

  static constexpr const char* kTitle = "Recorder — тест";
  XRecorder recorder_{kTitle};
  std::unique_ptr<x11::XDesktop> desktop_;
  TTransfer transfer_;
};

TEST_F(TypingX11, TextsArriveExactly) {
  ASSERT_TRUE(transfer_.KeyboardAvailable());
  std::string printable;
  for (char c = 32; c < 127; ++c) printable += c;
  const char* texts[] = {
      "0123456789",
      "0A1B2C3D4E5F",
      "04a1b2c3d4e5f6",
      "123,45\r",
      "W26: 123/45678; #1 (std) [x] {y} <z> a=b+c*d-e_f.g:h|i\\j~k`l'm\"n?o!p@q$r%s^t&u",
      "\t1\t2\r\n3\n",
  };
  for (const char* t : texts) TypeAndExpect(QString::fromLatin1(t), t);
  TypeAndExpect(QString::fromLatin1(printable.c_str()), printable);
}

TEST_F(TypingX11, RussianGroupTypesLatinAndIsRestored) {
  desktop_->LockGroup(1);
  ASSERT_EQ(desktop_->CurrentGroup(), 1);
  TypeAndExpect("Card 0A1B: ok", "Card 0A1B: ok");
  EXPECT_EQ(desktop_->CurrentGroup(), 1);
  EXPECT_EQ(desktop_->UsGroup(), 0);
}

TEST_F(TypingX11, CapsLockDoesNotChangeTheCase) {
  x11test::SetCapsLock(true);
  ASSERT_TRUE(x11test::CapsLock());
  TypeAndExpect("AbCd 1!", "AbCd 1!");
  EXPECT_TRUE(x11test::CapsLock());  // left as the user had it
}

TEST_F(TypingX11, KeysMissingFromEveryGroupUseASpareKeycode) {
  ASSERT_TRUE(x11test::SetKeyboardLayout("-layout ru"));
  const x11::XDesktop::Key h{'h', 'H'};
  desktop_->RefreshKeyboardMap();
  ASSERT_EQ(desktop_->FindKeycode(h, 0), 0) << "the Russian layout has no Latin letters";
  const std::string text = "Hello World 0A1B2C3D4E5F";
  TypeAndExpect(QString::fromLatin1(text.c_str()), text);
  // The spares are unmapped again.
  desktop_->RefreshKeyboardMap();
  EXPECT_EQ(desktop_->FindKeycode(h, 0), 0);
}

TEST_F(TypingX11, AWindowOfOursInFrontSendsToTheWindowBelowOurs) {
  QWidget own;
  own.setWindowTitle("Sorvex");
  own.resize(200, 100);
  own.show();
  QDialog dialog(&own);
  dialog.setWindowTitle("Settings");
  dialog.resize(150, 80);
  dialog.show();
  ASSERT_TRUE(WaitExposed(own));
  ASSERT_TRUE(WaitExposed(dialog));
  transfer_.SetOwnWindow(own.winId());
  // Either of ours in front, the other right below it: the text goes
  // below both, and the one in front comes back.
  for (QWidget* front : {static_cast<QWidget*>(&own), static_cast<QWidget*>(&dialog)}) {
    Focus(front->winId());
    TypeAndExpect("0A1B\r", "0A1B\r");
    EXPECT_TRUE(desktop_->SameTopLevel(desktop_->ForegroundWindow(), front->winId()));
  }
}

// Without a window manager a window gets the keyboard where it stands, so
// the window right below ours need not be the one the user was typing in:
// the text goes to the window that had the keyboard before ours. A
// toolkit's window keeps the focus on an inner window of its own and moves
// it there itself, a while after its top-level window got it; the keys
// wait for that.
TEST_F(TypingX11, AWindowOfOursInFrontSendsToTheWindowThatHadTheKeyboardBefore) {
  QWidget own;
  own.setWindowTitle("Sorvex");
  own.resize(200, 100);
  own.show();
  ASSERT_TRUE(WaitExposed(own));
  transfer_.SetOwnWindow(own.winId());
  // It takes the keyboard itself as it starts.
  XRecorder editor("Editor", true, XRecorder::Keys::Inner);
  ASSERT_TRUE(editor.Ok());
  ASSERT_EQ(x11test::FocusedWindow(), editor.KeyWindow());
  // The focus given to a window where it stands, once it settled.
  auto giveInPlace = [&](XRecorder& AWindow) {
    x11test::FocusInPlace(AWindow.Window());
    return WaitUntil([&] { return x11test::FocusedWindow() == AWindow.KeyWindow(); });
  };

  struct Case {
    const char* what;
    XRecorder* before;  // it had the keyboard before ours
    bool raiseOurs;     // ours comes to the front as it gets the keyboard
  };
  // Each begins with the editor in front of ours (the test's recorder at
  // the bottom).
  const Case cases[] = {
      {"a window above ours, ours given the keyboard where it stands", &editor, false},
      {"not the window right below ours", &recorder_, true},
      {"the window right below ours, which moves the focus onto its inner window", &editor, true},
  };
  for (const Case& c : cases) {
    desktop_->Activate(editor.Window());
    ASSERT_TRUE(WaitUntil([&] { return x11test::FocusedWindow() == editor.KeyWindow(); })) << c.what;
    ASSERT_TRUE(giveInPlace(*c.before)) << c.what;
    if (c.raiseOurs) {
      Focus(own.winId());
    } else {
      x11test::FocusInPlace(own.winId());
      ASSERT_TRUE(WaitUntil([&] { return x11test::FocusedWindow() == own.winId(); })) << c.what;
    }
    recorder_.Clear();
    editor.Clear();
    QString shown, window;
    EXPECT_EQ(transfer_.TransferByKeyboard("0A1B\r", shown, &window), "") << c.what;
    EXPECT_TRUE(c.before->WaitFor("0A1B\r")) << c.what << ": got \"" << c.before->Text() << "\"";
    XRecorder* other = c.before == &editor ? &recorder_ : &editor;
    EXPECT_EQ(other->Text(), "") << c.what;
    EXPECT_EQ(shown, "0A1B\r") << c.what;
    EXPECT_EQ(window, c.before == &editor ? "Editor" : kTitle) << c.what;
    EXPECT_TRUE(desktop_->SameTopLevel(desktop_->ForegroundWindow(), own.winId())) << c.what;
  }
}

// A tray icon's window lives in the panel that embeds it. The panel is
// another program's window: a text while it has the keyboard goes to it.
// So it does where Qt does not know that a window of ours is embedded: a
// plain window docked by a panel that does not tell it so.
struct PanelCase {
  const char* name;
  bool trayIcon;  // Qt's tray icon, else a plain window of ours
};

void PrintTo(const PanelCase& ACase, std::ostream* AOut) { *AOut << ACase.name; }

class PanelX11 : public TypingX11, public ::testing::WithParamInterface<PanelCase> {};

TEST_P(PanelX11, ThePanelHoldingAWindowOfOursIsNotOurs) {
  testtools::TestTray tray(SORVEX_TRAYHOST,
                           GetParam().trayIcon ? std::vector<std::string>{} : std::vector<std::string>{"--quiet-embed"});
  ASSERT_TRUE(tray.Ready());
  QPixmap image(16, 16);
  image.fill(Qt::darkGreen);
  QSystemTrayIcon icon{QIcon(image)};
  QWidget docked;
  if (GetParam().trayIcon)
    icon.show();
  else
    x11test::RequestDock(docked.winId());
  ASSERT_TRUE(tray.OnlyIcon());
  Focus(tray.Strip());

  recorder_.Clear();
  QString shown, window;
  EXPECT_EQ(transfer_.TransferByKeyboard("0A1B\r", shown, &window), "");
  EXPECT_TRUE(tray.WaitFor([&] { return tray.Typed() == "0A1B\r"; })) << "the tray got \"" << tray.Typed() << "\"";
  EXPECT_EQ(shown, "0A1B\r");
  EXPECT_EQ(window, "Tray");
  EXPECT_EQ(recorder_.Text(), "");
  icon.hide();
}

INSTANTIATE_TEST_SUITE_P(Embedded, PanelX11,
                         ::testing::Values(PanelCase{"TrayIcon", true}, PanelCase{"QuietlyDockedWindow", false}),
                         [](const ::testing::TestParamInfo<PanelCase>& AInfo) { return std::string(AInfo.param.name); });

// No window of another program can take the keyboard: nothing is typed,
// and the result says why.
TEST_F(TypingX11, NoForegroundWindowTypesNothing) {
  x11test::FocusNothing();
  QString shown = "old", window = "old";
  EXPECT_EQ(transfer_.TransferByKeyboard("123", shown, &window), AppMsg(msgNotTypedNoWindow));
  EXPECT_EQ(shown, "");
  EXPECT_EQ(window, "old");
  EXPECT_EQ(recorder_.Text(), "");
}

TEST(TypingX11Alone, OurWindowAloneOnTheScreenTypesNothing) {
  QWidget own;
  own.show();
  ASSERT_TRUE(WaitExposed(own));
  TTransfer transfer;
  transfer.SetOwnWindow(own.winId());
  auto desktop = x11::XDesktop::Open();
  ASSERT_TRUE(desktop);
  desktop->Activate(own.winId());
  ASSERT_TRUE(desktop->WaitForeground(own.winId(), 2000));
  QString shown = "old", window = "old";
  EXPECT_EQ(transfer.TransferByKeyboard("123", shown, &window), AppMsg(msgNotTypedNoWindow));
  EXPECT_EQ(shown, "");
  EXPECT_EQ(window, "old");
  EXPECT_TRUE(desktop->SameTopLevel(desktop->ForegroundWindow(), own.winId()));
}

TEST_F(TypingX11, TitlesFromEitherPropertyAndCut) {
  XRecorder plain("Latin-1 only", false);
  ASSERT_TRUE(plain.Ok());
  EXPECT_EQ(desktop_->WindowTitle(plain.Window()), u"Latin-1 only");
  EXPECT_EQ(desktop_->WindowTitle(recorder_.Window()), u"Recorder — тест");
  std::string longTitle;
  for (int i = 0; i < 70; ++i) longTitle += "😀";  // two units each
  XRecorder named(longTitle);
  std::u16string title = desktop_->WindowTitle(named.Window());
  EXPECT_EQ(title.size(), 126u);  // 127 would split a surrogate pair
  EXPECT_EQ(title.substr(0, 2), u"😀");
  XRecorder bmp(std::string(200, 'x') + "ж");
  EXPECT_EQ(desktop_->WindowTitle(bmp.Window()), std::u16string(127, u'x'));
}

TEST_F(TypingX11, ClipboardHoldsTheTextForOtherClients) {
  QString shown, window;
  transfer_.TransferByClipboard(QString::fromUtf8("0A1B\r\nЖ"), shown, &window);
  EXPECT_EQ(shown, QString::fromUtf8("0A1B\r\nЖ"));
  EXPECT_EQ(window, "<clipboard>");
  QProcess xclip;
  xclip.start("xclip", {"-selection", "clipboard", "-o", "-target", "UTF8_STRING"});
  ASSERT_TRUE(xclip.waitForStarted());
  // Our event loop must run to answer xclip's request.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (xclip.state() != QProcess::NotRunning && std::chrono::steady_clock::now() < end) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    xclip.waitForFinished(5);
  }
  EXPECT_EQ(QString::fromUtf8(xclip.readAllStandardOutput()), QString::fromUtf8("0A1B\r\nЖ"));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "xcb");
  // No desktop bus: a tray icon docks in the tests' tray.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sorvex-no-bus");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
