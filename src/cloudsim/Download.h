#pragma once
// An item arriving from the store: first its hidden placeholder
// "folder/.NAME.icloud", then, after a delay, the item itself with its
// content, marked uploaded and downloaded, and the placeholder removed.

#include <functional>
#include <string>

#include "units/runtime/MainLoop.h"

namespace vantorel {

// Starts the arrival of `path` (its folder must exist) on the main loop;
// `done` is called with an empty text when it has arrived, or the reason
// why it could not.
void PlayDownload(MainLoop& loop, const std::string& path, std::size_t size, double delay,
                  std::function<void(const std::string& error)> done);

}  // namespace vantorel
