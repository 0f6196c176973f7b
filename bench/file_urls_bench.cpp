// File URLs and references on the paths the tool takes for every request:
// making a URL, turning it into a reference, finding a standard folder, and
// reading a data file whole.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/files/files.h"
#include "platform/url/url.h"

namespace {

// mkdtemp makes it 0700, as the temporary folder must be.
const std::string &ScratchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/tolvan-url-bench-XXXXXX";
    return std::string(::mkdtemp(pattern) != nullptr ? pattern : "/tmp");
  }();
  return folder;
}

std::string FileOfSize(size_t size) {
  std::string path = ScratchFolder() + "/data-" + std::to_string(size);
  std::string content(size, 'x');
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    (void)!::write(fd, content.data(), content.size());
    ::close(fd);
  }
  return path;
}

CFURLRef URLOf(const std::string &path) {
  return CFURLCreateFromFileSystemRepresentation(
      nullptr, reinterpret_cast<const UInt8 *>(path.data()), static_cast<CFIndex>(path.size()),
      false);
}

void BM_AbsoluteURL(benchmark::State &state) {
  const std::string path = ScratchFolder() + "/some/where/Info.plist";
  for (auto _ : state) {
    CFURLRef url = URLOf(path);
    benchmark::DoNotOptimize(url);
    CFRelease(url);
  }
}
BENCHMARK(BM_AbsoluteURL);

void BM_RelativeURL(benchmark::State &state) {
  for (auto _ : state) {
    CFURLRef url = URLOf("some/where/Info.plist");
    benchmark::DoNotOptimize(url);
    CFRelease(url);
  }
}
BENCHMARK(BM_RelativeURL);

void BM_URLToReference(benchmark::State &state) {
  CFURLRef url = URLOf(FileOfSize(16));
  FSRef ref;
  for (auto _ : state) benchmark::DoNotOptimize(CFURLGetFSRef(url, &ref));
  CFRelease(url);
}
BENCHMARK(BM_URLToReference);

void BM_FindTemporaryFolder(benchmark::State &state) {
  ::setenv("XDG_RUNTIME_DIR", ScratchFolder().c_str(), 1);
  FSRef ref;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FSFindFolder(kUserDomain, kTemporaryFolderType, kCreateFolder, &ref));
  }
}
BENCHMARK(BM_FindTemporaryFolder);

void BM_ReadResource(benchmark::State &state) {
  const auto size = static_cast<size_t>(state.range(0));
  CFURLRef url = URLOf(FileOfSize(size));
  for (auto _ : state) {
    CFDataRef data = nullptr;
    SInt32 error = 0;
    benchmark::DoNotOptimize(
        CFURLCreateDataAndPropertiesFromResource(nullptr, url, &data, nullptr, nullptr, &error));
    if (data != nullptr) CFRelease(data);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  CFRelease(url);
}
BENCHMARK(BM_ReadResource)->Arg(4 << 10)->Arg(1 << 20);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(ScratchFolder(), ignored);
  return 0;
}
