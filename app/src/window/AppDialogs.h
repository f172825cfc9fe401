// The program's message dialogs. Every error and question reaches the user
// through one object of this kind, so that tests can see the texts without a
// modal box on the screen.
#pragma once

#include <QString>

class QWidget;

class IAppDialogs {
 public:
  enum TAnswer { ansYes, ansNo, ansCancel };
  virtual ~IAppDialogs() = default;
  // An error dialog with one OK button.
  virtual void ShowError(QWidget* AParent, const QString& AText) = 0;
  // A question with the buttons Yes, No and Cancel.
  virtual TAnswer AskYesNoCancel(QWidget* AParent, const QString& AText) = 0;
};

// The dialogs on the screen.
class TScreenDialogs : public IAppDialogs {
 public:
  void ShowError(QWidget* AParent, const QString& AText) override;
  TAnswer AskYesNoCancel(QWidget* AParent, const QString& AText) override;
};
