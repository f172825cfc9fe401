// What the offscreen widget tests share: message dialogs that record their
// texts and answer as told, a lookup of a form's component by name, and the
// test program's start with a widget application on the offscreen platform.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QStringList>
#include <QWidget>

#include "AppDialogs.h"

class RecordingDialogs : public IAppDialogs {
 public:
  void ShowError(QWidget*, const QString& AText) override { errors.append(AText); }
  TAnswer AskYesNoCancel(QWidget*, const QString& AText) override {
    questions.append(AText);
    return answer;
  }
  QStringList errors, questions;
  TAnswer answer = ansNo;
};

// The component of AForm named AName; a failure of the test when it is missing.
template <class T>
T* Find(QWidget& AForm, const char* AName) {
  T* w = AForm.findChild<T*>(QLatin1String(AName));
  EXPECT_NE(w, nullptr) << AName;
  return w;
}

// The body of main() for a widget test program.
inline int RunWidgetTests(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
