#include "desktop/windows/PreferencesWindow.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include "desktop/helpers/SystemHelpers.h"
#include "desktop/notify/DesktopNotifier.h"
#include "desktop/status/PanelContrast.h"
#include "desktop/status/StatusImages.h"
#include "desktop/windows/ClientFoldersButton.h"
#include "desktop/windows/FilterListModel.h"
#include "desktop/windows/FolderPanel.h"
#include "shell/AppCommands.h"
#include "shell/FolderInclusion.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/ProgramLocations.h"

namespace vantorel {

namespace {
QPointer<PreferencesWindow> gShown;
// The window's height is the pane's need plus this (toolbar and frame).
constexpr int kWindowChrome = 94;
// Room kept for a title bar before the window manager has drawn one.
constexpr int kTitleBarAllowance = 32;
constexpr const char* kNoSound = "****";

QString Abbreviated(const std::string& path) { return QString::fromStdString(PathWithTilde(path)); }
}  // namespace

PreferencesWindow* PreferencesWindow::Open(TAppCommands* commands) {
  if (!gShown) gShown = new PreferencesWindow(commands);
  gShown->show();
  gShown->raise();
  gShown->activateWindow();
  return gShown;
}

PreferencesWindow* PreferencesWindow::Shown() { return gShown; }

PreferencesWindow::PreferencesWindow(TAppCommands* commands) : commands_(commands) {
  setObjectName(QStringLiteral("preferencesWindow"));
  setWindowTitle(QStringLiteral("Vantorel Preferences"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* toolbar = addToolBar(QStringLiteral("Panes"));
  toolbar->setObjectName(QStringLiteral("paneToolbar"));
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  auto* group = new QActionGroup(this);
  const struct {
    const char* name;
    QStyle::StandardPixmap icon;
  } paneButtons[] = {{"General", QStyle::SP_ComputerIcon},
                     {"Advanced", QStyle::SP_FileDialogDetailedView},
                     {"Filters", QStyle::SP_FileDialogContentsView}};
  // The pane buttons first, so that Tab reaches them before the pane below
  // (the focus goes in the order widgets are made); a toolbar's buttons
  // take no focus unless told.
  for (int i = 0; i < 3; ++i) {
    QAction* action = toolbar->addAction(style()->standardIcon(paneButtons[i].icon), QString::fromUtf8(paneButtons[i].name));
    action->setObjectName(QStringLiteral("pane%1").arg(i));
    action->setCheckable(true);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, i] { SelectPane(i); });
    paneActions_.push_back(action);
    if (QWidget* button = toolbar->widgetForAction(action)) button->setFocusPolicy(Qt::TabFocus);
  }
  panes_ = new QStackedWidget(this);
  panes_->addWidget(MakeGeneralPane());
  panes_->addWidget(MakeAdvancedPane());
  panes_->addWidget(MakeFiltersPane());
  // On a screen too small for a pane, the pane scrolls (FitToPane).
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("paneScroller"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setFocusPolicy(Qt::NoFocus);  // Tab goes to the controls, which it scrolls into view
  scroll->setWidget(panes_);
  setCentralWidget(scroll);
  // From the keyboard: the next and the previous pane, as between tabs;
  // the usual Close keys close the window (Escape too: keyPressEvent).
  const auto step = [this](int by) { SelectPane((panes_->currentIndex() + by + panes_->count()) % panes_->count()); };
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(1); });
  for (const QKeySequence& keys :
       {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(-1); });
  connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::close);
  setFixedWidth(520);
  SelectPane(0);
}

// Escape that no control took (an open editor or popup takes its own).
void PreferencesWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

PreferencesWindow::~PreferencesWindow() {
  for (const auto id : observers_) NSPrefs().RemoveObserver(id);
}

void PreferencesWindow::Follow(const std::string& key, std::function<void()> refresh) {
  refresh();
  observers_.push_back(NSPrefs().AddObserver(key, [refresh](const std::string&) { refresh(); }));
}

void PreferencesWindow::AddCheck(QFormLayout* form, const std::string& key, const char* text, bool fallback) {
  auto* box = new QCheckBox(QString::fromUtf8(text), form->parentWidget());
  box->setObjectName(QString::fromStdString(key));
  Follow(key, [box, key, fallback] {
    const QSignalBlocker quiet(box);
    box->setChecked(NSPrefs().GetBool(key).value_or(fallback));
  });
  connect(box, &QCheckBox::toggled, this, [key](bool on) { NSPrefs().SetBool(key, on); });
  form->addRow(QString(), box);
}

void PreferencesWindow::AddNumber(QFormLayout* form, const std::string& key, const char* label, int low, int high,
                                  int fallback, const char* suffix) {
  auto* spin = new QSpinBox(form->parentWidget());
  spin->setObjectName(QString::fromStdString(key));
  spin->setRange(low, high);
  spin->setSuffix(QString::fromUtf8(suffix));
  Follow(key, [spin, key, fallback] {
    const QSignalBlocker quiet(spin);
    spin->setValue(static_cast<int>(NSPrefs().GetInteger(key).value_or(fallback)));
  });
  connect(spin, &QSpinBox::valueChanged, this, [key](int v) { NSPrefs().SetInteger(key, v); });
  form->addRow(QString::fromUtf8(label), spin);
}

void PreferencesWindow::AddChoice(QFormLayout* form, const std::string& key, const char* label,
                                  const std::vector<std::pair<QString, int>>& choices, std::function<int()> shown) {
  auto* box = new QComboBox(form->parentWidget());
  box->setObjectName(QString::fromStdString(key));
  for (const auto& [text, value] : choices) box->addItem(text, value);
  Follow(key, [box, shown] {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(box->findData(shown()));
  });
  connect(box, &QComboBox::activated, this, [box, key](int i) { NSPrefs().SetInteger(key, box->itemData(i).toInt()); });
  form->addRow(QString::fromUtf8(label), box);
}

void PreferencesWindow::SelectPane(int index) {
  if (index >= 0 && index < static_cast<int>(paneActions_.size())) paneActions_[static_cast<std::size_t>(index)]->setChecked(true);
  panes_->setCurrentIndex(index);
  FitToPane(panes_->widget(index));
}

int PreferencesWindow::NeededHeight(QWidget* pane) {
  if (pane->layout()) {
    pane->resize(pane->width(), pane->layout()->sizeHint().height());
    pane->layout()->activate();
  }
  int needed = 0;
  for (QObject* child : pane->children())
    if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isHidden())
      needed = std::max(needed, widget->geometry().bottom() + 1);
  return needed;
}

void PreferencesWindow::FitToPane(QWidget* pane) {
  QPoint top = pos();
  const int needed = NeededHeight(pane);
  panes_->setFixedHeight(needed);
  int height = needed + kWindowChrome;
  // The whole window, its title bar too, stays on the area the screen
  // leaves to windows (a small screen, a panel): the pane scrolls instead.
  if (const QScreen* where = screen()) {
    const QRect area = where->availableGeometry();
    const int frame = isVisible() ? frameGeometry().height() - geometry().height() : 0;
    const int titleBar = std::max(frame, kTitleBarAllowance);
    // A Wayland compositor tells no panel, and centres the window on the
    // output: at four fifths of its height, a bar of a tenth stays clear.
    height = std::min({height, area.height() - titleBar, area.height() * 4 / 5});
    // (A window's position is its frame's.)
    top.setY(std::clamp(top.y(), area.top(), std::max(area.top(), area.bottom() + 1 - height - titleBar)));
  }
  setFixedHeight(height);
  move(top);  // the top edge stays where it is, on the screen
}

QWidget* PreferencesWindow::MakeGeneralPane() {
  auto* pane = new QWidget();
  pane->setObjectName(QStringLiteral("generalPane"));
  auto* form = new QFormLayout(pane);
  form->setContentsMargins(12, 12, 12, 12);
  form->setLabelAlignment(Qt::AlignRight);

  folderField_ = new QLineEdit(pane);
  folderField_->setObjectName(QStringLiteral("iCloudFolderField"));
  folderField_->setReadOnly(true);
  form->addRow(QStringLiteral("Watched folder:"), folderField_);
  auto* folderButtons = new QHBoxLayout();
  const auto useFolder = [this](const char* tilded) {
    NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, fileURL(tilded));
    ShowFolder();
  };
  auto* every = new QPushButton(QStringLiteral("Every Synced Folder"), pane);
  every->setObjectName(QStringLiteral("useICloudFolder"));
  connect(every, &QPushButton::clicked, this, [useFolder] { useFolder("~/Library/Mobile Documents"); });
  auto* drive = new QPushButton(QStringLiteral("iCloud Drive Only"), pane);
  drive->setObjectName(QStringLiteral("useICloudDriveFolder"));
  connect(drive, &QPushButton::clicked, this, [useFolder] { useFolder(kDefaultICloudDriveFolder); });
  auto* choose = new QPushButton(QStringLiteral("Choose…"), pane);
  choose->setObjectName(QStringLiteral("chooseICloudFolder"));
  connect(choose, &QPushButton::clicked, this, [this] {
    FolderPanel panel;
    panel.title = "Choose";
    panel.message = "Please choose the iCloud Drive folder to monitor. All changes inside the folder will be tracked.";
    panel.prompt = "Choose";
    panel.startDirectory = NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or(HomeDirectory());
    panel.canCreateDirectories = true;
    FolderPanelDialog dialog(panel, this);
    if (const auto chosen = dialog.Run()) {
      NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *chosen);
      IncludeChosenFolder(NSPrefs(), *chosen);
      ShowFolder();
    }
  });
  // The sync client's own folders (several with Syncthing), when it has any.
  auto* clientFolders = MakeClientFoldersButton(pane, commands_, [this](const std::string& root) {
    NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, root);
    IncludeChosenFolder(NSPrefs(), root);
    ShowFolder();
  });
  // Across the whole pane: the buttons need more than the field column.
  folderButtons->addWidget(clientFolders);
  folderButtons->addStretch();
  folderButtons->addWidget(every);
  folderButtons->addWidget(drive);
  folderButtons->addWidget(choose);
  form->addRow(folderButtons);
  Follow(kPreferenceKeyICloudDriveFolder, [this] { ShowFolder(); });

  // Where item state comes from: read at launch, so a change waits for the next.
  auto* service = new QComboBox(pane);
  service->setObjectName(QStringLiteral("syncServicePopup"));
  const std::pair<const char*, const char*> services[] = {{"Automatic", "auto"},
                                                          {"Extended attributes", "attributes"},
                                                          {"Nextcloud client", "nextcloud"},
                                                          {"ownCloud client", "owncloud"},
                                                          {"Syncthing", "syncthing"}};
  for (const auto& [title, value] : services) service->addItem(QString::fromUtf8(title), QString::fromUtf8(value));
  auto* found = new QLabel(pane);
  found->setObjectName(QStringLiteral("syncServiceFound"));
  found->setTextFormat(Qt::PlainText);  // it names folders
  found->setWordWrap(true);
  found->setText(QStringLiteral("Now: %1.").arg(
      QString::fromStdString(commands_ != nullptr ? commands_->itemSourceSummary() : std::string("not started"))));
  Follow(kPreferenceKeySyncService, [service, found] {
    const QSignalBlocker quiet(service);
    const QString stored = QString::fromStdString(NSPrefs().GetString(kPreferenceKeySyncService).value_or("auto"));
    const int index = service->findData(stored);
    service->setCurrentIndex(index >= 0 ? index : 0);
  });
  connect(service, &QComboBox::currentIndexChanged, this, [service, found](int) {
    NSPrefs().SetString(kPreferenceKeySyncService, service->currentData().toString().toStdString());
    if (!found->text().endsWith(QStringLiteral("next launch.")))
      found->setText(found->text() + QStringLiteral(" The change takes effect at the next launch."));
  });
  form->addRow(QStringLiteral("Sync service:"), service);
  form->addRow(QString(), found);


  auto* login = new QCheckBox(QStringLiteral("Open Vantorel when you log in"), pane);
  login->setObjectName(QStringLiteral("openAtLogin"));
  Follow(kPreferenceKeyLaunchAtStartup, [login] {
    const QSignalBlocker quiet(login);
    login->setChecked(NSPrefs().GetBool(kPreferenceKeyLaunchAtStartup).value_or(false));
  });
  connect(login, &QCheckBox::toggled, this, [](bool on) {
    NSPrefs().SetBool(kPreferenceKeyLaunchAtStartup, on);
    openAtLogin(on, LauncherPath());
  });
  form->addRow(QString(), login);
  AddCheck(form, kPreferenceKeyHoldShutdownWhileUploading, "Warn before shutting down while files upload", true);

  AddCheck(form, kPreferenceKeyShowNotifications, "Show a notification when a batch completes", true);
  AddCheck(form, kPreferenceKeyShowDownloadNotifications, "Also for downloads", true);

  AddNumber(form, kPreferenceKeyElapsedTimeNotificationLimit, "Only for batches longer than:", 0, 86400, 30, " s");

  sounds_ = new QComboBox(pane);
  sounds_->setObjectName(QStringLiteral("notificationSoundsButton"));
  FillSoundMenu();
  connect(sounds_, &QComboBox::activated, this, [this](int index) {
    const QVariant path = sounds_->itemData(index);
    if (sounds_->itemText(index) == QStringLiteral("None")) {
      NSPrefs().SetString(kPreferenceKeyNotificationSound, kNoSound);
    } else if (path.isValid()) {
      NSPrefs().SetString(kPreferenceKeyNotificationSound, path.toString().toStdString());
      UserNotification preview;
      preview.sound = UserNotification::Sound::Named;
      preview.soundName = lastPathComponentWithoutExtension(path.toString().toStdString());
      DesktopNotifier::PlaySound(preview);
    } else {
      NSPrefs().Remove(kPreferenceKeyNotificationSound);
    }
  });
  form->addRow(QStringLiteral("Sound:"), sounds_);

  AddChoice(form, kPreferenceKeyStatusItemMode, "Tray icon shows:", {{"Icon", 0}, {"Progress", 1}},
            [] { return static_cast<int>(NSPrefs().GetInteger(kPreferenceKeyStatusItemMode).value_or(0)); });
  std::vector<std::pair<QString, int>> sizes;
  for (const int offered : kOfferedStatusIconSizes) sizes.emplace_back(QStringLiteral("%1 px").arg(offered), offered);
  AddChoice(form, kPreferenceKeyStatusItemIconSize, "Icon size:", sizes,
            [] { return UsableStatusItemIconSize(NSPrefs()); });

  // The tray icon's artwork: found from the panel, or the user's choice
  // where the panel says nothing (StatusNotifierItem hosts) or says it wrongly.
  auto* trayLook = new QComboBox(pane);
  trayLook->setObjectName(QStringLiteral("statusItemAppearancePopup"));
  const std::pair<const char*, const char*> looks[] = {{"Automatic (from the panel)", "auto"},
                                                       {"Light (for dark panels)", "light"},
                                                       {"Dark (for light panels)", "dark"}};
  for (const auto& [title, value] : looks) trayLook->addItem(QString::fromUtf8(title), QString::fromUtf8(value));
  Follow(kPreferenceKeyStatusItemAppearance, [trayLook] {
    const QSignalBlocker quiet(trayLook);
    const StatusItemAppearance stored = StoredStatusItemAppearance(NSPrefs());
    trayLook->setCurrentIndex(stored == StatusItemAppearance::LightGlyph  ? 1
                              : stored == StatusItemAppearance::DarkGlyph ? 2
                                                                          : 0);
  });
  connect(trayLook, &QComboBox::currentIndexChanged, this, [trayLook](int) {
    NSPrefs().SetString(kPreferenceKeyStatusItemAppearance, trayLook->currentData().toString().toStdString());
  });
  form->addRow(QStringLiteral("Icon colours:"), trayLook);
  return pane;
}

void PreferencesWindow::FillSoundMenu() {
  const QSignalBlocker quiet(sounds_);
  sounds_->clear();
  sounds_->addItem(QStringLiteral("Default"));
  sounds_->addItem(QStringLiteral("None"), QString::fromLatin1(kNoSound));
  sounds_->insertSeparator(2);
  for (const std::string& path : systemSounds())
    sounds_->addItem(QString::fromStdString(lastPathComponentWithoutExtension(path)), QString::fromStdString(path));
  // The stored sound, when it is among them; none stored is "Default";
  // otherwise nothing is chosen and the stored value stays.
  sounds_->setCurrentIndex(-1);
  const auto stored = NSPrefs().GetString(kPreferenceKeyNotificationSound);
  if (!stored) {
    if (!NSPrefs().HasKey(kPreferenceKeyNotificationSound)) sounds_->setCurrentIndex(0);
    return;
  }
  const int index = sounds_->findData(QString::fromStdString(*stored));
  if (index >= 0) sounds_->setCurrentIndex(index);
}

void PreferencesWindow::ShowFolder() {
  folderField_->setText(Abbreviated(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("")));
  folderField_->setCursorPosition(0);  // the start ("~/…") in sight
}

QWidget* PreferencesWindow::MakeAdvancedPane() {
  auto* pane = new QWidget();
  pane->setObjectName(QStringLiteral("advancedPane"));
  auto* form = new QFormLayout(pane);
  form->setContentsMargins(12, 12, 12, 12);
  form->setLabelAlignment(Qt::AlignRight);

  AddChoice(form, kPreferenceKeyPollingMode, "Polling:",
            {{"Normal (100 transfers a pass)", 0}, {"Light (25 transfers a pass)", 1}, {"Thorough (200 transfers a pass)", 2}},
            [] { return static_cast<int>(NSPrefs().GetInteger(kPreferenceKeyPollingMode).value_or(1)); });

  AddCheck(form, kPreferenceKeyTrackIncomingDownloads, "Track received downloads", true);
  AddCheck(form, kPreferenceKeyDownloadErrorLogging, "Log downloads", true);
  AddCheck(form, kPreferenceKeyEnableLogging, "Keep a log of transfers", true);
  AddNumber(form, kPreferenceKeyClearLogAfterSize, "Empty the log at:", 1, 10000, 25, " MB");
  AddCheck(form, kPreferenceKeyIgnoreHiddenFiles, "Ignore hidden files", true);
  AddCheck(form, kPreferenceKeyIgnoreSymbolicLinks, "Ignore symbolic links", true);
  AddNumber(form, kPreferenceKeyDownloadBatchDelay, "Download batch delay:", 0, 3600, 15, " s");
  AddNumber(form, kPreferenceKeyRecentFilesLimit, "Recent transfers kept:", 1, 10000, 100, "");
  auto* scan = new QPushButton(QStringLiteral("Scan for Transfers…"), pane);
  scan->setObjectName(QStringLiteral("scanForTransfers"));
  connect(scan, &QPushButton::clicked, this, [this] {
    if (commands_) commands_->performRescan(true);
  });
  form->addRow(QString(), scan);
  return pane;
}

QWidget* PreferencesWindow::MakeFiltersPane() {
  auto* pane = new QWidget();
  pane->setObjectName(QStringLiteral("filtersPane"));
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(12, 12, 12, 12);
  const auto table = [this, pane, layout](const std::string& key, const char* title, bool include) {
    auto* label = new QLabel(QString::fromUtf8(title), pane);
    layout->addWidget(label);
    auto* model = new FilterListModel(key, this);
    auto* list = new QListView(pane);
    // A list is read by its own name (its label's relation is not passed on).
    label->setBuddy(list);
    list->setAccessibleName(label->text().chopped(1));
    list->setObjectName(include ? QStringLiteral("includeFiltersList") : QStringLiteral("excludeFiltersList"));
    list->setModel(model);
    list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    list->setMinimumHeight(90);
    list->setMaximumHeight(140);
    // Escape on a new row, or leaving it as it was, takes the row away.
    // (The delegate closes an editor after committing what it held, or
    // with nothing on Escape; only the draft's own editor ends the draft.)
    connect(list->itemDelegate(), &QAbstractItemDelegate::closeEditor, model, [list, model](QWidget* editor) {
      if (list->indexAt(editor->geometry().center()).row() == model->DraftRow()) model->EditingEnded();
    });
    layout->addWidget(list);
    auto* buttons = new QHBoxLayout();
    auto* add = new QPushButton(QStringLiteral("+"), pane);
    auto* remove = new QPushButton(QStringLiteral("−"), pane);
    add->setObjectName(include ? QStringLiteral("addIncludeFilter") : QStringLiteral("addExcludeFilter"));
    remove->setObjectName(include ? QStringLiteral("removeIncludeFilter") : QStringLiteral("removeExcludeFilter"));
    add->setFixedWidth(32);
    remove->setFixedWidth(32);
    // What a screen reader says, and the pointer's tip, for the two signs.
    const QString kind = include ? QStringLiteral("include") : QStringLiteral("exclude");
    add->setAccessibleName(QStringLiteral("Add %1 pattern").arg(kind));
    remove->setAccessibleName(QStringLiteral("Remove %1 pattern").arg(kind));
    add->setToolTip(add->accessibleName());
    remove->setToolTip(remove->accessibleName());
    connect(add, &QPushButton::clicked, this, [this, include] { AddFilter(include); });
    connect(remove, &QPushButton::clicked, this, [this, include] { RemoveFilter(include); });
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    layout->addLayout(buttons);
    observers_.push_back(NSPrefs().AddObserver(key, [model](const std::string&) { model->Reload(); }));
    (include ? includes_ : excludes_) = model;
    (include ? includeList_ : excludeList_) = list;
  };
  table(kPreferenceKeyIncludePatterns, "Track paths matching:", true);
  table(kPreferenceKeyExcludePatterns, "Never track paths matching:", false);
  return pane;
}

void PreferencesWindow::AddFilter(bool include) {
  FilterListModel* model = include ? includes_ : excludes_;
  QListView* list = include ? includeList_ : excludeList_;
  const QModelIndex index = model->index(model->AddUntitled());
  list->setCurrentIndex(index);
  list->edit(index);  // its text selected, ready to be typed over
}

void PreferencesWindow::RemoveFilter(bool include) {
  QListView* list = include ? includeList_ : excludeList_;
  const QModelIndexList selected = list->selectionModel()->selectedIndexes();
  if (selected.isEmpty()) return;  // nothing chosen: nothing happens
  (include ? includes_ : excludes_)->RemoveRow(selected.first().row());
}

}  // namespace vantorel
