#pragma once
// The popover's progress wheel: the tray icon's pie and ring, painted by
// the same routine, on a clear background.

#include <QWidget>

#include "desktop/status/ProgressWheelState.h"

namespace vantorel {

class ProgressWheelWidget : public QWidget {
public:
  explicit ProgressWheelWidget(QWidget* parent);
  ProgressWheelState& Wheel() { return wheel_; }
  // Repaints when the wheel changed since the last paint.
  void Changed();

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  ProgressWheelState wheel_;
  std::uint64_t painted_ = ~std::uint64_t{0};
};

}  // namespace vantorel
