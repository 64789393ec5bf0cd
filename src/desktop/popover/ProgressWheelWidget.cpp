#include "desktop/popover/ProgressWheelWidget.h"

#include <QPainter>

#include "desktop/status/ProgressWheelPainter.h"

namespace vantorel {

ProgressWheelWidget::ProgressWheelWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("progressWheel"));
  setFixedSize(28, 28);
  wheel_.SetBackgroundColor(kWheelClear);
  wheel_.SetForegroundColor(kWheelDarkGrey);
}

void ProgressWheelWidget::Changed() {
  if (wheel_.Revision() != painted_) update();
}

void ProgressWheelWidget::paintEvent(QPaintEvent*) {
  // The ring and pie in the text's own light or dark, on either palette.
  wheel_.SetForegroundColor(palette().color(QPalette::WindowText).lightness() > 128 ? kWheelWhite : kWheelDarkGrey);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF frame(2, 2, width() - 4, height() - 4);
  PaintProgressWheel(painter, rect(), frame, wheel_, QImage(), 1.0);
  painted_ = wheel_.Revision();
}

}  // namespace vantorel
