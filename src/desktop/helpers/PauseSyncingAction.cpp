#include "desktop/helpers/PauseSyncingAction.h"

#include <QAction>
#include <QMenu>

#include "shell/AppCommands.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

QAction* AddPauseSyncingAction(QMenu* menu, std::function<TAppCommands*()> commandsOf) {
  QAction* action = menu->addAction(QStringLiteral("Pause Syncing"));
  action->setObjectName(QStringLiteral("pauseSyncing"));
  action->setVisible(false);
  QObject::connect(menu, &QMenu::aboutToShow, action, [action, commandsOf] {
    TAppCommands* commands = commandsOf();
    const bool can = commands != nullptr && commands->canPauseSyncing();
    // A client that could be paused but is away: shown, greyed.
    action->setVisible(can || (commands != nullptr && commands->pausesSyncing()));
    action->setEnabled(can);
    action->setText(can && commands->syncingPaused() ? QStringLiteral("Resume Syncing") : QStringLiteral("Pause Syncing"));
  });
  QObject::connect(action, &QAction::triggered, action, [commandsOf] {
    TAppCommands* commands = commandsOf();
    if (commands == nullptr) return;
    std::string problem;
    if (!commands->setSyncingPaused(!commands->syncingPaused(), &problem))
      WriteDiagnosticLine("Cannot pause or resume syncing: " + problem + ".");
  });
  return action;
}

}  // namespace vantorel
