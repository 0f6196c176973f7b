// One request through the installed helper tool, end to end: the
// application's side from starting the tool to having its reply, the
// durable save included. Run as root, so that the right is granted without
// a password.
//
// Measured against, in the same run:
//  - the floor of bench/request_floor.hpp;
//  - pkexec --version: a privileged launcher that does nothing (skipped when
//    pkexec is not installed).
// And: the small request, and the tool's start-up alone, with 1,024 and with
// 20,000 open-file slots inherited; a 1 MiB request of 20,000 pairs, with the tool's peak resident
// memory and, where this machine lets a caller's hard limit stand, the
// smallest data limit under which it is still served.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/request_floor.hpp"
#include "platform/auth/authorization.h"
#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "sec/response_error.h"
#include "sec/tool_data_limit.hpp"
#include "tests/support/installed_helper_tool.hpp"
#include "tool/perform_command.h"
#include "unix/full_transfer.h"

extern char **environ;

namespace {

using tolvan::CFRef;
using tolvan::bench::Median;
using tolvan::bench::Spawn;
using tolvan::bench::StoreFile;
using tolvan::bench::TimeInTurns;

constexpr int kLargePairs = 20000;

struct Run {
  bool served = false;
  bool replied = false;
  OSStatus command_status = -1;
  int wait_status = 0;
  long peak_resident_kib = 0;
};

struct ToolRequest {
  std::string tool;
  AuthorizationExternalForm form = {};
  std::string frame;  // length word and payload, sent with one write
};

std::string FrameOf(CFDictionaryRef request) {
  auto xml = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(kCFAllocatorDefault, request));
  if (!xml) return "";
  uint32_t word = htonl(uint32_t(CFDataGetLength(xml.get())));
  std::string frame(reinterpret_cast<const char *>(&word), sizeof word);
  frame.append(reinterpret_cast<const char *>(CFDataGetBytePtr(xml.get())),
               size_t(CFDataGetLength(xml.get())));
  return frame;
}

Run RunTool(const ToolRequest &request, rlim_t open_files = 0, rlim_t data_limit = 0) {
  Run run;
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return run;
  std::string tool = request.tool;
  char *const argv[] = {tool.data(), nullptr};
  pid_t pid = Spawn(tool.c_str(), argv, sockets[1], open_files, data_limit);
  close(sockets[1]);
  CFRef<CFDictionaryRef> reply;
  if (pid > 0 &&
      TolvanUNIXWrite(sockets[0], &request.form, sizeof request.form, nullptr) == 0 &&
      TolvanUNIXWrite(sockets[0], request.frame.data(), request.frame.size(), nullptr) == 0 &&
      shutdown(sockets[0], SHUT_WR) == 0 &&
      CopyDictionaryTranslatingDescriptors(sockets[0], reply.out()) == 0) {
    run.replied = true;
    run.command_status = TolvanSecGetErrorFromResponse(reply.get());
    run.served = run.command_status == 0;
  }
  close(sockets[0]);
  struct rusage usage = {};
  if (pid > 0) wait4(pid, &run.wait_status, 0, &usage);
  run.served = run.served && WIFEXITED(run.wait_status) && WEXITSTATUS(run.wait_status) == 0;
  run.peak_resident_kib = usage.ru_maxrss;
  return run;
}

CFRef<CFDictionaryRef> SmallRequest() {
  int count = 3;
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberIntType, &count));
  const void *keys[] = {CFSTR("bench.name"), CFSTR("bench.count"), CFSTR("bench.enabled")};
  const void *values[] = {CFSTR("tolvan"), number.get(), kCFBooleanTrue};
  return CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      nullptr, keys, values, 3, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

// 20,000 string pairs whose frame is as close to 1 MiB as fits.
std::string LargeFrame() {
  std::string best;
  for (int value_length = 1;; ++value_length) {
    auto request = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    const std::string filler(size_t(value_length), 'v');
    for (int i = 0; i < kLargePairs; ++i) {
      char key[32];
      std::snprintf(key, sizeof key, "large.%05d", i);
      auto key_string = CFRef<CFStringRef>::Adopt(
          CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8));
      auto value = CFRef<CFStringRef>::Adopt(
          CFStringCreateWithCString(nullptr, filler.c_str(), kCFStringEncodingUTF8));
      CFDictionarySetValue(request.get(), key_string.get(), value.get());
    }
    std::string frame = FrameOf(request.get());
    if (frame.size() - 4 > size_t(kDictionaryFrameMaxLength)) return best;
    best = std::move(frame);
  }
}

struct Setup {
  std::string error;
  ToolRequest small;
  ToolRequest large;
  off_t store_size = 0;
};

const Setup &TheSetup() {
  static const Setup setup = [] {
    Setup s;
    // A tool that ends early must show as a failed run, not end the bench.
    signal(SIGPIPE, SIG_IGN);
    if (geteuid() != 0) {
      s.error = "run as root: the tool is installed set-user-ID root";
      return s;
    }
    if (!tolvan::test::EnsureSystemRootMachineID()) {
      s.error = "cannot write the system root's machine id";
      return s;
    }
    s.small.tool = tolvan::test::InstallHelperTool("tolvan-helper-bench");
    if (s.small.tool.empty()) {
      s.error = "cannot install the tool";
      return s;
    }
    AuthorizationRef authorization = nullptr;
    if (AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &authorization) != 0 ||
        AuthorizationMakeExternalForm(authorization, &s.small.form) != 0) {
      s.error = "cannot make an authorization";
      return s;
    }
    s.small.frame = FrameOf(SmallRequest().get());
    s.large = s.small;
    s.large.frame = LargeFrame();
    // A store that holds only the small request's pairs, as in normal use.
    unlink(StoreFile().c_str());
    if (!RunTool(s.small).served) {
      s.error = "the tool does not serve the small request";
      return s;
    }
    struct stat store;
    if (stat(StoreFile().c_str(), &store) != 0) {
      s.error = "no store file after a request";
      return s;
    }
    s.store_size = store.st_size;
    return s;
  }();
  return setup;
}

bool Ready(benchmark::State &state) {
  if (!TheSetup().error.empty()) {
    state.SkipWithError(TheSetup().error.c_str());
    return false;
  }
  return true;
}

bool RunFloor() { return tolvan::bench::RunRequestFloor(TheSetup().store_size); }

constexpr char kPkexec[] = "/usr/bin/pkexec";

bool RunPkexecVersion() {
  static const int null_device = open("/dev/null", O_RDWR | O_CLOEXEC);
  char program[sizeof kPkexec];
  std::memcpy(program, kPkexec, sizeof kPkexec);
  char version[] = "--version";
  char *const argv[] = {program, version, nullptr};
  pid_t pid = Spawn(program, argv, null_device, 0, 0);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  return status == 0;
}

bool RunSmall(rlim_t open_files) { return RunTool(TheSetup().small, open_files).served; }

// The tool's start-up alone: everything up to the refusal of a bad
// argument (process preparation, the driver's path lookup), nothing read.
bool RunStartUp(rlim_t open_files) {
  static const int null_device = open("/dev/null", O_RDWR | O_CLOEXEC);
  std::string tool = TheSetup().small.tool;
  char bogus[] = "--bogus";
  char *const argv[] = {tool.data(), bogus, nullptr};
  pid_t pid = Spawn(tool.c_str(), argv, null_device, open_files, 0);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

template <typename Step>
void Repeat(benchmark::State &state, Step step) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    if (!step()) {
      state.SkipWithError("the run failed");
      return;
    }
  }
}

void BM_SmallRequest(benchmark::State &state) {
  const rlim_t open_files = rlim_t(state.range(0));
  Repeat(state, [open_files] { return RunSmall(open_files); });
}
BENCHMARK(BM_SmallRequest)->Arg(1024)->Arg(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Floor(benchmark::State &state) { Repeat(state, RunFloor); }
BENCHMARK(BM_Floor)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PkexecVersion(benchmark::State &state) {
  if (access(kPkexec, X_OK) != 0) {
    state.SkipWithError("pkexec is not installed");
    return;
  }
  Repeat(state, RunPkexecVersion);
}
BENCHMARK(BM_PkexecVersion)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Interleaved(benchmark::State &state) {
  if (!Ready(state)) return;
  const bool with_pkexec = access(kPkexec, X_OK) == 0;
  const std::function<bool()> steps[] = {
      [] { return RunSmall(1024); }, [] { return RunSmall(20000); }, RunFloor,
      [with_pkexec] { return !with_pkexec || RunPkexecVersion(); }};
  std::vector<double> times[std::size(steps)];
  if (!TimeInTurns(state, steps, times)) return;
  const double tool = Median(times[0]);
  const double floor = Median(times[2]);
  state.counters["tool_us"] = tool;
  state.counters["tool_20000_slots_us"] = Median(times[1]);
  state.counters["floor_us"] = floor;
  state.counters["tool_per_floor"] = tool / floor;
  state.counters["slots_20000_per_1024"] = Median(times[1]) / tool;
  if (with_pkexec) {
    state.counters["pkexec_us"] = Median(times[3]);
    state.counters["tool_per_pkexec"] = tool / Median(times[3]);
  }
}
BENCHMARK(BM_Interleaved)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(5);

// The start-up alone, without the disk, with 1,024 and 20,000 slots in turn.
void BM_StartUpSlots(benchmark::State &state) {
  if (!Ready(state)) return;
  const std::function<bool()> steps[] = {[] { return RunStartUp(1024); },
                                         [] { return RunStartUp(20000); }};
  std::vector<double> times[std::size(steps)];
  if (!TimeInTurns(state, steps, times)) return;
  state.counters["start_up_us"] = Median(times[0]);
  state.counters["start_up_20000_slots_us"] = Median(times[1]);
  state.counters["slots_20000_per_1024"] = Median(times[1]) / Median(times[0]);
}
BENCHMARK(BM_StartUpSlots)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2);

// The smallest data limit (in steps of 128 KiB) under which the tool still
// serves the request, into an empty store or into one that already holds
// its pairs. Found where a caller's lower hard limit stands (root without
// CAP_SYS_RESOURCE); 0 where the tool raises it itself, which shows as a
// request served under a limit of 1 MiB; -1 when not served under the
// tool's own limit.
struct LimitSearch {
  long smallest_kib = 0;
  int failed_with_reply = 0;   // the command's status says what ran short
  int failed_without_reply = 0;  // a clean exit status, no reply
  int killed = 0;              // ended by a signal: not clean
};

LimitSearch SmallestDataLimit(const ToolRequest &request, bool into_empty_store) {
  constexpr rlim_t kStep = 128 << 10;
  LimitSearch search;
  auto served_under = [&](rlim_t limit) {
    unlink(StoreFile().c_str());
    if (!into_empty_store) RunTool(request);
    const Run run = RunTool(request, 0, limit);
    if (!run.served) {
      if (WIFSIGNALED(run.wait_status)) {
        ++search.killed;
      } else if (run.replied) {
        ++search.failed_with_reply;
      } else {
        ++search.failed_without_reply;
      }
    }
    return run.served;
  };
  if (served_under(1 << 20)) return search;
  rlim_t limit = rlim_t(tolvan::kToolDataLimit);
  if (!served_under(limit)) {
    search.smallest_kib = -1;
    return search;
  }
  // Down to where the run fails, and a little further, to see how it fails.
  while (limit > kStep && served_under(limit - kStep)) limit -= kStep;
  for (rlim_t below = limit - 2 * kStep; below > 3 * kStep && below + 8 * kStep > limit; below -= kStep) {
    served_under(below);
  }
  search.smallest_kib = long(limit >> 10);
  return search;
}

// Into a store that holds none of its pairs (the file is removed before
// each run). The data limits it needs, into such a store and into one that
// already holds all of them (which the save re-reads and merges), are
// reported as counters.
void BM_LargeRequest(benchmark::State &state) {
  if (!Ready(state)) return;
  Run run;
  for (auto _ : state) {
    state.PauseTiming();
    unlink(StoreFile().c_str());
    state.ResumeTiming();
    run = RunTool(TheSetup().large);
    if (!run.served) {
      const std::string error = "1 MiB request not served under the tool's limits (wait status " +
                                std::to_string(run.wait_status) + ", command status " +
                                std::to_string(run.command_status) + ")";
      state.SkipWithError(error.c_str());
      return;
    }
  }
  state.counters["frame_bytes"] = double(TheSetup().large.frame.size() - 4);
  state.counters["peak_resident_KiB"] = double(run.peak_resident_kib);
  const LimitSearch empty = SmallestDataLimit(TheSetup().large, true);
  const LimitSearch overwrite = SmallestDataLimit(TheSetup().large, false);
  state.counters["data_limit_needed_KiB"] = double(empty.smallest_kib);
  state.counters["overwrite_data_limit_needed_KiB"] = double(overwrite.smallest_kib);
  state.counters["below_limit_failed_with_reply"] =
      double(empty.failed_with_reply + overwrite.failed_with_reply);
  state.counters["below_limit_failed_without_reply"] =
      double(empty.failed_without_reply + overwrite.failed_without_reply);
  state.counters["below_limit_killed"] = double(empty.killed + overwrite.killed);
  unlink(StoreFile().c_str());
}
BENCHMARK(BM_LargeRequest)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
