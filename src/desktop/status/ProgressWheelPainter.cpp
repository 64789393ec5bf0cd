#include "desktop/status/ProgressWheelPainter.h"

#include <QPainter>

namespace vantorel {

QColor ToQColor(WheelColor color) { return QColor::fromRgbF(color.red, color.green, color.blue, color.alpha); }

void PaintProgressWheel(QPainter& painter, const QRectF& bounds, const QRectF& wheelFrame,
                        const ProgressWheelState& wheel, const QImage& image, qreal imageOpacity) {
  if (wheel.HasAlternateImage() && !image.isNull()) {
    painter.save();
    painter.setOpacity(imageOpacity);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(bounds, image);
    painter.restore();
    return;
  }
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(ToQColor(wheel.BackgroundColor()));
  painter.drawEllipse(wheelFrame);
  const int sweep = wheel.SweepDegrees();
  if (sweep > 0) {
    painter.setBrush(ToQColor(wheel.ForegroundColor()));
    // Qt counts from three o'clock, counter-clockwise, in sixteenths of a degree.
    painter.drawPie(wheelFrame, 90 * 16, -sweep * 16);
  }
  const qreal ring = ProgressWheelState::kFrameWidth;
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(ToQColor(wheel.ForegroundColor()), ring));
  painter.drawEllipse(wheelFrame.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));
  painter.restore();
}

}  // namespace vantorel
