#include "desktop/popover/TransferListView.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolButton>

#include "desktop/helpers/Workspace.h"
#include "desktop/popover/DelayedCall.h"
#include "desktop/popover/TransferListModel.h"
#include "desktop/popover/TransferRowDelegate.h"

namespace vantorel {

namespace {
constexpr int kButtonSize = 20;
constexpr int kButtonGap = 4;
constexpr int kButtonsWidth = 2 * kButtonSize + 2 * kButtonGap;

QToolButton* MakeButton(QWidget* parent, const char* name, const char* icon, const QString& tip) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setIcon(QIcon(QLatin1String(icon)));
  button->setIconSize(QSize(16, 16));
  button->setFixedSize(kButtonSize, kButtonSize);
  button->setAutoRaise(true);
  button->setToolTip(tip);
  button->setFocusPolicy(Qt::NoFocus);
  button->hide();
  return button;
}
}  // namespace

TransferListView::TransferListView(bool hoverButtons, QWidget* parent)
    : QListView(parent), hoverButtons_(hoverButtons), delegate_(new TransferRowDelegate(this)) {
  setItemDelegate(delegate_);
  // Every row is as high as the first: the view never reads 10,000 rows to
  // lay them out, and asks only for those on screen.
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  setMouseTracking(true);
  setTextElideMode(Qt::ElideMiddle);
  if (!hoverButtons_) return;
  removeButton_ = MakeButton(viewport(), "removeButton", ":/popover/remove.svg", QStringLiteral("Stop tracking"));
  revealButton_ = MakeButton(viewport(), "revealButton", ":/popover/reveal.svg", QStringLiteral("Show in folder"));
  connect(removeButton_, &QToolButton::clicked, this, [this] {
    if (buttonsRow_ >= 0 && removeAction_) removeAction_(buttonsRow_);
  });
  connect(revealButton_, &QToolButton::clicked, this, [this] {
    if (buttonsRow_ >= 0 && revealAction_) revealAction_(buttonsRow_);
  });
  showButtons_ = new DelayedCall([this] { SetButtonsHidden(pendingRow_, false); }, this);
  resetScrolling_ = new DelayedCall(
      [this] {
        postedScrollingChanges_ = false;
        hoverRow_ = RowUnderPointer();
        if (hoverRow_ >= 0) SetButtonsHidden(hoverRow_, false);
      },
      this);
}

TransferListModel* TransferListView::Model() const { return dynamic_cast<TransferListModel*>(model()); }

void TransferListView::SetButtonsHidden(int row, bool hidden) {
  if (!hoverButtons_) return;
  showButtons_->Cancel();
  const int previous = buttonsRow_;
  if (hidden || row < 0 || row >= model()->rowCount()) {
    removeButton_->hide();
    revealButton_->hide();
    buttonsRow_ = -1;
  } else {
    const QRect rect = visualRect(model()->index(row, 0));
    const int y = rect.top() + (rect.height() - kButtonSize) / 2;
    revealButton_->move(rect.right() - kButtonGap - kButtonSize, y);
    removeButton_->move(revealButton_->x() - kButtonGap - kButtonSize, y);
    revealButton_->show();
    const bool complete = model()->index(row, 0).data(TransferListModel::CompleteRole).toBool();
    removeButton_->setVisible(!complete);
    buttonsRow_ = row;
  }
  delegate_->SetButtonsRow(buttonsRow_, kButtonsWidth);
  if (previous != buttonsRow_) {
    if (previous >= 0) update(model()->index(previous, 0));
    if (buttonsRow_ >= 0) update(model()->index(buttonsRow_, 0));
  }
}

int TransferListView::RowUnderPointer() const {
  const QPoint at = viewport()->mapFromGlobal(QCursor::pos());
  if (!viewport()->rect().contains(at)) return -1;
  const QModelIndex index = indexAt(at);
  return index.isValid() ? index.row() : -1;
}

std::pair<int, int> TransferListView::VisibleRows() const {
  if (model() == nullptr || model()->rowCount() == 0) return {-1, -1};
  const QModelIndex first = indexAt(QPoint(1, 1));
  if (!first.isValid()) return {-1, -1};
  QModelIndex last = indexAt(QPoint(1, viewport()->height() - 1));
  const int lastRow = last.isValid() ? last.row() : model()->rowCount() - 1;
  return {first.row(), lastRow};
}

void TransferListView::PointerOverRow(int row) {
  if (row == hoverRow_) return;
  hoverRow_ = row;
  if (!hoverButtons_) return;
  // Leaving a row hides its buttons at once; entering one shows them a
  // moment later, unless the list is scrolling under the pointer.
  SetButtonsHidden(-1, true);
  if (row >= 0 && !postedScrollingChanges_) {
    pendingRow_ = row;
    showButtons_->Schedule(kHoverDelay);
  }
}

void TransferListView::mouseMoveEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  PointerOverRow(index.isValid() ? index.row() : -1);
  // No drag selection: a press never selected anything to extend.
  if (event->buttons() == Qt::NoButton) QListView::mouseMoveEvent(event);
}

bool TransferListView::viewportEvent(QEvent* event) {
  // Leaving the rows (for the scroll bar or beyond); a hover button, being
  // the rows' own child, is no leaving.
  if (event->type() == QEvent::Leave) PointerOverRow(-1);
  return QListView::viewportEvent(event);
}

void TransferListView::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && index.isValid()) {
    event->accept();
    if (rowClicked_) rowClicked_(index.row());
    return;
  }
  QListView::mousePressEvent(event);
}

void TransferListView::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void TransferListView::keyPressEvent(QKeyEvent* event) {
  // Return on the current row does what a click on it does.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid() && rowClicked_) {
    event->accept();
    rowClicked_(currentIndex().row());
    return;
  }
  const bool deleteKey = event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
  if (deleteKey && deleteAction_) {
    if (selectionModel() == nullptr || !selectionModel()->hasSelection()) {
      Beep();
    } else {
      deleteAction_();
      return;
    }
  }
  QListView::keyPressEvent(event);
}

void TransferListView::scrollContentsBy(int dx, int dy) {
  QListView::scrollContentsBy(dx, dy);
  if (!hoverButtons_) return;
  // The first scroll hides every hover button; the last one, 0.15 s on,
  // lets the row under the pointer show them again.
  if (!postedScrollingChanges_) SetButtonsHidden(-1, true);
  showButtons_->Cancel();
  resetScrolling_->Schedule(kHoverDelay);
  postedScrollingChanges_ = true;
  hoverRow_ = -1;
}

}  // namespace vantorel
