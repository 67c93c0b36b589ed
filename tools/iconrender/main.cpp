// Renders the program's SVG icon into the PNG sizes of the hicolor theme at build time, so the
// PNGs never drift from the SVG. Usage: velmora-iconrender SVG OUTDIR SIZE...
// Writes OUTDIR/SIZExSIZE/com.quorvix.velmora.png for each size.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 4) {
    std::fputs("usage: velmora-iconrender SVG OUTDIR SIZE...\n", stderr);
    return 2;
  }
  QSvgRenderer svg(args[1]);
  if (!svg.isValid()) {
    std::fprintf(stderr, "cannot read %s\n", qPrintable(args[1]));
    return 1;
  }
  for (qsizetype i = 3; i < args.size(); ++i) {
    const int size = args[i].toInt();
    if (size <= 0) return 2;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      svg.render(&painter);
    }
    const QString dir = QStringLiteral("%1/%2x%2").arg(args[2]).arg(size);
    QDir().mkpath(dir);
    if (!image.save(dir + QStringLiteral("/com.quorvix.velmora.png"))) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
