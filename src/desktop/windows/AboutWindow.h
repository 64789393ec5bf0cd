#pragma once
// About Vantorel: the icon, the name, the version and build, the website.
// One window; opening it again raises it.

#include <QDialog>

namespace vantorel {

class AboutWindow : public QDialog {
public:
  // Shows the one About window, made when none is open.
  static AboutWindow* Open();

private:
  AboutWindow();
};

}  // namespace vantorel
