#include "units/runtime/AppHelpers.h"

#include <cstdlib>

namespace vantorel {

bool isSandboxed() { return std::getenv("APP_SANDBOX_CONTAINER_ID") != nullptr; }

}  // namespace vantorel
