// Delivery without an X11 display: the clipboard works, typing does nothing.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include "Transfer.h"

namespace {

TEST(TransferOffscreen, ClipboardRoundTrip) {
  TTransfer transfer;
  QString shown, window;
  const QString text = QString::fromUtf8("0A1B2C\r\n#44 Ж");
  transfer.TransferByClipboard(text, shown, &window);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
  EXPECT_EQ(shown, text);
  EXPECT_EQ(window, "<clipboard>");
  transfer.TransferByClipboard("second", shown);  // no title wanted
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "second");
}

TEST(TransferOffscreen, KeyboardTypesNothingWithoutX11) {
  TTransfer transfer;
  EXPECT_FALSE(transfer.KeyboardAvailable());
  QString shown = "old", window = "old";
  transfer.TransferByKeyboard("123", shown, &window);
  EXPECT_EQ(shown, "");
  EXPECT_EQ(window, "old");
}

TEST(TransferOffscreen, MethodChoiceAndDispatch) {
  TTransfer transfer;
  int stored = -1;
  auto store = [&](int AValue) { stored = AValue; };
  rgTranMethodClick(transfer, tm_Clipboard, 1, store);  // the window fills its controls
  EXPECT_EQ(transfer.TransMethod(), tm_Keyboard);
  EXPECT_EQ(stored, -1);
  rgTranMethodClick(transfer, tm_Clipboard, 0, store);
  EXPECT_EQ(transfer.TransMethod(), tm_Clipboard);
  EXPECT_EQ(stored, tm_Clipboard);

  QString shown, window;
  transfer.Transfer("0A1B", shown, &window);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "0A1B");
  EXPECT_EQ(window, "<clipboard>");
  transfer.SetTransMethod(2);  // no such method: nothing is delivered
  window = "old";
  transfer.Transfer("0A1C", shown, &window);
  EXPECT_EQ(shown, "");
  EXPECT_EQ(window, "old");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "0A1B");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
