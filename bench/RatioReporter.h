#pragma once
// Prints Google Benchmark's usual table and remembers each benchmark's real
// time per iteration, so that a program can print ratios afterwards.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace vantorel::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        nanoseconds_[run.benchmark_name()] = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
  }
  // Nanoseconds per iteration of the benchmark `name`, or of its run with
  // arguments ("name/…"); 0 when it did not run.
  double Of(const std::string& name) const {
    if (auto exact = nanoseconds_.find(name); exact != nanoseconds_.end()) return exact->second;
    for (const auto& [key, ns] : nanoseconds_)
      if (key.rfind(name + "/", 0) == 0) return ns;
    return 0;
  }

private:
  std::map<std::string, double> nanoseconds_;
};

}  // namespace vantorel::bench
