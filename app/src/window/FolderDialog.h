// The folder browser behind the "..." button of the log folder: a folder
// picker on this desktop's file dialog, opened on a folder, optionally kept
// inside a root folder, with a status line that shows the full path of the
// folder picked.
#pragma once

#include <QString>

#include <cstdint>

class QWidget;

class TFolderDialog {
 public:
  // Flags of the browser: a status line under the folders, and a field to
  // type the folder's name in. Only folders can ever be picked.
  static constexpr uint32_t kStatusText = 0x4;
  static constexpr uint32_t kEditBox = 0x10;

  // With the status line and without the name field.
  TFolderDialog(bool AHideNewFolderButton, const QString& AInitialFolder);

  // Lets the user pick a folder, modal to the whole program (AParent, or the
  // active window, is the owner). True when a folder was picked;
  // SelectedFolder() then names it. Cancelling gives false and leaves
  // SelectedFolder() as it was.
  bool Execute(QWidget* AParent);

  const QString& SelectedFolder() const { return FSelectedFolder; }
  void SetSelectedFolder(const QString& AValue) { FSelectedFolder = AValue; }
  const QString& Title() const { return FTitle; }
  void SetTitle(const QString& AValue) { FTitle = AValue; }
  // A folder the browser does not leave; empty: the whole file system.
  const QString& RootDir() const { return FRootDir; }
  void SetRootDir(const QString& AValue) { FRootDir = AValue; }
  bool HideNewFolderButton() const { return FHideNewFolderButton; }
  void SetHideNewFolderButton(bool AValue) { FHideNewFolderButton = AValue; }
  const QString& InitialFolder() const { return FInitialFolder; }
  void SetInitialFolder(const QString& AValue) { FInitialFolder = AValue; }
  bool StatusBar() const { return m_nFlags & kStatusText; }
  void SetStatusBar(bool AValue) { SetFlag(kStatusText, AValue); }
  bool EditBox() const { return m_nFlags & kEditBox; }
  void SetEditBox(bool AValue) { SetFlag(kEditBox, AValue); }

 private:
  void SetFlag(uint32_t AFlag, bool AOn) { m_nFlags = AOn ? m_nFlags | AFlag : m_nFlags & ~AFlag; }

  QString FSelectedFolder;
  QString FTitle;
  QString FRootDir;
  bool FHideNewFolderButton;
  QString FInitialFolder;
  uint32_t m_nFlags;
};
