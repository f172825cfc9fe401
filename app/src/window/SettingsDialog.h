// The settings dialog: the program-wide options that are not on the main
// window (autostart, always on top, one instance, showing the format's page
// on transfer, the transfer log and its folder, the key delays, the
// alternative port handling, debug mode and the interface language).
//
// The caller fills the F fields, runs the dialog modally and, on OK, applies
// the fields: the fields, not the controls, are the result. The language is
// the exception: OK switches it at once through the caller's SetLang.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>

#include "AppLanguage.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TAppConfig;

class TfmSettingsDlg : public QDialog {
  Q_OBJECT

 public:
  // ALanguage: the program's language object, which the dialog registers
  // with and is translated by. ALangs: the main window's language list, in
  // its order. ASetLang: switches the interface to the language of an index
  // of ALangs (the main window's SetLang).
  TfmSettingsDlg(TAppLanguage& ALanguage, const TALangs& ALangs, std::function<void(int)> ASetLang,
                 QWidget* AParent = nullptr);
  ~TfmSettingsDlg() override;

  // Stores the dialog's results in the settings in one update: TopMost,
  // SingleInstance, TransFmtPar, TransLog, LogDir (only when ALogDirChanged),
  // PressKeyDelay, ReleaseKeyDelay, AltWorkPort, DebugMode, and Language (the
  // loaded language's id, 0 while none is loaded). False when the file could
  // not be written.
  bool StoreSettings(TAppConfig& AConfig, bool ALogDirChanged) const;

  void UpdateLogDirControls();
  // Lets the user pick the log folder with the folder browser.
  void SelectLogDir();

  bool FAutorun = false;
  bool FAlwaysOnTop = false;
  bool FOneInstance = false;
  bool FShowTransFmtPar = false;
  bool FTransLog = false;
  QString FLogDir;
  uint32_t FPressKeyDelay = 0;
  uint32_t FReleaseKeyDelay = 0;
  bool FAltWorkPort = false;
  bool FDebugMode = false;

 protected:
  void showEvent(QShowEvent* AEvent) override;

 private:
  void CreateControls();
  void FormShow();
  void btnOkClick();
  void chkTransLogClick();

  TAppLanguage& m_language;
  const TALangs& m_langs;
  std::function<void(int)> m_setLang;

  QCheckBox* chkAutorun = nullptr;
  QCheckBox* chkAlwaysOnTop = nullptr;
  QCheckBox* chkOneInstance = nullptr;
  QCheckBox* chkShowTransFmtPar = nullptr;
  QCheckBox* chkTransLog = nullptr;
  QLabel* labLogDir = nullptr;
  QLineEdit* edtLogDir = nullptr;
  QPushButton* btnLogDir = nullptr;
  QGroupBox* grDelays = nullptr;
  QSpinBox* edtPressKeyDelay = nullptr;
  QSpinBox* edtReleaseKeyDelay = nullptr;
  QCheckBox* chkAltWorkPort = nullptr;
  QCheckBox* chkDebugMode = nullptr;
  QLabel* labLang = nullptr;
  QComboBox* cbLang = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
};
