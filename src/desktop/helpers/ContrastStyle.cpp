#include "desktop/helpers/ContrastStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOption>

namespace vantorel {

namespace {
bool IsDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

// About 4:1 against the dark windows' greys, and no brighter than the text.
QColor Edge(const QPalette& palette) {
  QColor edge = palette.color(QPalette::WindowText);
  edge.setAlphaF(0.55);
  return edge;
}

void DrawEdge(QPainter* painter, const QRectF& rect, const QPalette& palette, bool round, qreal radius = 2.0) {
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  painter->setPen(QPen(Edge(palette), 1.0));
  painter->setBrush(Qt::NoBrush);
  const QRectF inner = rect.adjusted(0.5, 0.5, -0.5, -0.5);
  if (round) painter->drawEllipse(inner);
  else painter->drawRoundedRect(inner, radius, radius);
  painter->restore();
}
}  // namespace

void ContrastStyle::Install() {
  if (dynamic_cast<ContrastStyle*>(QApplication::style()) != nullptr) return;
  // The proxy takes the current style and becomes the application's.
  QApplication::setStyle(new ContrastStyle(QApplication::style()->name()));
}

void ContrastStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
  QProxyStyle::drawPrimitive(element, option, painter, widget);
  if (option == nullptr || !IsDark(option->palette)) return;
  switch (element) {
    case PE_IndicatorCheckBox: DrawEdge(painter, option->rect, option->palette, false); break;
    case PE_IndicatorRadioButton: DrawEdge(painter, option->rect, option->palette, true); break;
    case PE_FrameLineEdit: DrawEdge(painter, option->rect, option->palette, false); break;
    case PE_PanelLineEdit:
      // A field inside a spin box or combo box has the outer control's edge.
      if (const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option); frame && frame->lineWidth > 0)
        DrawEdge(painter, option->rect, option->palette, false);
      break;
    default: break;
  }
}

void ContrastStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                       const QWidget* widget) const {
  QProxyStyle::drawComplexControl(control, option, painter, widget);
  if (control == CC_SpinBox && option != nullptr && IsDark(option->palette) &&
      qstyleoption_cast<const QStyleOptionSpinBox*>(option)->frame)
    DrawEdge(painter, option->rect, option->palette, false);
}

}  // namespace vantorel
