#pragma once
// Preferences' "Client's Folders" button: a menu of the folders the sync
// client synchronises, as the client names them, the watched one checked;
// hidden while the client has none, and brought up to date every two
// seconds (a client found after the window opened shows up in it). Main
// thread only.

#include <QToolButton>

#include <functional>
#include <string>

namespace vantorel {

class TAppCommands;

// `commands` may be null (no client to ask); `choose` runs with the folder
// the user picked.
QToolButton* MakeClientFoldersButton(QWidget* parent, TAppCommands* commands,
                                     std::function<void(const std::string& folder)> choose);

}  // namespace vantorel
