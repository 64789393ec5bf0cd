#pragma once
// Measures a folder's disk usage on a thread of its own (du can take a
// while on a large tree) and hands the figure to the main thread. The
// probe may be destroyed first (the popover closed): the thread then ends
// on its own and its figure goes nowhere.

#include <QObject>

#include <functional>
#include <memory>
#include <string>

namespace vantorel {

class DiskUsageProbe : public QObject {
public:
  // `measured` gets du's figure ("1.2G") on the main thread; it is not
  // called when du could not tell.
  DiskUsageProbe(const std::string& folder, std::function<void(const std::string&)> measured, QObject* parent);
  ~DiskUsageProbe() override;

private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::function<void(const std::string&)> measured_;
};

}  // namespace vantorel
