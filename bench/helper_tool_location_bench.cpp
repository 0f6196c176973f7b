// What finding a valid copy of the helper tool costs when the user's folder
// already holds one (the common case once the copy has repaired itself),
// against a bare stat of that copy, the least any check could do.
//
// Needs root (a valid copy is a root-owned set-user-ID file). Runs with HOME
// pointed at a scratch folder made in the current folder (which must not be
// writable by others), removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/cf/cf_ref.hpp"
#include "platform/cf/cf_string.h"
#include "sec/helper_tool_location.h"

namespace {

using tolvan::CFRef;

constexpr char kSubfolder[] = "TolvanBench";
constexpr char kToolName[] = "tool";

class ValidCopyInUserFolder {
 public:
  ValidCopyInUserFolder() {
    std::string pattern = std::filesystem::current_path().string() + "/locate-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    scratch_ = pattern;
    ::chmod(scratch_.c_str(), 0755);
    ::setenv("HOME", scratch_.c_str(), 1);
    template_path_ = scratch_ + "/template";
    std::ofstream(template_path_, std::ios::binary) << std::string(64 * 1024, 't');
    copy_path_ = scratch_ + "/.local/share/" + kSubfolder + "/" + kToolName;
    std::filesystem::create_directories(std::filesystem::path(copy_path_).parent_path());
    std::filesystem::copy_file(template_path_, copy_path_);
    struct stat info {};
    ::stat(template_path_.c_str(), &info);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ok_ = ::chown(copy_path_.c_str(), 0, 0) == 0 && ::chmod(copy_path_.c_str(), 04555) == 0 &&
          ::utimensat(AT_FDCWD, copy_path_.c_str(), times, 0) == 0;
  }
  ~ValidCopyInUserFolder() {
    std::error_code ignored;
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_, ignored);
  }

  bool ok() const { return ok_; }
  const std::string &copy_path() const { return copy_path_; }
  CFRef<CFURLRef> TemplateURL() const {
    return CFRef<CFURLRef>::Adopt(CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8 *>(template_path_.data()),
        static_cast<CFIndex>(template_path_.size()), false));
  }

 private:
  std::string scratch_;
  std::string template_path_;
  std::string copy_path_;
  bool ok_ = false;
};

CFRef<CFStringRef> String(const char *text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

void BM_LocateValidCopy(benchmark::State &state) {
  const ValidCopyInUserFolder setup;
  if (!setup.ok()) return state.SkipWithError("needs root to make a valid copy");
  const CFRef<CFURLRef> template_url = setup.TemplateURL();
  const CFRef<CFStringRef> subfolder = String(kSubfolder);
  const CFRef<CFStringRef> tool = String(kToolName);
  for (auto _ : state) {
    CFRef<CFURLRef> found;
    const OSStatus status =
        TolvanSecCopyHelperToolURLAndCheck(template_url.get(), kApplicationSupportFolderType,
                                           subfolder.get(), tool.get(), found.out());
    if (status != 0) return state.SkipWithError("the valid copy was not found");
    benchmark::DoNotOptimize(found.get());
  }
}
BENCHMARK(BM_LocateValidCopy);
// Fixed counts, for counting system calls per call under strace -c: the
// difference between the two runs is 1000 calls' worth.
BENCHMARK(BM_LocateValidCopy)->Iterations(1);
BENCHMARK(BM_LocateValidCopy)->Iterations(1001);

void BM_StatCopy(benchmark::State &state) {
  const ValidCopyInUserFolder setup;
  if (!setup.ok()) return state.SkipWithError("needs root to make a valid copy");
  for (auto _ : state) {
    struct stat info {};
    benchmark::DoNotOptimize(::stat(setup.copy_path().c_str(), &info));
  }
}
BENCHMARK(BM_StatCopy);

}  // namespace

BENCHMARK_MAIN();
