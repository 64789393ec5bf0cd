#pragma once
// Paints a row of the popover's lists, 44 pixels high: the 32-pixel icon,
// the name (elided in the middle, whole characters only) and a smaller grey
// second line, on white. Leaves room at the right for the hover buttons of
// the row that shows them.

#include <QStyledItemDelegate>

namespace vantorel {

class TransferRowDelegate : public QStyledItemDelegate {
public:
  static constexpr int kRowHeight = 44;
  static constexpr int kIconSize = 32;

  using QStyledItemDelegate::QStyledItemDelegate;

  // The row whose text stops short of the hover buttons (−1: none).
  void SetButtonsRow(int row, int buttonsWidth) {
    buttonsRow_ = row;
    buttonsWidth_ = buttonsWidth;
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
  int buttonsRow_ = -1;
  int buttonsWidth_ = 0;
};

}  // namespace vantorel
