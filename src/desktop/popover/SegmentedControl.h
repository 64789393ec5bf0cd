#pragma once
// A row of joined toggle buttons of which exactly one is selected; each
// segment can be enabled or disabled on its own.

#include <QWidget>

#include <functional>
#include <vector>

class QToolButton;

namespace vantorel {

class SegmentedControl : public QWidget {
public:
  SegmentedControl(const QStringList& labels, QWidget* parent);

  // Selecting from code does not call the change action.
  void SetSelectedSegment(int segment);
  int SelectedSegment() const;
  void SetSegmentEnabled(int segment, bool enabled);
  bool IsSegmentEnabled(int segment) const;
  QToolButton* Segment(int segment) const { return segments_.at(static_cast<std::size_t>(segment)); }
  // A user's click changed the selection.
  void SetChangeAction(std::function<void()> action) { changed_ = std::move(action); }

protected:
  void changeEvent(QEvent* event) override;

private:
  void ShowSelection();

  std::vector<QToolButton*> segments_;
  std::function<void()> changed_;
};

}  // namespace vantorel
