#pragma once
// The application's style with edges that show on a dark palette. Fusion,
// the style Qt falls back to, outlines check boxes, radio buttons and text
// fields a shade darker than the window: on a dark window they vanish (an
// unticked box is not seen at all). This proxy draws those edges again in
// a grey well apart from the window whenever the palette is dark, and
// leaves everything as it was on a light one. Main thread only.

#include <QProxyStyle>

namespace vantorel {

class ContrastStyle : public QProxyStyle {
public:
  using QProxyStyle::QProxyStyle;

  // Wraps the application's style (once).
  static void Install();

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget = nullptr) const override;
};

}  // namespace vantorel
