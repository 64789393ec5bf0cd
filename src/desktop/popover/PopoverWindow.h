#pragma once
// The window the popover lives in: frameless, light whatever the desktop's
// theme, placed beside the tray icon, and transient: it closes when the
// user clicks elsewhere (a pointer-grabbing popup on X11; on Wayland, where
// such a popup needs a parent window, a frameless dialog that closes when
// the application loses the focus). With no tray at all it is an ordinary
// window instead, so that the application is not left invisible. It says
// when it is about to show and when it has closed. Main thread only.

#include <QWidget>

#include <functional>

namespace vantorel {

class SwayPopoverPlacer;

class PopoverWindow : public QWidget {
public:
  enum class Kind { Popup, Dialog, Window };
  static constexpr int kWidth = 340;
  static constexpr int kHeight = 264;

  // The kind this desktop calls for: Window without a tray, Dialog on
  // Wayland, Popup elsewhere.
  static Kind KindForThisDesktop(bool trayAvailable);

  explicit PopoverWindow(Kind kind);

  Kind WindowKind() const { return kind_; }
  void SetContent(QWidget* content);
  void SetWillShow(std::function<void()> willShow) { willShow_ = std::move(willShow); }
  void SetDidClose(std::function<void()> didClose) { didClose_ = std::move(didClose); }

  // Transient (the default): a click elsewhere closes it. Not while its own
  // menu is open.
  void SetTransient(bool transient) { transient_ = transient; }
  bool IsTransient() const { return transient_; }

  // Shows it beside `anchor` (global coordinates; a 1×1 rectangle at the
  // pointer when the tray reports no geometry) on the screen that holds it.
  void ShowBeside(const QRect& anchor);
  // The content's height changes; the width stays.
  void SetContentHeight(int height);

  // A light palette, whatever the desktop's.
  static QPalette LightPalette();
  static QPalette DarkPalette();
  // The palette of the interface's appearance now (Appearance::CurrentIsDark).
  static QPalette InterfacePalette();

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  Kind kind_;
  bool transient_ = true;
  bool closedReported_ = false;
  SwayPopoverPlacer* swayPlacer_ = nullptr;  // a child; on sway only
  std::function<void()> willShow_;
  std::function<void()> didClose_;
};

}  // namespace vantorel
