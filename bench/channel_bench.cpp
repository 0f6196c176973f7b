// The message channel and the file copy, each against the bare cost of
// moving the same bytes, in the same run:
//  - a frame written and read back over a socket pair (encode, one write,
//    read of the word and payload, parse), for a small request-sized
//    dictionary and one of about 1 MiB, against a bare write and read of the
//    very bytes of that frame; the ratio of the two is what framing and the
//    XML encoding cost;
//  - TolvanUNIXCopyFile of a 64 MiB file against the system's cp, run as a
//    child process (its start-up included).
// Both ends of a frame run on this thread: the socket buffers are enlarged
// (as root) so a whole 1 MiB frame fits in them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "unix/copy.h"
#include "unix/full_transfer.h"
#include "unix/unique_fd.hpp"

extern char **environ;

namespace {

using tolvan::CFRef;
using tolvan::UniqueFd;

constexpr int kSocketBuffer = 8 << 20;
constexpr long kCopySize = 64L << 20;

CFRef<CFStringRef> String(const std::string &text) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
}

// pairs preference-like pairs: a reverse-DNS key, a string value.
CFRef<CFDictionaryRef> Preferences(int pairs) {
  auto dictionary = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (int i = 0; i < pairs; ++i) {
    auto key = String("org.example.preference." + std::to_string(i));
    auto value = String("value number " + std::to_string(i * 7919) + " of the benchmark");
    CFDictionarySetValue(dictionary.get(), key.get(), value.get());
  }
  return CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreateCopy(nullptr, dictionary.get()));
}

size_t FrameSize(CFDictionaryRef dictionary) {
  auto xml = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(nullptr, dictionary));
  return xml ? static_cast<size_t>(CFDataGetLength(xml.get())) + 4 : 0;
}

// The largest dictionary of that shape whose frame stays under 1 MiB.
CFRef<CFDictionaryRef> LargestUnderOneMebibyte() {
  int low = 1, high = 20000;
  while (low < high) {
    int middle = (low + high + 1) / 2;
    if (FrameSize(Preferences(middle).get()) <= kDictionaryFrameMaxLength) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return Preferences(low);
}

struct Link {
  UniqueFd writer, reader;
};

bool OpenLink(Link *link) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  link->writer.reset(fds[0]);
  link->reader.reset(fds[1]);
  return setsockopt(fds[0], SOL_SOCKET, SO_SNDBUFFORCE, &kSocketBuffer, sizeof kSocketBuffer) ==
             0 &&
         setsockopt(fds[1], SOL_SOCKET, SO_RCVBUFFORCE, &kSocketBuffer, sizeof kSocketBuffer) == 0;
}

enum class Size { kSmall, kOneMebibyte };

CFRef<CFDictionaryRef> DictionaryFor(Size size) {
  return size == Size::kSmall ? Preferences(8) : LargestUnderOneMebibyte();
}

void BM_FrameRoundTrip(benchmark::State &state, Size which) {
  auto dictionary = DictionaryFor(which);
  Link link;
  if (!OpenLink(&link)) return state.SkipWithError("socket buffers cannot be enlarged (root?)");
  for (auto _ : state) {
    if (WriteDictionaryToDescriptor(dictionary.get(), link.writer.get()) != noErr) {
      return state.SkipWithError("write failed");
    }
    CFDictionaryRef read = nullptr;
    if (CopyDictionaryFromDescriptor(link.reader.get(), &read) != noErr) {
      return state.SkipWithError("read failed");
    }
    CFRelease(read);
  }
  size_t size = FrameSize(dictionary.get());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["frame_bytes"] = static_cast<double>(size);
  state.counters["pairs"] = static_cast<double>(CFDictionaryGetCount(dictionary.get()));
}

void BM_BareRoundTrip(benchmark::State &state, Size which) {
  auto dictionary = DictionaryFor(which);
  Link link;
  if (!OpenLink(&link)) return state.SkipWithError("socket buffers cannot be enlarged (root?)");
  // The very bytes of the frame, so both sides move the same amount.
  if (WriteDictionaryToDescriptor(dictionary.get(), link.writer.get()) != noErr) {
    return state.SkipWithError("write failed");
  }
  std::vector<unsigned char> frame(FrameSize(dictionary.get()));
  if (TolvanUNIXRead(link.reader.get(), frame.data(), frame.size(), nullptr) != 0) {
    return state.SkipWithError("read failed");
  }
  std::vector<unsigned char> received(frame.size());
  for (auto _ : state) {
    if (write(link.writer.get(), frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
      return state.SkipWithError("write failed");
    }
    if (TolvanUNIXRead(link.reader.get(), received.data(), received.size(), nullptr) != 0) {
      return state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(received.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
  state.counters["frame_bytes"] = static_cast<double>(frame.size());
}

BENCHMARK_CAPTURE(BM_FrameRoundTrip, small, Size::kSmall);
BENCHMARK_CAPTURE(BM_BareRoundTrip, small, Size::kSmall);
BENCHMARK_CAPTURE(BM_FrameRoundTrip, one_mebibyte, Size::kOneMebibyte);
BENCHMARK_CAPTURE(BM_BareRoundTrip, one_mebibyte, Size::kOneMebibyte);

// ---- file copy --------------------------------------------------------------

struct CopyFiles {
  std::string folder, source, destination;
  bool ready = false;

  CopyFiles() {
    folder = (std::filesystem::temp_directory_path() / "tolvan-copy-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return;
    source = folder + "/source";
    destination = folder + "/destination";
    UniqueFd fd(open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755));
    std::vector<unsigned char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 31 + 7);
    for (long written = 0; fd && written < kCopySize; written += static_cast<long>(block.size())) {
      if (TolvanUNIXWrite(fd.get(), block.data(), block.size(), nullptr) != 0) return;
    }
    ready = fd.valid();
  }
  ~CopyFiles() { std::filesystem::remove_all(folder); }
};

CopyFiles &Files() {
  static CopyFiles files;
  return files;
}

void BM_CopyFile(benchmark::State &state) {
  CopyFiles &files = Files();
  if (!files.ready) return state.SkipWithError("cannot make the source file");
  for (auto _ : state) {
    unlink(files.destination.c_str());
    if (TolvanUNIXCopyFile(files.source.c_str(), files.destination.c_str()) != 0) {
      return state.SkipWithError("copy failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * kCopySize);
}

void BM_SystemCp(benchmark::State &state) {
  CopyFiles &files = Files();
  if (!files.ready) return state.SkipWithError("cannot make the source file");
  for (auto _ : state) {
    unlink(files.destination.c_str());
    char *argv[] = {const_cast<char *>("cp"), const_cast<char *>("-p"),
                    files.source.data(), files.destination.data(), nullptr};
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0) {
      return state.SkipWithError("cp failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * kCopySize);
}

BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SystemCp)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
