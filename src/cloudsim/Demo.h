#pragma once
// A steady, readable stream of activity in a demo folder: bursts of new
// files of mixed sizes, a package now and then, edits, arriving downloads
// and the odd deletion, one step every few seconds.

#include <random>
#include <string>
#include <vector>

#include "units/runtime/MainLoop.h"

namespace vantorel {

class DemoActivity {
public:
  DemoActivity(std::string root, MainLoop& loop, double interval = 4.0);
  void Start();

private:
  void Step();
  std::string NewFile(const std::string& folder, const std::string& stem, std::size_t size);

  const std::string root_;
  MainLoop& loop_;
  const double interval_;
  std::mt19937 random_{20261208};
  std::vector<std::string> files_;
  int step_ = 0;
  int serial_ = 0;
};

}  // namespace vantorel
