#pragma once
// The tracker's settings as the preferences keep them: read whole, and read
// again whenever one of their keys changes.

#include <string>
#include <vector>

#include "engine/TrackerSettings.h"

namespace vantorel {

class TUserDefaults;

// The settings the preferences hold now. A key that is absent or of the
// wrong type reads as false, 0 or an empty list, as it always has; a log
// size limit that is no size (a word, a negative number) is said once in a
// line and the usual 25 MiB holds.
TrackerSettings ReadTrackerSettings(const TUserDefaults& prefs);

// The preference keys the settings come from.
const std::vector<std::string>& TrackerSettingKeys();

}  // namespace vantorel
