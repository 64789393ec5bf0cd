#pragma once
// "Pause Syncing" / "Resume Syncing" in a menu: shown only while the sync
// client can be paused from here, worded by its state each time the menu
// opens. Main thread.

#include <functional>

class QAction;
class QMenu;

namespace vantorel {

class TAppCommands;

// Adds the item to `menu`; `commands` is asked each time (it may answer
// null: the item is then hidden).
QAction* AddPauseSyncingAction(QMenu* menu, std::function<TAppCommands*()> commands);

}  // namespace vantorel
