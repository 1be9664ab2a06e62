// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the program's SVG icon into square PNG files for the desktop's icon theme.
// Usage: murmelin_render_icon SVG OUTDIR SIZE...  writes OUTDIR/SIZE.png for each size.
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s SVG OUTDIR SIZE...\n", argc > 0 ? argv[0] : "render_icon");
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) {
    std::fprintf(stderr, "render_icon: cannot read the SVG picture %s\n", argv[1]);
    return 1;
  }
  const QString outdir = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    if (!ok || size < 1 || size > 4096) {
      std::fprintf(stderr, "render_icon: not a size in pixels: %s\n", argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      renderer.render(&painter);
    }
    const QString file = outdir + QStringLiteral("/%1.png").arg(size);
    if (!image.save(file, "PNG")) {
      std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(file));
      QFile::remove(file);
      return 1;
    }
  }
  return 0;
}
