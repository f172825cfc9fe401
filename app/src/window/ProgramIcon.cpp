#include "ProgramIcon.h"

#include <QImage>
#include <QPixmap>

namespace {

// The sizes of the icon theme's images, which the install draws the same way.
constexpr int kIconSizes[] = {SORVEX_ICON_SIZES};

}  // namespace

QIcon ProgramIcon() {
  // The drawing is small: each of its pixels becomes a square of pixels, so
  // that it stays sharp at every size (smoothing would blur it).
  const QImage drawing = QImage(QStringLiteral(":/program/riENABL.xpm")).convertToFormat(QImage::Format_ARGB32);
  QIcon icon;
  for (const int size : kIconSizes)
    icon.addPixmap(QPixmap::fromImage(drawing.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
  return icon;
}
