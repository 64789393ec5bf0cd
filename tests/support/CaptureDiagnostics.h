#pragma once
// Collects the diagnostic lines written while it lives.

#include <cstdio>
#include <string>

#include "units/runtime/Diagnostics.h"

namespace vantorel::test {

class CaptureDiagnostics {
public:
  CaptureDiagnostics() : file_(std::tmpfile()) { SetDiagnosticStream(file_); }
  ~CaptureDiagnostics() {
    SetDiagnosticStream(nullptr);
    std::fclose(file_);
  }
  CaptureDiagnostics(const CaptureDiagnostics&) = delete;
  CaptureDiagnostics& operator=(const CaptureDiagnostics&) = delete;

  std::string Text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    return text;
  }

private:
  std::FILE* file_;
};

}  // namespace vantorel::test
