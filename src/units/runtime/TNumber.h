#pragma once
// A number as an object, for places that pass objects (a notification's
// posting object, for one).

#include <cstdint>

#include "units/runtime/TObject.h"

namespace vantorel {

class TNumber : public TObject {
public:
  explicit TNumber(std::int64_t value) : value_(value) {}
  std::int64_t IntegerValue() const { return value_; }

private:
  const std::int64_t value_;
};

}  // namespace vantorel
