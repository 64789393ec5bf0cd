#pragma once
// Diagnostic lines: the program's few messages about its own trouble.
//
// They go to standard output, one whole line per call, so that lines written
// by several threads never interleave. A command-line tool whose standard
// output carries its results sends them to standard error instead.

#include <cstdio>
#include <string_view>

namespace vantorel {

void WriteDiagnosticLine(std::string_view line);
// A line about the program's ordinary doings (each folder a scan enters, a
// menu closing): written only when verbose output was asked for
// (--verbose, or the "VerboseLogging" preference).
void WriteVerboseLine(std::string_view line);
void SetVerbose(bool verbose);
bool IsVerbose();
// Where diagnostic lines go from now on (standard output by default).
void SetDiagnosticStream(std::FILE* stream);

}  // namespace vantorel
