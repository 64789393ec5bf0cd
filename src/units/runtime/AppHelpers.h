#pragma once
// Questions about the running application.

namespace vantorel {

// True when the environment holds APP_SANDBOX_CONTAINER_ID, whatever its value.
bool isSandboxed();

}  // namespace vantorel
