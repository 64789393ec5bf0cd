#include "units/prefs/PropertyListIO.h"

#include <plist/plist.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
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
      if (plist_get_node_type(node) == PLIST_STRING) {
        // Read in place: copying it out asserts (and so aborts the program)
        // on a damaged file's string that holds a NUL. The text stops there,
        // as a C string would.
        std::uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        out = PlistValue(s ? std::string(s, ::strnlen(s, static_cast<std::size_t>(length))) : std::string());
        return true;
      }
      char* s = nullptr;
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

}  // namespace

bool ParsePropertyList(std::string_view bytes, PlistValue& value) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return false;
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
