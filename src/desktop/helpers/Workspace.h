#pragma once
// What a user's desktop does with files and addresses: open them with their
// default handler, show an item in the file manager, and the alert beep.
// Requests go out without waiting for an answer (the main thread never
// blocks on the file manager or the opener); an opener that could open
// nothing is said once (DetachedOpener).

#include <functional>
#include <string>

class QUrl;

namespace vantorel {

// A file: address for a path as its bytes are, so that a name that is not
// UTF-8 still names the same file for the program that receives it.
QUrl FileUrlForPath(const std::string& path);

// Shows the item selected in the file manager
// (org.freedesktop.FileManager1.ShowItems), or, when no file manager answers
// on the session bus, opens the folder that holds it.
void RevealInFileManager(const std::string& path);

// Opens a file, folder or web address with the desktop's default handler.
void OpenWithDefaultHandler(const std::string& pathOrAddress);

// The alert beep (a file that has gone, a key with nothing to act on).
void Beep();

// Tests: every request above goes to `hook` ("reveal", "open", "beep" and
// the path or address) instead of the desktop; an empty hook restores it.
void SetWorkspaceHookForTesting(std::function<void(const std::string& verb, const std::string& target)> hook);

}  // namespace vantorel
