// Draws the program's icon (an XPM, as the window uses it) as a PNG of a
// given size for the desktop's icon theme. Each pixel becomes a square of
// pixels, so the small drawing stays sharp at every size.
//   sorvex_icon_png INPUT.xpm SIZE OUTPUT.png
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s INPUT.xpm SIZE OUTPUT.png\n", argv[0]);
    return 2;
  }
  const QImage in(QString::fromLocal8Bit(argv[1]));
  if (in.isNull() || in.width() != in.height()) {
    std::fprintf(stderr, "%s: %s is no square image\n", argv[0], argv[1]);
    return 1;
  }
  bool ok = false;
  const int size = QString::fromLocal8Bit(argv[2]).toInt(&ok);
  if (!ok || size < in.width() || size % in.width() != 0) {
    std::fprintf(stderr, "%s: %s is no whole multiple of the image's size %d\n", argv[0], argv[2], in.width());
    return 1;
  }
  const QImage out = in.convertToFormat(QImage::Format_ARGB32)
                         .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  if (!out.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
    return 1;
  }
  return 0;
}
