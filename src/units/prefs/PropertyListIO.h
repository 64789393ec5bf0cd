#pragma once
// Property-list files: XML and binary lists are read, XML lists are written,
// always atomically.

#include <string>
#include <string_view>

#include "units/prefs/PlistValue.h"

namespace vantorel {

struct PlistReadResult {
  enum class Status {
    Ok,          // `value` holds the list
    Missing,     // no file at the path
    Unreadable,  // the file exists but cannot be read (`error` says why)
    Corrupt,     // the bytes are not a property list
  };
  Status status = Status::Missing;
  PlistValue value;
  std::string error;
};

PlistReadResult ReadPropertyListFile(const std::string& path);

// Parses XML or binary property-list bytes; false when they are not one.
bool ParsePropertyList(std::string_view bytes, PlistValue& value);

std::string SerializePropertyListXml(const PlistValue& value);

// Writes `value` as an XML property list, atomically.
bool WritePropertyListFile(const std::string& path, const PlistValue& value, std::string* error = nullptr);

}  // namespace vantorel
