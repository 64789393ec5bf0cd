#include "desktop/popover/SegmentedControl.h"

#include <QHBoxLayout>
#include <QEvent>
#include <QToolButton>

namespace vantorel {

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int i = 0; i < labels.size(); ++i) {
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("segment%1").arg(i));
    button->setText(labels[i]);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    button->setMinimumWidth(96);
    button->setFixedHeight(24);
    button->setFocusPolicy(Qt::TabFocus);  // Tab reaches the tabs; Space picks one
    connect(button, &QToolButton::clicked, this, [this] {
      if (changed_) changed_();
    });
    connect(button, &QToolButton::toggled, this, [this] { ShowSelection(); });
    layout->addWidget(button);
    segments_.push_back(button);
  }
}

// The selected segment in the palette's highlight: a style's own pressed
// look is too faint on a dark palette to tell which tab is chosen.
void SegmentedControl::ShowSelection() {
  for (QToolButton* button : segments_) {
    QPalette look = palette();
    if (button->isChecked()) {
      look.setColor(QPalette::Button, look.color(QPalette::Highlight));
      look.setColor(QPalette::ButtonText, look.color(QPalette::HighlightedText));
    }
    button->setPalette(look);
  }
}

void SegmentedControl::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) ShowSelection();
}

void SegmentedControl::SetSelectedSegment(int segment) {
  if (segment >= 0 && segment < static_cast<int>(segments_.size()))
    segments_[static_cast<std::size_t>(segment)]->setChecked(true);
}

int SegmentedControl::SelectedSegment() const {
  for (std::size_t i = 0; i < segments_.size(); ++i)
    if (segments_[i]->isChecked()) return static_cast<int>(i);
  return -1;
}

void SegmentedControl::SetSegmentEnabled(int segment, bool enabled) {
  Segment(segment)->setEnabled(enabled);
}

bool SegmentedControl::IsSegmentEnabled(int segment) const { return Segment(segment)->isEnabled(); }

}  // namespace vantorel
