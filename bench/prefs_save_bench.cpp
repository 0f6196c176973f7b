// What one small preference save costs, against the floor of any durable
// replace of a file of the same size, and against the same replace without
// the two flushes (the price of durability on this disk).
//
// Runs in a scratch system root made in the current folder (which, like
// every folder above it, must be root's or the user's and not writable by
// others), removed at the end.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/prefs/preference_location.hpp"
#include "platform/prefs/preference_store.hpp"

namespace {

using tolvan::CFRef;
using tolvan::prefs::StagedChanges;

constexpr char kAppID[] = "org.tolvan.bench.prefs";
constexpr char kHostID[] = "0123456789abcdef0123456789abcdef";

class ScratchRoot {
 public:
  ScratchRoot() {
    std::string pattern = std::filesystem::current_path().string() + "/prefs-bench-root-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    ::chmod(path_.c_str(), 0755);
    std::filesystem::create_directories(path_ + "/etc");
    int fd = ::open((path_ + "/etc/machine-id").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    std::string id = std::string(kHostID) + "\n";
    if (fd >= 0 && ::write(fd, id.data(), id.size()) < 0) path_.clear();
    ::close(fd);
  }
  ~ScratchRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

CFRef<CFStringRef> String(const std::string &text) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

CFRef<CFNumberRef> Number(long value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberLongType, &value));
}

// The domain the tool's command typically writes: a dozen small pairs,
// one of which changes.
void BM_SaveOneSmallPair(benchmark::State &state) {
  ScratchRoot root;
  StagedChanges initial;
  for (int i = 0; i < 12; ++i) initial.Stage(String("key" + std::to_string(i)).get(), Number(i).get());
  if (tolvan::prefs::SaveDomain(root.path(), kAppID, initial) != 0) {
    state.SkipWithError("the first save failed");
    return;
  }
  auto key = String("key0");
  long counter = 0;
  for (auto _ : state) {
    StagedChanges change;
    change.Stage(key.get(), Number(++counter).get());
    if (tolvan::prefs::SaveDomain(root.path(), kAppID, change) != 0) {
      state.SkipWithError("a save failed");
      return;
    }
  }
  std::string file = tolvan::prefs::ByHostFolderPath(root.path()) + "/" +
                     tolvan::prefs::DomainFileName(kAppID, kHostID);
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(file));
}
BENCHMARK(BM_SaveOneSmallPair)->Unit(benchmark::kMicrosecond);

// Writes a file of `size` bytes beside `name` and renames it over it,
// flushing file and folder when `flush`.
bool ReplaceFile(int folder, const char *name, size_t size, bool flush) {
  static const std::string bytes(4096, 'x');
  int fd = ::openat(folder, "replace.tmp", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes.data(), size) == static_cast<ssize_t>(size);
  ok = ok && (!flush || ::fsync(fd) == 0);
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::renameat(folder, "replace.tmp", folder, name) == 0;
  return ok && (!flush || ::fsync(folder) == 0);
}

void BM_ReplaceFloor(benchmark::State &state) {
  ScratchRoot root;
  int folder = ::open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool flush = state.range(0) != 0;
  for (auto _ : state) {
    if (!ReplaceFile(folder, "file.plist", 1024, flush)) {
      state.SkipWithError("a replace failed");
      break;
    }
  }
  ::close(folder);
}
// 1: write, fsync, rename, fsync of the folder; 0: the same without fsyncs.
BENCHMARK(BM_ReplaceFloor)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
