#pragma once
// A property-list value: boolean, integer, real, string, date, data, array or
// dictionary. Plain value semantics; copying copies the whole tree.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

class PlistValue {
public:
  enum class Type { Boolean, Integer, Real, String, Date, Data, Array, Dictionary };

  struct Date {
    AbsoluteTime time = 0;
    bool operator==(const Date&) const = default;
  };
  using Data = std::vector<std::uint8_t>;
  using Array = std::vector<PlistValue>;
  using Dictionary = std::map<std::string, PlistValue>;

  PlistValue() : value_(Dictionary{}) {}
  PlistValue(bool b) : value_(b) {}
  PlistValue(int i) : value_(std::int64_t{i}) {}
  PlistValue(std::int64_t i) : value_(i) {}
  PlistValue(double r) : value_(r) {}
  PlistValue(std::string s) : value_(std::move(s)) {}
  PlistValue(const char* s) : value_(std::string(s)) {}
  PlistValue(Date d) : value_(d) {}
  PlistValue(Data d) : value_(std::move(d)) {}
  PlistValue(Array a) : value_(std::move(a)) {}
  PlistValue(Dictionary d) : value_(std::move(d)) {}

  Type type() const { return static_cast<Type>(value_.index()); }

  // Exact accessors: null unless the value has that type.
  const bool* AsBoolean() const { return std::get_if<bool>(&value_); }
  const std::int64_t* AsInteger() const { return std::get_if<std::int64_t>(&value_); }
  const double* AsReal() const { return std::get_if<double>(&value_); }
  const std::string* AsString() const { return std::get_if<std::string>(&value_); }
  const Date* AsDate() const { return std::get_if<Date>(&value_); }
  const Data* AsData() const { return std::get_if<Data>(&value_); }
  const Array* AsArray() const { return std::get_if<Array>(&value_); }
  const Dictionary* AsDictionary() const { return std::get_if<Dictionary>(&value_); }
  Array* AsArray() { return std::get_if<Array>(&value_); }
  Dictionary* AsDictionary() { return std::get_if<Dictionary>(&value_); }

  // Converting readers, as a user-defaults store reads a value of another type:
  // a boolean from a number or from the strings YES/NO/true/false/1/0 (letter
  // case ignored); a number from a boolean, an integer, a real or a numeric
  // string; a string from a string or a number. Anything else is absent.
  std::optional<bool> ToBoolean() const;
  std::optional<std::int64_t> ToInteger() const;
  std::optional<double> ToReal() const;
  std::optional<std::string> ToString() const;

  bool operator==(const PlistValue& other) const { return value_ == other.value_; }

private:
  std::variant<bool, std::int64_t, double, std::string, Date, Data, Array, Dictionary> value_;
};

// The shortest decimal text that reads back as the same double ("2.5", "15").
std::string FormatReal(double value);

}  // namespace vantorel
