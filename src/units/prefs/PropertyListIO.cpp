#include "units/prefs/PropertyListIO.h"

#include <plist/plist.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "units/fs/AtomicFile.h"

namespace vantorel {

namespace {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistFree>;

plist_t ToNode(const PlistValue& value) {
  switch (value.type()) {
    case PlistValue::Type::Boolean:
      return plist_new_bool(*value.AsBoolean() ? 1 : 0);
    case PlistValue::Type::Integer:
      // The library stores integers unsigned and writes them back signed.
      return plist_new_uint(static_cast<std::uint64_t>(*value.AsInteger()));
    case PlistValue::Type::Real:
      return plist_new_real(*value.AsReal());
    case PlistValue::Type::String:
      return plist_new_string(value.AsString()->c_str());
    case PlistValue::Type::Date: {
      const double t = value.AsDate()->time;
      double whole = std::floor(t);
      long usec = std::lround((t - whole) * 1e6);
      if (usec >= 1000000) {
        whole += 1;
        usec -= 1000000;
      }
      // The library keeps dates as 32-bit seconds: 1933 to 2069.
      const double clamped = std::fmax(std::fmin(whole, 2147483647.0), -2147483648.0);
      return plist_new_date(static_cast<std::int32_t>(clamped), static_cast<std::int32_t>(usec));
    }
    case PlistValue::Type::Data: {
      const PlistValue::Data& data = *value.AsData();
      return plist_new_data(reinterpret_cast<const char*>(data.data()), data.size());
    }
    case PlistValue::Type::Array: {
      plist_t array = plist_new_array();
      for (const PlistValue& item : *value.AsArray()) plist_array_append_item(array, ToNode(item));
      return array;
    }
    case PlistValue::Type::Dictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : *value.AsDictionary()) plist_dict_set_item(dict, key.c_str(), ToNode(item));
      return dict;
    }
  }
  return plist_new_dict();
}

bool FromNode(plist_t node, PlistValue& out) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      out = PlistValue(b != 0);
      return true;
    }
    case PLIST_UINT:
    case PLIST_UID: {
      std::uint64_t u = 0;
      if (plist_get_node_type(node) == PLIST_UINT)
        plist_get_uint_val(node, &u);
      else
        plist_get_uid_val(node, &u);
      out = PlistValue(static_cast<std::int64_t>(u));
      return true;
    }
    case PLIST_REAL: {
      double r = 0;
      plist_get_real_val(node, &r);
      out = PlistValue(r);
      return true;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      // (A string holding a NUL, on which the library asserts, never gets
      // here: such a list is refused before it is parsed.)
      char* s = nullptr;
      if (plist_get_node_type(node) == PLIST_STRING)
        plist_get_string_val(node, &s);
      else
        plist_get_key_val(node, &s);
      out = PlistValue(std::string(s ? s : ""));
      std::free(s);
      return true;
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      out = PlistValue(PlistValue::Date{sec + usec / 1e6});
      return true;
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
      out = PlistValue(PlistValue::Data(begin, begin + (bytes ? length : 0)));
      std::free(bytes);
      return true;
    }
    case PLIST_ARRAY: {
      PlistValue::Array array;
      const std::uint32_t count = plist_array_get_size(node);
      array.reserve(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        PlistValue item;
        if (FromNode(plist_array_get_item(node, i), item)) array.push_back(std::move(item));
      }
      out = PlistValue(std::move(array));
      return true;
    }
    case PLIST_DICT: {
      PlistValue::Dictionary dict;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        if (key == nullptr) break;
        PlistValue value;
        if (item && FromNode(item, value)) dict.insert_or_assign(key, std::move(value));
        std::free(key);
      }
      std::free(iter);
      out = PlistValue(std::move(dict));
      return true;
    }
    default:
      return false;
  }
}

// True when a binary list holds a string (a value or a dictionary key) with
// a NUL in it. The library asserts on reading such a string, which would end
// the program on a damaged file; such a file is refused instead. Anything
// this walk cannot follow is left to the library to judge.
bool BinaryListHasNulInString(std::string_view bytes) {
  constexpr std::size_t kTrailer = 32;
  if (bytes.size() < 8 + kTrailer || bytes.substr(0, 6) != "bplist") return false;
  const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const auto number = [&](std::size_t at, std::size_t width, std::uint64_t* out) {
    if (width == 0 || width > 8 || at > bytes.size() || bytes.size() - at < width) return false;
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < width; ++i) n = n << 8 | byte(at + i);
    *out = n;
    return true;
  };
  const std::size_t trailer = bytes.size() - kTrailer;
  const std::size_t offsetWidth = byte(trailer + 6);
  std::uint64_t objects = 0, table = 0;
  if (!number(trailer + 8, 8, &objects) || !number(trailer + 24, 8, &table)) return false;
  if (offsetWidth == 0 || offsetWidth > 8 || table >= trailer || objects > (trailer - table) / offsetWidth) return false;
  for (std::uint64_t k = 0; k < objects; ++k) {
    std::uint64_t at = 0;
    if (!number(static_cast<std::size_t>(table + k * offsetWidth), offsetWidth, &at) || at >= trailer) continue;
    const unsigned marker = byte(static_cast<std::size_t>(at));
    const unsigned kind = marker >> 4;
    if (kind != 0x5 && kind != 0x6) continue;  // ASCII and UTF-16 strings
    std::uint64_t count = marker & 0xF;
    std::size_t start = static_cast<std::size_t>(at) + 1;
    if (count == 0xF) {  // the length follows as an integer object
      if (start >= trailer || (byte(start) >> 4) != 0x1) continue;
      const std::size_t width = std::size_t{1} << (byte(start) & 0x3);
      if (!number(start + 1, width, &count)) continue;
      start += 1 + width;
    }
    const std::uint64_t unit = kind == 0x6 ? 2 : 1;
    if (start > trailer || count > (trailer - start) / unit) continue;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::size_t c = start + static_cast<std::size_t>(i * unit);
      if (byte(c) == 0 && (unit == 1 || byte(c + 1) == 0)) return true;
    }
  }
  return false;
}

// The same for a text (XML) list: a NUL byte, or a character reference to
// NUL ("&#0;", "&#x0;"), which the library decodes into a string.
bool TextListHasNul(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return true;
  for (std::size_t at = bytes.find("&#"); at != std::string_view::npos; at = bytes.find("&#", at + 2)) {
    std::size_t i = at + 2;
    const bool hex = i < bytes.size() && (bytes[i] == 'x' || bytes[i] == 'X');
    if (hex) ++i;
    const std::size_t digits = i;
    bool zero = true;
    for (; i < bytes.size() && std::isxdigit(static_cast<unsigned char>(bytes[i])); ++i)
      if (bytes[i] != '0') zero = false;
    if (i > digits && i < bytes.size() && bytes[i] == ';' && zero) return true;
  }
  return false;
}

}  // namespace

bool ParsePropertyList(std::string_view bytes, PlistValue& value) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  const bool binary = bytes.substr(0, 6) == "bplist";
  if (binary ? BinaryListHasNulInString(bytes) : TextListHasNul(bytes)) return false;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  if (root == nullptr) return false;
  PlistHandle guard(root);
  return FromNode(root, value);
}

PlistReadResult ReadPropertyListFile(const std::string& path) {
  PlistReadResult result;
  int errorNumber = 0;
  const auto bytes = ReadWholeFile(path, &result.error, &errorNumber);
  if (!bytes) {
    result.status = errorNumber == ENOENT ? PlistReadResult::Status::Missing : PlistReadResult::Status::Unreadable;
    return result;
  }
  if (!ParsePropertyList(*bytes, result.value)) {
    result.status = PlistReadResult::Status::Corrupt;
    result.error = bytes->empty() ? "the file is empty" : "the file is not a property list";
    return result;
  }
  result.status = PlistReadResult::Status::Ok;
  return result;
}

std::string SerializePropertyListXml(const PlistValue& value) {
  PlistHandle root(ToNode(value));
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  std::string text(xml ? xml : "", xml ? length : 0);
  plist_to_xml_free(xml);
  return text;
}

bool WritePropertyListFile(const std::string& path, const PlistValue& value, std::string* error) {
  return WriteFileAtomically(path, SerializePropertyListXml(value), error);
}

}  // namespace vantorel
