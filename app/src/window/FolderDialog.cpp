#include "FolderDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>

namespace {

QString CleanAbsolute(const QString& APath) { return QDir::cleanPath(QFileInfo(APath).absoluteFilePath()); }

// APath is ARoot or lies below it (both clean and absolute).
bool IsInside(const QString& ARoot, const QString& APath) {
  if (ARoot.isEmpty() || ARoot == u"/" || APath == ARoot) return true;
  return APath.startsWith(ARoot + u'/');
}

}  // namespace

TFolderDialog::TFolderDialog(bool AHideNewFolderButton, const QString& AInitialFolder)
    : FHideNewFolderButton(AHideNewFolderButton), FInitialFolder(AInitialFolder), m_nFlags(kStatusText) {}

bool TFolderDialog::Execute(QWidget* AParent) {
  QFileDialog dlg(AParent ? AParent : QApplication::activeWindow(), FTitle);
  // Qt's own dialog, not the desktop's: only it can carry the status line
  // and leave out the "new folder" button.
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setFileMode(QFileDialog::Directory);
  dlg.setOption(QFileDialog::ShowDirsOnly);
  // No other window of the program takes input while the browser is open.
  dlg.setWindowModality(Qt::ApplicationModal);

  const QString root = FRootDir.isEmpty() ? QString() : CleanAbsolute(FRootDir);
  QString start = FInitialFolder.isEmpty() ? QString() : CleanAbsolute(FInitialFolder);
  if (start.isEmpty() || !QFileInfo(start).isDir() || !IsInside(root, start))
    start = root.isEmpty() ? QDir::homePath() : root;
  dlg.setDirectory(start);
  if (!root.isEmpty()) {
    dlg.setSidebarUrls({QUrl::fromLocalFile(root)});
    // The browser is kept inside its root: a step above it goes back there.
    QObject::connect(&dlg, &QFileDialog::directoryEntered, &dlg, [&dlg, root](const QString& ADir) {
      if (!IsInside(root, CleanAbsolute(ADir))) dlg.setDirectory(root);
    });
  }

  if (FHideNewFolderButton) {
    // Read-only also takes "New Folder" off the context menu.
    dlg.setOption(QFileDialog::ReadOnly);
    if (auto* button = dlg.findChild<QWidget*>(QStringLiteral("newFolderButton"))) button->hide();
  }
  if (!EditBox()) {
    for (const char* name : {"fileNameEdit", "fileNameLabel"})
      if (auto* w = dlg.findChild<QWidget*>(QLatin1String(name))) w->hide();
  }
  if (StatusBar()) {
    // The full path of the folder picked, under the folders.
    auto* status = new QLabel(QDir::toNativeSeparators(start), &dlg);
    status->setObjectName(QStringLiteral("labStatus"));
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (auto* grid = qobject_cast<QGridLayout*>(dlg.layout()))
      grid->addWidget(status, grid->rowCount(), 0, 1, grid->columnCount());
    const auto show = [status](const QString& APath) {
      if (!APath.isEmpty()) status->setText(QDir::toNativeSeparators(CleanAbsolute(APath)));
    };
    QObject::connect(&dlg, &QFileDialog::currentChanged, status, show);
    // The folder the browser is in, after any step back into the root.
    QObject::connect(&dlg, &QFileDialog::directoryEntered, status,
                     [&dlg, show] { show(dlg.directory().absolutePath()); });
  }

  if (dlg.exec() != QDialog::Accepted) return false;
  const QStringList chosen = dlg.selectedFiles();
  if (chosen.isEmpty()) return false;
  const QString path = CleanAbsolute(chosen.first());
  // A name typed into the field may name nothing, or lead out of the root.
  if (path.isEmpty() || !QFileInfo(path).isDir() || !IsInside(root, path)) return false;
  FSelectedFolder = path;
  return true;
}
