#pragma once
// Paints a progress wheel: its alternate image, or a disc, a pie from twelve
// o'clock clockwise and a ring. One routine for the tray image and for the
// popover's widget.

#include <QColor>
#include <QImage>
#include <QRectF>

#include "desktop/status/ProgressWheelState.h"

class QPainter;

namespace vantorel {

QColor ToQColor(WheelColor color);

// `bounds`: where an alternate image goes (scaled into it); `wheelFrame`:
// the square of the disc, pie and ring. `image`: the alternate image to
// draw (null, or none set: the pie), at `imageOpacity`.
void PaintProgressWheel(QPainter& painter, const QRectF& bounds, const QRectF& wheelFrame,
                        const ProgressWheelState& wheel, const QImage& image, qreal imageOpacity);

}  // namespace vantorel
