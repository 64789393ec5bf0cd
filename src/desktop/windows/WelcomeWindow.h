#pragma once
// The first-run welcome: what Vantorel should follow, the whole "Mobile
// Documents" folder or iCloud Drive only (chosen at first), or a folder a
// sync client synchronises: such rows are added as the clients register
// their folders, and the first one found is chosen unless the user has
// chosen already; or another folder, chosen in the folder panel after Done.
// While no client has offered a folder, one sentence says which clients
// Vantorel follows. Done is the default button; Quit ends the application;
// the close box lets the launch go on with nothing stored. Modal.

#include <QDialog>

#include <utility>
#include <vector>

#include "shell/AppFace.h"

class QButtonGroup;
class QLabel;
class QRadioButton;
class QVBoxLayout;

namespace vantorel {

class WelcomeWindow : public QDialog {
public:
  explicit WelcomeWindow(WelcomeFolderSource clientFolders = {}, QWidget* parent = nullptr);
  // Shows it modally and returns the choice.
  WelcomeChoice Run();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // Adds a row for each client folder not shown yet.
  void AddClientRows();

  QRadioButton* rows_[2];
  QRadioButton* anotherFolder_ = nullptr;
  QLabel* noClient_ = nullptr;  // said while no client has offered a folder
  const WelcomeFolderSource clientFolders_;
  std::vector<std::pair<QRadioButton*, WelcomeFolder>> clientRows_;
  QButtonGroup* group_ = nullptr;
  QVBoxLayout* rowLayout_ = nullptr;
  bool userChose_ = false;
  WelcomeChoice::Action action_ = WelcomeChoice::Action::Closed;
};

}  // namespace vantorel
