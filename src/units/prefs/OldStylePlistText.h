#pragma once
// Property-list values in the old-style text form a Mac user knows from the
// command line: ( a, b ) for arrays, { key = value; } for dictionaries.

#include <string>

#include "units/prefs/PlistValue.h"

namespace vantorel {

// Booleans as 1/0, numbers in decimal, dates as "YYYY-MM-DD HH:MM:SS +0000"
// (UTC), data as <hex>; strings bare when they are plain words, otherwise
// quoted with \" \\ \n \t escaped. Nested values are indented four spaces a
// level.
std::string FormatOldStylePlist(const PlistValue& value);

// "YYYY-MM-DD HH:MM:SS +0000", in UTC.
std::string FormatDateUtc(AbsoluteTime date);

}  // namespace vantorel
