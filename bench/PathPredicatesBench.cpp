// Measures the per-path predicates the tracker calls and the folder-size walk
// against the raw system calls they need, on one tree of 100,000 files, and
// prints each ratio (1.00x means no cost beyond the system calls).
//
//   scripts/build bench && build/bench/bin/vantorel_bench
//
// VANTOREL_BENCH_FILES sets the number of files (default 100000).

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "sources/attributes/AttributeItemSource.h"
#include "sources/nextcloud/SyncClientSource.h"
#include "support/FakeSyncClient.h"
#include "engine/TrackPathUtilities.h"
#include "units/fs/SyncAttributes.h"
#include "units/fs/DirectorySize.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"

namespace {

using namespace vantorel;

struct Tree {
  std::string root;
  std::vector<std::string> files;
  std::vector<std::string> hiddenLists;  // each file's folder + "/.hidden", for the raw baseline
};

Tree& TheTree() {
  static Tree tree;
  return tree;
}

// root/dNNN/sNN/fNNNN.txt, with every tenth top folder a package
// ("dNNN.app") and every other file marked uploaded, so each predicate
// meets both of its answers.
void BuildTree(std::size_t fileCount) {
  Tree& t = TheTree();
  char pattern[] = "/tmp/vantorel-bench-XXXXXX";
  t.root = ::mkdtemp(pattern);
  const std::size_t perFolder = 100, subFolders = 10;
  std::size_t made = 0;
  for (std::size_t d = 0; made < fileCount; ++d) {
    const std::string top = t.root + "/d" + std::to_string(d) + (d % 10 == 0 ? ".app" : "");
    ::mkdir(top.c_str(), 0755);
    for (std::size_t s = 0; s < subFolders && made < fileCount; ++s) {
      const std::string sub = top + "/s" + std::to_string(s);
      ::mkdir(sub.c_str(), 0755);
      for (std::size_t f = 0; f < perFolder && made < fileCount; ++f, ++made) {
        std::string file = sub + "/f" + std::to_string(f) + ".txt";
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
          std::perror(file.c_str());
          std::exit(1);
        }
        const std::string content(f % 7, 'x');
        if (::write(fd, content.data(), content.size()) < 0) std::exit(1);
        if (made % 2 == 0) ::fsetxattr(fd, kUbiquityUploadedAttribute, "1", 1, 0);
        ::close(fd);
        t.hiddenLists.push_back(sub + "/.hidden");
        t.files.push_back(std::move(file));
      }
    }
  }
}

template <typename Body>
void OverFiles(benchmark::State& state, Body body) {
  const Tree& t = TheTree();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(body(i));
    if (++i == t.files.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// --- the predicates -----------------------------------------------------

void BM_isHidden(benchmark::State& s) { OverFiles(s, [](std::size_t i) { return isHidden(TheTree().files[i]); }); }
void BM_isHidden_raw(benchmark::State& s) {
  OverFiles(s, [](std::size_t i) {
    struct stat st;
    bool found = ::lstat(TheTree().files[i].c_str(), &st) == 0;
    const int fd = ::open(TheTree().hiddenLists[i].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return found && fd >= 0;
  });
}

void BM_isSymbolicLink(benchmark::State& s) {
  OverFiles(s, [](std::size_t i) { return isSymbolicLink(TheTree().files[i]); });
}
void BM_doesFileContainBytes(benchmark::State& s) {
  OverFiles(s, [](std::size_t i) { return doesFileContainBytes(TheTree().files[i]); });
}
void BM_lstat_raw(benchmark::State& s) {
  OverFiles(s, [](std::size_t i) {
    struct stat st;
    return ::lstat(TheTree().files[i].c_str(), &st) == 0 && st.st_size > 0;
  });
}

void BM_isUploaded(benchmark::State& s) {
  const auto source = MakeAttributeItemSource();
  OverFiles(s, [&source](std::size_t i) { return source->IsUploaded(TheTree().files[i]); });
}
void BM_isUploaded_raw(benchmark::State& s) {
  OverFiles(s, [](std::size_t i) {
    char value[256];
    const ssize_t n = ::lgetxattr(TheTree().files[i].c_str(), kUbiquityUploadedAttribute, value, sizeof value);
    return n > 0 && value[0] == '1';
  });
}

// The same question put to a sync client's source, answered from its table
// (filled from a stand-in client that says OK for every file).
void BM_isUploaded_client(benchmark::State& s) {
  const std::string socket = TheTree().root + "/../client.socket";
  test::FakeSyncClient client(socket, {TheTree().root});
  for (const std::string& file : TheTree().files) client.Set(file, "OK");
  const auto source = MakeSyncClientSource({"Nextcloud", socket, ".nextcloud"});
  // Until every file's answer is in (each question is asked at most once).
  for (int tries = 0; tries < 6000 && !source->IsUploaded(TheTree().files.back()); ++tries) ::usleep(10000);
  for (const std::string& file : TheTree().files) source->IsUploaded(file);
  for (int tries = 0; tries < 6000 && !source->IsUploaded(TheTree().files.front()); ++tries) ::usleep(10000);
  OverFiles(s, [&source](std::size_t i) { return source->IsUploaded(TheTree().files[i]); });
}

void BM_isFilePackaged(benchmark::State& s) {
  OverFiles(s, [](std::size_t i) { return isFilePackaged(TheTree().files[i]); });
}
// The walk itself, done by hand: each folder above the file, and a stat of
// those whose extension is a package's.
void BM_isFilePackaged_raw(benchmark::State& s) {
  OverFiles(s, [](std::size_t i) {
    const std::string& path = TheTree().files[i];
    std::size_t end = path.find_last_of('/');
    while (end != std::string::npos && end > 0) {
      const std::size_t start = path.find_last_of('/', end - 1);
      const std::size_t dot = path.find_last_of('.', end - 1);
      if (dot != std::string::npos && dot > start + 1 && dot < end && path.compare(dot + 1, end - dot - 1, "app") == 0) {
        struct stat st;
        const std::string folder = path.substr(0, end);
        if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
      }
      end = start;
    }
    return false;
  });
}

// --- the folder walk ----------------------------------------------------

std::uint64_t RawWalk(int dirFd) {
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) return 0;
  std::uint64_t total = 0;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (e->d_type == DT_DIR) {
      const int child = ::openat(dirFd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) total += RawWalk(child);
    } else {
      struct stat st;
      if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) total += static_cast<std::uint64_t>(st.st_size);
    }
  }
  ::closedir(dir);
  return total;
}

void BM_FSGetDirectorySize(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(FSGetDirectorySize(fsRef(TheTree().root)));
}
void BM_FSGetDirectorySize_raw(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(RawWalk(::open(TheTree().root.c_str(), O_RDONLY | O_DIRECTORY)));
}

BENCHMARK(BM_isHidden);
BENCHMARK(BM_isHidden_raw);
BENCHMARK(BM_isSymbolicLink);
BENCHMARK(BM_doesFileContainBytes);
BENCHMARK(BM_lstat_raw);
BENCHMARK(BM_isUploaded);
BENCHMARK(BM_isUploaded_raw);
BENCHMARK(BM_isUploaded_client);
BENCHMARK(BM_isFilePackaged);
BENCHMARK(BM_isFilePackaged_raw);
BENCHMARK(BM_FSGetDirectorySize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FSGetDirectorySize_raw)->Unit(benchmark::kMillisecond);

void PrintRatios(const bench::RatioReporter& reporter) {
  const std::pair<const char*, const char*> pairs[] = {
      {"BM_isHidden", "BM_isHidden_raw"},
      {"BM_isSymbolicLink", "BM_lstat_raw"},
      {"BM_doesFileContainBytes", "BM_lstat_raw"},
      {"BM_isUploaded", "BM_isUploaded_raw"},
      {"BM_isUploaded_client", "BM_isUploaded_raw"},
      {"BM_isFilePackaged", "BM_isFilePackaged_raw"},
      {"BM_FSGetDirectorySize", "BM_FSGetDirectorySize_raw"},
  };
  std::printf("\nRatio to the raw system calls (target: 1.30x or less; a sync client's table against\n"
              "today's attribute read: 1.50x or less)\n");
  for (const auto& [mine, raw] : pairs) {
    const double ours = reporter.Of(mine), theirs = reporter.Of(raw);
    if (theirs <= 0) continue;
    const double ratio = ours / theirs;
    const double target = std::string(mine) == "BM_isUploaded_client" ? 1.5 : 1.3;
    std::printf("  %-24s %10.1f ns  raw %10.1f ns  %5.2fx %s\n", mine + 3, ours, theirs, ratio,
                ratio <= target ? "" : "ABOVE TARGET");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* count = std::getenv("VANTOREL_BENCH_FILES");
  const std::size_t files = count ? std::strtoul(count, nullptr, 10) : 100000;
  std::printf("Building a tree of %zu files...\n", files);
  BuildTree(files);
  benchmark::Initialize(&argc, argv);
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter);
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(TheTree().root, ignored);
  return 0;
}
