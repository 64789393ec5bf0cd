// Renders the application's SVG icon to a square PNG of a given size, for
// the icon theme's fixed sizes. A build tool; not installed.
//   vantorel-render-icon SVG SIZE PNG

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vantorel-render-icon SVG SIZE PNG\n");
    return 2;
  }
  const int size = std::atoi(argv[2]);
  QSvgRenderer renderer{QString::fromLocal8Bit(argv[1])};
  if (!renderer.isValid() || size <= 0) {
    std::fprintf(stderr, "vantorel-render-icon: cannot render %s at %s\n", argv[1], argv[2]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  painter.end();
  return image.save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}
