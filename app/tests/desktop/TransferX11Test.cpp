// Typing into real windows of an X server (Xvfb, no window manager, the
// layouts "us,ru"): the delivery's keys, groups, focus moves and titles, as
// a window of the tests' own receives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QProcess>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <string>
#include <thread>

#include "Transfer.h"
#include "x11/XRecorder.h"
#include "XDesktop.h"

namespace {

using x11test::XRecorder;

bool WaitExposed(QWidget& AWidget) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!AWidget.isVisible() || !AWidget.windowHandle() || !AWidget.windowHandle()->isExposed()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
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

TEST_F(TypingX11, NoForegroundWindowTypesNothing) {
  x11test::FocusNothing();
  QString shown = "old", window = "old";
  transfer_.TransferByKeyboard("123", shown, &window);
  EXPECT_EQ(shown, "");
  EXPECT_EQ(window, "old");
  EXPECT_EQ(recorder_.Text(), "");
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
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
