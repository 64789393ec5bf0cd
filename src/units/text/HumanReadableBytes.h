#pragma once

#include <string>

namespace vantorel {

// A byte count in decimal units ("512 B", "1.54 kB", "2.5 MB", up to "YB"),
// the number in the current locale's decimal style with at most two fraction
// digits, rounded half to even.
std::string ConvertBytesToHumanReadable(double bytes);

}  // namespace vantorel
