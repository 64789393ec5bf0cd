#pragma once
// Walking a window with the keyboard alone, as a user without a mouse:
// the controls Tab reaches, in order, and checks that the order reads like
// the layout and that no control is left out.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace vantorel::test {

// Activates `window` and presses Tab until the focus comes back round:
// the widgets it stopped on, from the top left.
inline QList<QWidget*> TabCycle(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
  QList<QWidget*> stops;
  QWidget* first = QApplication::focusWidget();
  if (first == nullptr) {
    QTest::keyClick(window, Qt::Key_Tab);
    first = QApplication::focusWidget();
  }
  // A widget with links keeps the focus while Tab moves along its links.
  int withinOne = 0;
  for (QWidget* at = first; at != nullptr && stops.size() < 60 && withinOne < 20;) {
    if (stops.isEmpty() || stops.back() != at) stops << at;
    QTest::keyClick(at, Qt::Key_Tab);
    QWidget* next = QApplication::focusWidget();
    withinOne = next == at ? withinOne + 1 : 0;
    if (next != at && stops.contains(next)) break;
    at = next;
  }
  // Read from the top left, wherever the focus started.
  const auto place = [](QWidget* w) { return w->mapTo(w->window(), QPoint()); };
  const auto top = std::min_element(stops.begin(), stops.end(), [&](QWidget* a, QWidget* b) {
    return std::pair(place(a).y(), place(a).x()) < std::pair(place(b).y(), place(b).x());
  });
  std::rotate(stops.begin(), top, stops.end());
  return stops;
}

// What a user works with: buttons, fields, menus, lists, links; radio
// buttons count once per group (the arrows move between them).
inline bool IsControl(const QWidget* widget) {
  if (const auto* label = qobject_cast<const QLabel*>(widget))
    return label->textInteractionFlags().testFlag(Qt::LinksAccessibleByKeyboard);
  if (const auto* radio = qobject_cast<const QRadioButton*>(widget)) return radio->isChecked();
  return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QComboBox*>(widget) ||
         qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
         qobject_cast<const QAbstractItemView*>(widget);
}

// Every visible, enabled control of `window` is among `stops` (a spin box
// or a combo box is reached through its own line edit).
inline void ExpectEveryControlReached(QWidget* window, const QList<QWidget*>& stops) {
  std::string names;
  for (QWidget* stop : stops) names += std::string(stop->metaObject()->className()) + ":" + stop->objectName().toStdString() + " ";
  SCOPED_TRACE("Tab stops: " + names);
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    if (!IsControl(widget) || !widget->isVisible() || !widget->isEnabled()) continue;
    if (qobject_cast<QLineEdit*>(widget) && widget->parentWidget() && widget->parentWidget()->focusProxy() == widget)
      continue;
    if (widget->window() != window) continue;  // a popup's own parts
    const bool reached = stops.contains(widget) || (widget->focusProxy() && stops.contains(widget->focusProxy()));
    EXPECT_TRUE(reached) << "not reached by Tab: " << widget->metaObject()->className() << " \""
                         << widget->objectName().toStdString() << "\" " << widget->accessibleName().toStdString();
  }
}

// Each stop is below the one before, or on its row and to its right, in
// the window's coordinates (a line's height of slack for one row).
inline void ExpectReadingOrder(const QList<QWidget*>& stops) {
  for (qsizetype i = 1; i < stops.size(); ++i) {
    const QRect a(stops[i - 1]->mapTo(stops[i - 1]->window(), QPoint()), stops[i - 1]->size());
    const QRect b(stops[i]->mapTo(stops[i]->window(), QPoint()), stops[i]->size());
    const bool sameRow = std::abs(a.center().y() - b.center().y()) < std::max(a.height(), b.height()) / 2 + 1;
    const bool onward = sameRow ? b.left() >= a.right() - 1 : b.center().y() > a.center().y();
    EXPECT_TRUE(onward) << "Tab goes back from " << stops[i - 1]->objectName().toStdString() << " to "
                        << stops[i]->objectName().toStdString() << " (" << a.x() << "," << a.y() << " then "
                        << b.x() << "," << b.y() << ")";
  }
}

}  // namespace vantorel::test
