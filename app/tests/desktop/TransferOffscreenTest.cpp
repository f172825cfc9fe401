// Delivery without an X11 display: the clipboard works, typing does nothing.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include "AppMessages.h"
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
  EXPECT_EQ(transfer.TransferByKeyboard("123", shown, &window), AppMsg(msgNotTypedNoDisplay));
  EXPECT_EQ(shown, "");
  EXPECT_EQ(window, "old");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
