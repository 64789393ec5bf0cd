#pragma once
// The preferences window: one shared window (opening it again raises it)
// with three panes, General, Advanced and Filters, chosen from its toolbar.
// Every control stores its key at once with its stored type; the window
// follows changes other processes make while it is open; a value of the
// wrong type shows as its default and is not rewritten. Its height follows
// the pane: the lowest control's bottom plus 94 points, the top edge kept.

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QListView;
class QStackedWidget;

namespace vantorel {

class FilterListModel;
class TAppCommands;

class PreferencesWindow : public QMainWindow {
public:
  // Shows the one window, made when none is open.
  static PreferencesWindow* Open(TAppCommands* commands);
  // The open window, or null.
  static PreferencesWindow* Shown();
  ~PreferencesWindow() override;

  // 0 General, 1 Advanced, 2 Filters.
  void SelectPane(int index);
  // The height a pane needs: the lowest bottom edge of its controls.
  static int NeededHeight(QWidget* pane);
  // Sizes the window to the pane shown: as tall as the pane's lowest control
  // needs plus the pane toolbar and frame, growing or shrinking downwards so
  // that its top edge stays where it is.
  void FitToPane(QWidget* pane);

  void AddFilter(bool include);
  void RemoveFilter(bool include);

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  explicit PreferencesWindow(TAppCommands* commands);
  QWidget* MakeGeneralPane();
  QWidget* MakeAdvancedPane();
  QWidget* MakeFiltersPane();
  void FillSoundMenu();
  void ShowFolder();
  // A check box or a number field bound to a key: stored at once, following
  // changes made elsewhere, the fallback shown for an absent or wrong value.
  void AddCheck(QFormLayout* form, const std::string& key, const char* text, bool fallback);
  void AddNumber(QFormLayout* form, const std::string& key, const char* label, int low, int high, int fallback,
                 const char* suffix);
  // A pop-up menu of integer choices bound to a key; `shown` is the value to
  // select (the stored one, or its fallback when absent or of the wrong type).
  void AddChoice(QFormLayout* form, const std::string& key, const char* label,
                 const std::vector<std::pair<QString, int>>& choices, std::function<int()> shown);
  // Runs `refresh` now and whenever `key` changes (another process too).
  void Follow(const std::string& key, std::function<void()> refresh);

  TAppCommands* commands_;
  QStackedWidget* panes_;
  std::vector<QAction*> paneActions_;
  QLineEdit* folderField_ = nullptr;
  QComboBox* sounds_ = nullptr;
  FilterListModel* includes_ = nullptr;
  FilterListModel* excludes_ = nullptr;
  QListView* includeList_ = nullptr;
  QListView* excludeList_ = nullptr;
  std::vector<std::uint64_t> observers_;
};

}  // namespace vantorel
