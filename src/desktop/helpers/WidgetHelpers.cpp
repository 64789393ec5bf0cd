#include "desktop/helpers/WidgetHelpers.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QWidget>

#include <algorithm>

#include "desktop/status/StatusItem.h"

namespace vantorel {

Alert alertWithMessage(const std::string& message) { return Alert{message, "", {"Ok"}}; }

std::vector<std::int32_t> selectedRows(const QAbstractItemView& view) {
  std::vector<std::int32_t> rows;
  if (const QItemSelectionModel* selection = view.selectionModel())
    for (const QModelIndex& index : selection->selectedIndexes()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void setSecondaryText(QWidget& widget, qreal fontScale) {
  QFont font = widget.font();
  font.setPointSizeF(std::max(6.0, font.pointSizeF() * fontScale));
  widget.setFont(font);
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
  widget.setPalette(palette);
}

QString PlainToolTip(const QString& text) {
  if (text.isEmpty()) return text;
  return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

void setNeedsDisplay(QWidget& widget) { widget.update(); }

TStatusItemTrackingView& trackingView(StatusItem& statusItem) { return statusItem.View(); }

}  // namespace vantorel
