#include "cloudsim/Demo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "cloudsim/Download.h"
#include "units/fs/AtomicFile.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {
const char* const kFolders[] = {"Documents", "Photos", "Projects", "Music"};
const char* const kKinds[][2] = {{"Notes", ".txt"},  {"Holiday", ".jpg"}, {"Budget", ".numbers"},
                                 {"Report", ".pdf"}, {"Song", ".m4a"},    {"Draft", ".docx"}};
}  // namespace

DemoActivity::DemoActivity(std::string root, MainLoop& loop, double interval)
    : root_(std::move(root)), loop_(loop), interval_(interval) {}

void DemoActivity::Start() {
  for (const char* folder : kFolders) MakeDirectories(root_ + "/" + folder);
  loop_.AddTimer(1.0, [this] { Step(); });
}

std::string DemoActivity::NewFile(const std::string& folder, const std::string& stem, std::size_t size) {
  const std::string path = root_ + "/" + folder + "/" + stem;
  std::ofstream(path, std::ios::binary) << std::string(size, 'v');
  return path;
}

void DemoActivity::Step() {
  std::uniform_int_distribution<std::size_t> sizes(2 * 1024, 600 * 1024);
  switch (step_++ % 6) {
    case 0:
    case 3: {  // a burst of new files
      const int count = std::uniform_int_distribution<int>(2, 5)(random_);
      const char* folder = kFolders[random_() % 4];
      for (int i = 0; i < count; ++i) {
        const auto& kind = kKinds[random_() % 6];
        files_.push_back(NewFile(folder, std::string(kind[0]) + " " + std::to_string(++serial_) + kind[1], sizes(random_)));
      }
      WriteDiagnosticLine("demo: " + std::to_string(count) + " new files in " + folder);
      break;
    }
    case 1: {  // a file arrives from the store
      const std::string path = root_ + "/Documents/Shared " + std::to_string(++serial_) + ".pdf";
      PlayDownload(loop_, path, sizes(random_), 3.0, [path](const std::string& error) {
        WriteDiagnosticLine(error.empty() ? "demo: downloaded " + path : "demo: " + error);
      });
      WriteDiagnosticLine("demo: downloading " + path);
      break;
    }
    case 2: {  // an edit
      if (files_.empty()) break;
      const std::string& path = files_[random_() % files_.size()];
      std::ofstream(path, std::ios::binary | std::ios::app) << std::string(sizes(random_) / 4, 'e');
      WriteDiagnosticLine("demo: edited " + path);
      break;
    }
    case 4: {  // a package: one item made of several files
      const std::string package = root_ + "/Projects/Slides " + std::to_string(++serial_) + ".key";
      MakeDirectories(package + "/Data");
      std::ofstream(package + "/Index.xml") << std::string(sizes(random_) / 2, 'k');
      std::ofstream(package + "/Data/image.png", std::ios::binary) << std::string(sizes(random_), 'p');
      WriteDiagnosticLine("demo: new package " + package);
      break;
    }
    case 5: {  // now and then a deletion
      if (files_.size() < 8) break;
      const std::size_t index = random_() % files_.size();
      ::unlink(files_[index].c_str());
      WriteDiagnosticLine("demo: deleted " + files_[index]);
      files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(index));
      break;
    }
  }
  loop_.AddTimer(interval_, [this] { Step(); });
}

}  // namespace vantorel
