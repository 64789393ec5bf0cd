#include "desktop/windows/ClientFoldersButton.h"

#include <QMenu>
#include <QTimer>

#include "shell/AppCommands.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {

QToolButton* MakeClientFoldersButton(QWidget* parent, TAppCommands* commands,
                                     std::function<void(const std::string& folder)> choose) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QStringLiteral("syncClientFolders"));
  button->setText(QStringLiteral("Client's Folders"));
  button->setToolTip(QStringLiteral("Watch one of the folders your sync client synchronises"));
  button->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(button);
  button->setMenu(menu);
  const auto list = [button, menu, commands, choose = std::move(choose)] {
    const std::vector<TAppCommands::ClientFolder> folders =
        commands != nullptr ? commands->syncClientFolders() : std::vector<TAppCommands::ClientFolder>{};
    const std::string watched = NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("");
    // Made again only when what it shows changed (an open menu stays).
    QStringList listed{QString::fromStdString(watched)};
    for (const auto& folder : folders) listed << QString::fromStdString(folder.path + "\n" + folder.label);
    if (menu->property("listed").isValid() && menu->property("listed").toStringList() == listed) return;
    menu->setProperty("listed", listed);
    menu->clear();
    for (const auto& folder : folders) {
      QAction* action = menu->addAction(QString::fromStdString(folder.Title()));
      QObject::connect(action, &QAction::triggered, button, [choose, root = folder.path] { choose(root); });
      action->setCheckable(true);
      action->setChecked(folder.path == watched);
    }
    button->setVisible(!folders.empty());
  };
  list();
  auto* relist = new QTimer(button);
  relist->setInterval(2000);
  QObject::connect(relist, &QTimer::timeout, button, list);
  relist->start();
  return button;
}

}  // namespace vantorel
