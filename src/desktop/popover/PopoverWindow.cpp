#include "desktop/popover/PopoverWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "desktop/helpers/Appearance.h"
#include "desktop/popover/PopoverPlacement.h"
#include "desktop/popover/SwayPlacement.h"

namespace vantorel {

PopoverWindow::Kind PopoverWindow::KindForThisDesktop(bool trayAvailable) {
  if (!trayAvailable) return Kind::Window;
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? Kind::Dialog : Kind::Popup;
}

QPalette PopoverWindow::LightPalette() {
  QPalette palette(QColor(0xf6, 0xf6, 0xf6));
  palette.setColor(QPalette::Window, QColor(0xf6, 0xf6, 0xf6));
  palette.setColor(QPalette::WindowText, QColor(0x1d, 0x1d, 0x1f));
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(0xf2, 0xf2, 0xf2));
  palette.setColor(QPalette::Text, QColor(0x1d, 0x1d, 0x1f));
  palette.setColor(QPalette::PlaceholderText, QColor(0x6e, 0x6e, 0x73));
  palette.setColor(QPalette::Button, QColor(0xee, 0xee, 0xee));
  palette.setColor(QPalette::ButtonText, QColor(0x1d, 0x1d, 0x1f));
  palette.setColor(QPalette::Mid, QColor(0xbd, 0xbd, 0xc2));
  palette.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd6));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xdc));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa0, 0xa0, 0xa0));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa0, 0xa0, 0xa0));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa0, 0xa0, 0xa0));
  return palette;
}

// The same roles on dark: secondary text and separators stay readable
// (PlaceholderText and Mid well apart from the window and from the text).
QPalette PopoverWindow::DarkPalette() {
  QPalette palette(QColor(0x2b, 0x2b, 0x2d));
  palette.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2d));
  palette.setColor(QPalette::WindowText, QColor(0xf2, 0xf2, 0xf7));
  palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
  palette.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x28));
  palette.setColor(QPalette::Text, QColor(0xf2, 0xf2, 0xf7));
  palette.setColor(QPalette::PlaceholderText, QColor(0xa1, 0xa1, 0xa8));
  palette.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
  palette.setColor(QPalette::ButtonText, QColor(0xf2, 0xf2, 0xf7));
  palette.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
  palette.setColor(QPalette::Midlight, QColor(0x42, 0x42, 0x46));
  palette.setColor(QPalette::Mid, QColor(0x5c, 0x5c, 0x62));
  palette.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
  palette.setColor(QPalette::Shadow, Qt::black);
  palette.setColor(QPalette::Highlight, QColor(0x3a, 0x7b, 0xe0));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::Link, QColor(0x6c, 0xa8, 0xff));
  palette.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3d));
  palette.setColor(QPalette::ToolTipText, QColor(0xf2, 0xf2, 0xf7));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x78, 0x78, 0x7e));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x78, 0x78, 0x7e));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x78, 0x78, 0x7e));
  return palette;
}

QPalette PopoverWindow::InterfacePalette() { return Appearance::CurrentIsDark() ? DarkPalette() : LightPalette(); }

PopoverWindow::PopoverWindow(Kind kind) : QWidget(nullptr), kind_(kind) {
  setObjectName(QStringLiteral("popover"));
  switch (kind) {
    case Kind::Popup: setWindowFlags(Qt::Popup | Qt::FramelessWindowHint); break;
    case Kind::Dialog: setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint); break;
    case Kind::Window: setWindowFlags(Qt::Window); break;
  }
  setWindowTitle(QStringLiteral("Vantorel"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setPalette(InterfacePalette());
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  const int border = kind == Kind::Window ? 0 : 1;
  layout->setContentsMargins(border, border, border, border);
  layout->setSpacing(0);
  // A dialog of fixed size is floated, not tiled, by tiling compositors;
  // on sway it is then placed beside the pointer.
  if (kind == Kind::Dialog) {
    setFixedSize(kWidth + 2 * border, kHeight + 2 * border);
    swayPlacer_ = SwayPopoverPlacer::ForThisSession(this);
  } else {
    resize(kWidth + 2 * border, kHeight + 2 * border);
  }
}

void PopoverWindow::SetContent(QWidget* content) { layout()->addWidget(content); }

void PopoverWindow::ShowBeside(const QRect& anchor) {
  if (kind_ != Kind::Window) {
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
      const QRect available = screen->availableGeometry();
      const PlacementRect place = PlacePopover({anchor.x(), anchor.y(), anchor.width(), anchor.height()},
                                               {available.x(), available.y(), available.width(), available.height()},
                                               width(), height());
      move(place.x, place.y);
    }
  }
  closedReported_ = false;
  show();
  raise();
  activateWindow();
  if (swayPlacer_) swayPlacer_->Place(this);
}

void PopoverWindow::SetContentHeight(int height) {
  const QMargins margins = layout()->contentsMargins();
  const int total = height + margins.top() + margins.bottom();
  if (this->height() == total) return;
  if (kind_ == Kind::Dialog) setFixedSize(width(), total);
  else resize(width(), total);
}

void PopoverWindow::showEvent(QShowEvent* event) {
  if (willShow_) willShow_();
  QWidget::showEvent(event);
}

void PopoverWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (kind_ == Kind::Window) return;
  // The 1-pixel border in the palette's mid colour stands in for a frame.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PopoverWindow::mousePressEvent(QMouseEvent* event) {
  // A popup closes itself on a press outside; not while its menu is open.
  if (kind_ == Kind::Popup && !transient_ && !rect().contains(event->position().toPoint())) {
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void PopoverWindow::keyPressEvent(QKeyEvent* event) {
  // Escape closes a popover; the window that stands for a missing tray
  // stays (closing it is quitting).
  if (event->key() == Qt::Key_Escape && kind_ != Kind::Window) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool PopoverWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowDeactivate && kind_ == Kind::Dialog && transient_ && isVisible()) close();
  return QWidget::event(event);
}

void PopoverWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (!closedReported_) {
    closedReported_ = true;
    if (didClose_) didClose_();
  }
}

}  // namespace vantorel
