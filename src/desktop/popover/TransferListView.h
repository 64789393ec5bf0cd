#pragma once
// One of the popover's lists. A click on a row acts on it (reveals the
// file) and never selects it; rows are selected from the keyboard, and the
// Delete key hands the selection to the delete action (a beep when nothing
// is selected). With hover buttons, the row under the pointer offers
// remove and reveal 0.15 s after the pointer entered it; scrolling hides
// them until 0.15 s after the last scroll, when the row then under the
// pointer shows them again. A finished transfer never offers remove.
// Main thread only.

#include <QListView>

#include <functional>

class QToolButton;

namespace vantorel {

class DelayedCall;
class TransferListModel;
class TransferRowDelegate;

class TransferListView : public QListView {
public:
  static constexpr int kHoverDelay = 150;  // milliseconds

  TransferListView(bool hoverButtons, QWidget* parent);

  void SetRowClickAction(std::function<void(int row)> action) { rowClicked_ = std::move(action); }
  void SetDeleteAction(std::function<void()> action) { deleteAction_ = std::move(action); }
  void SetRemoveAction(std::function<void(int row)> action) { removeAction_ = std::move(action); }
  void SetRevealAction(std::function<void(int row)> action) { revealAction_ = std::move(action); }

  // The hover buttons, shown for ButtonsRow() (−1 when hidden).
  void SetButtonsHidden(int row, bool hidden);
  int ButtonsRow() const { return buttonsRow_; }
  QToolButton* RemoveButton() const { return removeButton_; }
  QToolButton* RevealButton() const { return revealButton_; }
  // True from the first scroll until 0.15 s after the last.
  bool PostedScrollingChanges() const { return postedScrollingChanges_; }
  // The row under the pointer, −1 for none.
  int RowUnderPointer() const;
  // The rows on screen, first and last (−1, −1 when there are none).
  std::pair<int, int> VisibleRows() const;

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

private:
  void PointerOverRow(int row);
  TransferListModel* Model() const;

  bool hoverButtons_;
  TransferRowDelegate* delegate_;
  QToolButton* removeButton_ = nullptr;
  QToolButton* revealButton_ = nullptr;
  DelayedCall* showButtons_ = nullptr;
  DelayedCall* resetScrolling_ = nullptr;
  int hoverRow_ = -1;
  int buttonsRow_ = -1;
  int pendingRow_ = -1;
  bool postedScrollingChanges_ = false;
  std::function<void(int)> rowClicked_;
  std::function<void()> deleteAction_;
  std::function<void(int)> removeAction_;
  std::function<void(int)> revealAction_;
};

}  // namespace vantorel
