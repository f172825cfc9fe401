#include "AppDialogs.h"

#include <QMessageBox>

void TScreenDialogs::ShowError(QWidget* AParent, const QString& AText) {
  QMessageBox::critical(AParent, QStringLiteral("Sorvex"), AText, QMessageBox::Ok);
}

IAppDialogs::TAnswer TScreenDialogs::AskYesNoCancel(QWidget* AParent, const QString& AText) {
  switch (QMessageBox::question(AParent, QStringLiteral("Sorvex"), AText,
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
      return ansYes;
    case QMessageBox::No:
      return ansNo;
    default:
      return ansCancel;
  }
}
