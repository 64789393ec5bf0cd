#include "desktop/popover/TransferRowDelegate.h"

#include <QPainter>

#include "desktop/popover/TransferListModel.h"

namespace vantorel {

QSize TransferRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  // Fixed: the view never reads a row to learn its height.
  return {option.rect.width(), kRowHeight};
}

void TransferRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  painter->save();
  const QRect rect = option.rect;
  const QPalette& palette = option.palette;
  const bool selected = option.state.testFlag(QStyle::State_Selected);
  painter->fillRect(rect, selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base));

  const int margin = 8;
  const QRect iconRect(rect.left() + margin, rect.top() + (rect.height() - kIconSize) / 2, kIconSize, kIconSize);
  index.data(Qt::DecorationRole).value<QIcon>().paint(painter, iconRect);

  const int textLeft = iconRect.right() + 1 + margin;
  int textRight = rect.right() - margin;
  if (index.row() == buttonsRow_) textRight -= buttonsWidth_;
  const int textWidth = std::max(0, textRight - textLeft);

  QFont nameFont = option.font;
  QFont secondFont = option.font;
  secondFont.setPointSizeF(std::max(6.0, nameFont.pointSizeF() * 0.85));
  const QFontMetrics nameMetrics(nameFont);
  const QFontMetrics secondMetrics(secondFont);
  const QString secondary = index.data(TransferListModel::SecondaryRole).toString();
  const int blockHeight = nameMetrics.height() + (secondary.isEmpty() ? 0 : secondMetrics.height());
  int y = rect.top() + (rect.height() - blockHeight) / 2;

  const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  painter->setFont(nameFont);
  painter->setPen(text);
  const QString name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, textWidth);
  painter->drawText(QRect(textLeft, y, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
  y += nameMetrics.height();
  if (!secondary.isEmpty()) {
    painter->setFont(secondFont);
    // A failure in the error colour, a lighter red where the list is dark.
    const QColor error = palette.color(QPalette::Base).lightness() < 128 ? QColor(0xff, 0x7b, 0x72) : QColor(0xc4, 0x2b, 0x1c);
    painter->setPen(selected ? text
                    : index.data(TransferListModel::FailedRole).toBool() ? error
                                                                        : palette.color(QPalette::PlaceholderText));
    painter->drawText(QRect(textLeft, y, textWidth, secondMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      secondMetrics.elidedText(secondary, Qt::ElideRight, textWidth));
  }
  painter->restore();
}

}  // namespace vantorel
