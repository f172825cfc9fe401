// The about box: the program's name, version and build date, what it does,
// a notice line, and links to the product's web page and its mail address.
#pragma once

#include <QDate>
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class TAppLanguage;

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  // The product's web page and contact address the two links open.
  static constexpr const char* kWebPage = "https://www.example.org/sorvex/";
  static constexpr const char* kMailAddress = "sorvex@example.org";

  // ALanguage: the program's language object, which the box registers with
  // and is translated by.
  explicit TAboutBox(TAppLanguage& ALanguage, QWidget* AParent = nullptr);
  ~TAboutBox() override;

  // The date this version was built, a constant of the program.
  static QDate BuildDate();
  // "<version> (<build date>)": the program's version and the build date in
  // the user's short date format.
  static QString VersionText();

  void labInternetLinkClick();
  void labMailLinkClick();

 protected:
  void showEvent(QShowEvent* AEvent) override;

 private:
  void CreateControls();

  TAppLanguage& m_language;

  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* stVersion = nullptr;
  QLabel* Copyright = nullptr;
  QLabel* Comments = nullptr;
  QPushButton* OKButton = nullptr;
  QLabel* labInternet = nullptr;
  QLabel* labMail = nullptr;
};
