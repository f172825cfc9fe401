// The new-profile dialog: creates a user profile file, empty or as a copy of
// the current profile, and makes it the current one. The caller sets the
// profile to work on, runs the dialog modally and, on OK, refreshes its
// profile list and format lists.
#pragma once

#include <QDialog>

class IAppDialogs;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class TAppLanguage;
class TUsrProfile;

class TfmNewProfile : public QDialog {
  Q_OBJECT

 public:
  // ALanguage: the program's language object (the dialog registers with it
  // and is translated by it); ADialogs: where its error and question go.
  TfmNewProfile(TAppLanguage& ALanguage, IAppDialogs& ADialogs, QWidget* AParent = nullptr);
  ~TfmNewProfile() override;

  // The user profile to work on; not owned.
  TUsrProfile* Profile() const { return FProfile; }
  void SetProfile(TUsrProfile* AProfile) { FProfile = AProfile; }

  // The names of the profile files in the profiles folder.
  void UpdateProfileList();
  // "usrfmts", or "usrfmts" and the first number from 1 whose file does not
  // exist yet once the profiles folder exists.
  static QString GenerateName();

 private:
  void CreateControls();
  // Places the name's label, the list and the check box as their texts
  // (translated or not) need.
  void ArrangeControls();
  void btnOKClick();

  TAppLanguage& m_language;
  IAppDialogs& m_dialogs;
  TUsrProfile* FProfile = nullptr;

  QLabel* labName = nullptr;
  QComboBox* cbName = nullptr;
  QCheckBox* chkCopy = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};
