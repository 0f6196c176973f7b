// What the relay through a privileged copy adds to one request. An
// administrator's application, in one session whose timestamp is valid (an
// agent answers the first question only), sends the same small request in
// turns to:
//  - the installed tool, root's with mode 04555: the normal path;
//  - a copy that belongs to the user with mode 0555, put back that way (as
//    root, untimed) before every run, so that each run relays through the
//    trampoline and repairs the file again.
// Run as root: it installs the trampoline and creates a throwaway user.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/tool/tool_test_support.hpp"

namespace {

using tolvan::CFRef;
namespace test = tolvan::test;

constexpr int kTurns = 200;

struct Setup {
  std::string error;
  test::ThrowawayAccounts accounts;
  test::ThrowawayUser admin;
  std::string installed;
  std::string folder;
  std::string copy;
  std::string agent;

  ~Setup() {
    unlink(copy.c_str());
    rmdir(folder.c_str());
    unlink(agent.c_str());
  }
};

std::string Prepare(Setup *s) {
  if (geteuid() != 0) return "run as root: installs the trampoline and creates a user";
  if (!test::EnsureSystemRootMachineID()) return "cannot write the system root's machine id";
  if (test::InstallTrampoline().empty()) return "cannot install the trampoline";
  s->installed = test::InstallHelperTool("tolvan-helper-repair-bench");
  if (s->installed.empty()) return "cannot install the tool";
  const std::string group = test::ThrowawayAccounts::UniqueName("tvbadm");
  if (!s->accounts.AddGroup(group) ||
      !s->accounts.AddUser(test::ThrowawayAccounts::UniqueName("tvba"), "bench horse battery",
                           group, &s->admin)) {
    return "cannot create the administrator";
  }
  s->agent = test::SystemRootPath("usr/libexec/tolvan-test/repair-bench-agent");
  if (!test::WriteRootOwnedFile(s->agent, "#!/bin/sh\necho '" + s->admin.password + "'\n", 0755) ||
      !test::WriteTestPamService() ||
      !test::WriteAuthorizationPolicy("admin-group = " + group + "\nagent = " + s->agent + "\n")) {
    return "cannot write the authorization set-up";
  }
  s->folder = test::SystemRootPath("home/" + s->admin.name);
  if (!test::MakeRootOwnedFolders(test::SystemRootPath("home")) ||
      mkdir(s->folder.c_str(), 0755) != 0 ||
      chown(s->folder.c_str(), s->admin.uid, s->admin.gid) != 0) {
    return "cannot make the user's folder";
  }
  s->copy = s->folder + "/tolvan-helper";
  const int fd = open(s->copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
  const bool copied = fd >= 0 && test::CopyFileContent(TOLVAN_HELPER_PATH, fd);
  if (fd >= 0) close(fd);
  return copied ? "" : "cannot copy the tool";
}

Setup &TheSetup() {
  static Setup setup;
  static const bool prepared = [] {
    setup.error = Prepare(&setup);
    return true;
  }();
  (void)prepared;
  return setup;
}

bool Repaired(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && info.st_uid == 0 && info.st_mode == (S_IFREG | 04555);
}

// The fresh install's state, made as root.
bool ResetCopy(const Setup &s) {
  if (seteuid(0) != 0) return false;
  const bool reset =
      chown(s.copy.c_str(), s.admin.uid, s.admin.gid) == 0 && chmod(s.copy.c_str(), 0555) == 0;
  return seteuid(s.admin.uid) == 0 && reset;
}

bool Served(const std::string &tool, const std::string &frame) {
  test::ToolLaunch launch;
  launch.tool = tool;
  launch.frame = frame;
  std::string report;
  const OSStatus granted = 0;
  test::Exchange exchange = test::RunExchange(launch, &report);
  return report.empty() && test::CheckExchange(exchange, 0, &granted).empty();
}

double Microseconds(const struct timespec &from, const struct timespec &to) {
  return double(to.tv_sec - from.tv_sec) * 1e6 + double(to.tv_nsec - from.tv_nsec) / 1e3;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// In the application process: the administrator, saved user id root for
// the untimed resets only. kTurns pairs of times (normal, relayed), in
// microseconds, written to output; nothing on a failure.
void TimeInApplication(const Setup &s, int output) {
  if (setsid() < 0 || !test::BecomeUser(s.admin, true)) return;
  const std::string frame = test::FrameOf(test::RichRequest("bench.repair").get());
  // The first question of the session goes to the agent; the timed runs
  // are let off by the timestamp.
  if (!ResetCopy(s) || !Served(s.copy, frame) || !Served(s.installed, frame)) return;
  std::vector<double> times;
  for (int turn = 0; turn < kTurns; ++turn) {
    if (!ResetCopy(s)) return;
    for (const std::string *tool : {&s.installed, &s.copy}) {
      struct timespec from, to;
      clock_gettime(CLOCK_MONOTONIC, &from);
      if (!Served(*tool, frame)) return;
      clock_gettime(CLOCK_MONOTONIC, &to);
      times.push_back(Microseconds(from, to));
    }
    // Each timed run of the copy relayed and repaired it.
    if (!Repaired(s.copy)) return;
  }
  (void)TolvanUNIXWrite(output, times.data(), times.size() * sizeof(double), nullptr);
}

void BM_RelayAgainstNormalPath(benchmark::State &state) {
  const Setup &s = TheSetup();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  std::vector<double> normal, relayed;
  for (auto _ : state) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      state.SkipWithError("no pipe");
      return;
    }
    const pid_t application = fork();
    if (application == 0) {
      close(ends[0]);
      TimeInApplication(s, ends[1]);
      _exit(0);
    }
    close(ends[1]);
    std::vector<double> times(2 * kTurns);
    const bool complete =
        TolvanUNIXRead(ends[0], times.data(), times.size() * sizeof(double), nullptr) == 0;
    close(ends[0]);
    waitpid(application, nullptr, 0);
    if (!complete) {
      state.SkipWithError("a request was not served");
      return;
    }
    for (size_t i = 0; i < times.size(); i += 2) {
      normal.push_back(times[i]);
      relayed.push_back(times[i + 1]);
    }
  }
  const double normal_us = Median(normal);
  const double relayed_us = Median(relayed);
  state.counters["normal_us"] = normal_us;
  state.counters["relayed_us"] = relayed_us;
  state.counters["added_us"] = relayed_us - normal_us;
  state.counters["relayed_per_normal"] = relayed_us / normal_us;
}
BENCHMARK(BM_RelayAgainstNormalPath)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
