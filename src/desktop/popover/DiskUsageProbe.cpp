#include "desktop/popover/DiskUsageProbe.h"

#include <QPointer>

#include <mutex>
#include <thread>

#include "desktop/helpers/SystemHelpers.h"
#include "units/fs/FileObjectUtilities.h"

namespace vantorel {

// Between the probe (main thread) and its measuring thread: `probe` is
// cleared, under `lock`, when the probe goes, so the thread never posts to
// an object being destroyed.
struct DiskUsageProbe::Shared {
  std::mutex lock;
  DiskUsageProbe* probe = nullptr;
};

DiskUsageProbe::DiskUsageProbe(const std::string& folder, std::function<void(const std::string&)> measured,
                               QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()), measured_(std::move(measured)) {
  shared_->probe = this;
  std::thread([shared = shared_, folder] {
    // No folder (yet): nothing to measure, and nothing for du to complain of.
    const auto size = isDirectory(folder) ? MeasureDiskUsage(folder) : std::nullopt;
    if (!size) return;
    std::lock_guard guard(shared->lock);
    if (shared->probe == nullptr) return;
    // Queued to the probe: dropped by Qt if the probe goes before it runs.
    QMetaObject::invokeMethod(
        shared->probe, [probe = shared->probe, text = *size] { probe->measured_(text); }, Qt::QueuedConnection);
  }).detach();
}

DiskUsageProbe::~DiskUsageProbe() {
  std::lock_guard guard(shared_->lock);
  shared_->probe = nullptr;
}

}  // namespace vantorel
