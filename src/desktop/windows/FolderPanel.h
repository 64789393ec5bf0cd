#pragma once
// A folder-choice panel: the controller's message shown above Qt's own
// file dialog (a native one could not show it), directories only, its
// confirm button named by the caller, folder creation when allowed.

#include <QDialog>

#include <optional>
#include <string>

#include "shell/AppFace.h"

class QFileDialog;

namespace vantorel {

class FolderPanelDialog : public QDialog {
public:
  explicit FolderPanelDialog(const FolderPanel& panel, QWidget* parent = nullptr);
  // Shows it modally; the chosen folder, or nothing when cancelled.
  std::optional<std::string> Run();
  QFileDialog* FileDialog() const { return files_; }

private:
  QFileDialog* files_;
};

}  // namespace vantorel
