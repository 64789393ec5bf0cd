#include "desktop/status/StatusImages.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace vantorel {

StatusImageSet ReloadStatusItemImages(int size, qreal devicePixelRatio) {
  StatusImageSet images;
  if (std::find(kOfferedStatusIconSizes.begin(), kOfferedStatusIconSizes.end(), size) ==
      kOfferedStatusIconSizes.end())
    return images;
  const int pixels = static_cast<int>(std::lround(size * devicePixelRatio));
  for (std::size_t i = 0; i < images.size(); ++i) {
    QSvgRenderer drawing(QStringLiteral(":/status/%1.svg").arg(QLatin1String(kStatusImagePrefixes[i])));
    if (!drawing.isValid()) continue;
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      drawing.render(&painter, QRectF(0, 0, pixels, pixels));
    }
    image.setDevicePixelRatio(devicePixelRatio);
    images[i] = std::move(image);
  }
  return images;
}

std::array<bool, kStatusImageCount> Availability(const StatusImageSet& images) {
  std::array<bool, kStatusImageCount> available{};
  for (std::size_t i = 0; i < images.size(); ++i) available[i] = !images[i].isNull();
  return available;
}

}  // namespace vantorel
