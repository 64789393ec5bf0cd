#pragma once
// The first-run welcome: what Vantorel should follow, the whole "Mobile
// Documents" folder or iCloud Drive only (chosen at first). Done is the
// default button; Quit ends the application; the close box lets the launch
// go on with nothing stored. Modal.

#include <QDialog>

#include "shell/AppFace.h"

class QRadioButton;

namespace vantorel {

class WelcomeWindow : public QDialog {
public:
  explicit WelcomeWindow(QWidget* parent = nullptr);
  // Shows it modally and returns the choice.
  WelcomeChoice Run();

private:
  QRadioButton* rows_[2];
  WelcomeChoice::Action action_ = WelcomeChoice::Action::Closed;
};

}  // namespace vantorel
