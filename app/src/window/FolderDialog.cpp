#include "FolderDialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

namespace {

QString CleanAbsolute(const QString& APath) { return QDir::cleanPath(QFileInfo(APath).absoluteFilePath()); }

// APath is ARoot or lies below it (both clean and absolute).
bool IsInside(const QString& ARoot, const QString& APath) {
  if (ARoot.isEmpty() || ARoot == u"/" || APath == ARoot) return true;
  return APath.startsWith(ARoot + u'/');
}

// Qt names the kind of a folder (and of a drive) in the file list by a text
// its translations of some languages hold only under the name older versions
// of Qt looked it up by, so a Russian list said "Folder": a text that comes
// back untranslated is taken from there.
class FolderTypes : public QFileIconProvider {
 public:
  QString type(const QFileInfo& AInfo) const override {
    const QString kind = QFileIconProvider::type(AInfo);
    for (const char* text : {"Folder", "Drive"})
      if (kind == QLatin1String(text)) return QCoreApplication::translate("QFileDialog", text);
    return kind;
  }
};

// The browser's list of folders and its side list of places show their texts
// whole, in whatever language they are: the list's columns follow what they
// hold (the name takes the rest), the side list is as wide as its widest place.
void FitTexts(QFileDialog& ADlg) {
  if (auto* view = ADlg.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    for (int column = 0; column < header->count(); ++column)
      header->setSectionResizeMode(column, column == 0 ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
  }
  auto* side = ADlg.findChild<QListView*>(QStringLiteral("sidebar"));
  auto* splitter = ADlg.findChild<QSplitter*>(QStringLiteral("splitter"));
  if (side && splitter) {
    const int width = side->sizeHintForColumn(0) + 2 * side->frameWidth() +
                      side->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, side);
    side->setMinimumWidth(width);
    QList<int> sizes = splitter->sizes();
    if (sizes.size() == 2 && sizes[0] < width) splitter->setSizes({width, std::max(0, sizes[1] - (width - sizes[0]))});
  }
}

}  // namespace

TFolderDialog::TFolderDialog(bool AHideNewFolderButton, const QString& AInitialFolder)
    : FHideNewFolderButton(AHideNewFolderButton), FInitialFolder(AInitialFolder), m_nFlags(kStatusText) {}

bool TFolderDialog::Execute(QWidget* AParent) {
  FolderTypes types;  // outlives the dialog
  QFileDialog dlg(AParent ? AParent : QApplication::activeWindow(), FTitle);
  // Qt's own dialog, not the desktop's: only it can carry the status line
  // and leave out the "new folder" button.
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setFileMode(QFileDialog::Directory);
  dlg.setOption(QFileDialog::ShowDirsOnly);
  dlg.setIconProvider(&types);
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

  FitTexts(dlg);

  if (dlg.exec() != QDialog::Accepted) return false;
  const QStringList chosen = dlg.selectedFiles();
  if (chosen.isEmpty()) return false;
  const QString path = CleanAbsolute(chosen.first());
  // A name typed into the field may name nothing, or lead out of the root.
  if (path.isEmpty() || !QFileInfo(path).isDir() || !IsInside(root, path)) return false;
  FSelectedFolder = path;
  return true;
}
