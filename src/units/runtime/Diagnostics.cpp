#include "units/runtime/Diagnostics.h"

#include <atomic>
#include <mutex>

namespace vantorel {

namespace {
std::atomic<std::FILE*> gStream{nullptr};
std::mutex gWriteMutex;
}  // namespace

void WriteDiagnosticLine(std::string_view line) {
  std::FILE* stream = gStream.load();
  if (stream == nullptr) stream = stdout;
  std::lock_guard lock(gWriteMutex);
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void SetDiagnosticStream(std::FILE* stream) { gStream.store(stream); }

namespace {
std::atomic<bool> gVerbose{false};
}  // namespace

void WriteVerboseLine(std::string_view line) {
  if (gVerbose.load(std::memory_order_relaxed)) WriteDiagnosticLine(line);
}

void SetVerbose(bool verbose) { gVerbose.store(verbose); }

bool IsVerbose() { return gVerbose.load(); }

}  // namespace vantorel
