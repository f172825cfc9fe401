// The card road on the main window: the reader port's hand-over, the
// controls that show a card, the delivery and the transfer log.
#include <QApplication>
#include <QGuiApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QWindow>

#include "AppMessages.h"
#include "MainForm.h"
#include "MainInternal.h"
#include "ReaderPort.h"
#include "Transfer.h"
#include "TransferLog.h"
#include "XDesktop.h"

namespace {

class TQtBeep : public ISystemBeep {
 public:
  void Beep() override { QApplication::beep(); }
};

}  // namespace

WId CurrentWindowId(const QWidget& AWindow) {
  const QWindow* handle = AWindow.windowHandle();
  return handle && handle->handle() ? handle->winId() : 0;
}

x11::XDesktop* WindowDesktop() {
  static const std::unique_ptr<x11::XDesktop> desktop =
      QGuiApplication::platformName() == QLatin1String("xcb") ? x11::XDesktop::Open() : nullptr;
  return desktop.get();
}

ISystemBeep& SystemBeep() {
  static TQtBeep beep;
  return beep;
}

bool WindowCornerCovered(const QWidget& AWindow) {
  x11::XDesktop* desktop = WindowDesktop();
  if (!desktop) return false;
  const QPoint corner = AWindow.frameGeometry().topLeft();
  const x11::WindowId own = desktop->TopLevelOf(CurrentWindowId(AWindow));
  return own && desktop->TopLevelAt(corner.x(), corner.y()) != own;
}

void TfmMain::PortReceive() { m_pipeline.PortReceive(m_port->Data()); }

void TfmMain::ShowPortText(const QString& ALine) { edtPortOutput->setText(ALine); }

void TfmMain::ShowCardBytes(const QStringList& ACells) {
  for (int i = 0; i < gridBytes->columnCount(); ++i)
    gridBytes->item(1, i)->setText(i < ACells.size() ? ACells[i] : QString());
}

void TfmMain::ShowCardType(const QString& AName) { edtCardTip->setText(AName); }

void TfmMain::ShowLastFmt(const QString& AText) { edtLastFmt->setText(AText); }

void TfmMain::ShowTrans(const TransDisplay& AShown) {
  // A new text takes the format of the caret's place in the old one: after a
  // text that ended in a mark, the whole new text would come out blue.
  edtTrans->setCurrentCharFormat(QTextCharFormat());
  edtTrans->setPlainText(AShown.text);
  // The marks (control characters and punctuation made visible) in blue.
  QTextCharFormat mark;
  mark.setForeground(QColor(0, 0, 255));
  QTextCursor cursor(edtTrans->document());
  for (const TransMark& m : AShown.marks) {
    cursor.setPosition(m.start);
    cursor.setPosition(m.start + m.length, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(mark);
  }
  cursor.movePosition(QTextCursor::End);
  edtTrans->setTextCursor(cursor);
}

void TfmMain::ShowWindow(const QString& ATitle) { edtWindow->setText(ATitle); }

void TfmMain::ShowClassPage(TCvtFmtType AClass) { SetCurPage(GetCvtTipPage(AClass), true); }

QString TfmMain::TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow) {
  // An open menu of ours (the tray's, the window's, a list's) holds the
  // keyboard: the keys would go to it, and the Return at the end of a card
  // would choose the item under the pointer. It closes, and lets the
  // keyboard go, before anything is typed.
  while (QWidget* popup = QApplication::activePopupWidget()) {
    popup->close();
    if (QApplication::activePopupWidget() == popup) {
      popup->hide();
      if (QApplication::activePopupWidget() == popup) break;
    }
  }
  m_transfer->SetOwnWindow(CurrentWindowId(*this));
  return m_transfer->TransferByKeyboard(AText, AShown, AWindow);
}

void TfmMain::TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow) {
  m_transfer->TransferByClipboard(AText, AShown, AWindow);
}

void TfmMain::WriteLog(TovkCardType ACardType, bool AStd, const QString& AFmtName, const QString& AShown,
                       const QString& AWindow, const QString& ANotTyped) {
  QString why;
  const bool written =
      ::WriteLog(m_sLogDir, m_port->Port(), ACardType, AStd, AFmtName, AShown, AWindow, ANotTyped, &why);
  SetProblem(probTransferLog, written ? QString() : FormatAppMsg(msgLogNotWritten, {why}));
}

const TCvtFmt* TfmMain::CurCvtFmt(TCvtFmtType AClass, bool& AStd) {
  if (AClass >= kCvtFmtTypeCount) return nullptr;
  // The class's list holds the formats of its current kind (standard or
  // own); the current name is looked up there.
  QComboBox* list = FmtList(AClass);
  const int i = list->findText(m_oUsrProfile->GetCurFmtName(AClass), Qt::MatchFixedString);
  if (i < 0) return nullptr;
  AStd = m_oUsrProfile->GetCurFmtStd(AClass);
  return ItemFmt(AClass, i);
}
