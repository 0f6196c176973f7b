#include "sec/destroy_inherited_environment.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sec/tool_data_limit.hpp"
#include "tests/support/child_process.hpp"

extern char **environ;

namespace {

using tolvan::test::ChildSucceeded;
using tolvan::test::RunInChild;

constexpr uint32_t kPreserveAll = 0x3FF;

// Runs only the steps whose bits are given.
uint32_t Only(uint32_t steps) { return kPreserveAll & ~steps; }

std::string Fail(const std::string &what) { return what + "\n"; }

std::vector<int> OpenDescriptors() {
  std::vector<int> fds;
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  const int own = dirfd(dir);
  while (const dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd != own) fds.push_back(fd);
  }
  closedir(dir);
  return fds;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length < 0) return "";
  return std::string(buffer, size_t(length));
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

std::string WorkingDirectory() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

bool TimerArmed(int which) {
  struct itimerval value;
  getitimer(which, &value);
  return value.it_value.tv_sec != 0 || value.it_value.tv_usec != 0 ||
         value.it_interval.tv_sec != 0 || value.it_interval.tv_usec != 0;
}

void IgnoredHandler(int) {}

// Everything a caller can hand the tool, made odd.
struct OddState {
  std::vector<int> extra_fds;
};

OddState MakeOddState() {
  OddState state;
  static char kEntry1[] = "LD_PRELOAD=/tmp/evil.so";
  static char kEntry2[] = "NO_EQUALS_SIGN";
  static char kEntry3[] = "GCONV_PATH=/tmp";
  static char kEntry4[] = "=empty-name";
  static char *kEnvironment[] = {kEntry1, kEntry2, kEntry3, kEntry4, nullptr};
  environ = kEnvironment;

  struct rlimit many = {20000, 20000};
  setrlimit(RLIMIT_NOFILE, &many);
  for (int fd : {3, 7, 100, 1023, 5000, 19999}) {
    if (dup2(0, fd) == fd) state.extra_fds.push_back(fd);
  }
  // Above the soft limit the caller leaves the tool with.
  struct rlimit few = {1024, 20000};
  setrlimit(RLIMIT_NOFILE, &few);

  signal(SIGINT, SIG_IGN);
  signal(SIGUSR1, IgnoredHandler);
  signal(SIGHUP, SIG_IGN);
  signal(SIGRTMIN + 2, SIG_IGN);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGCHLD);
  sigaddset(&blocked, SIGRTMAX);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);

  umask(0);
  chdir("/tmp");

  struct itimerval far = {{100, 0}, {100, 0}};
  setitimer(ITIMER_REAL, &far, nullptr);
  setitimer(ITIMER_VIRTUAL, &far, nullptr);
  setitimer(ITIMER_PROF, &far, nullptr);

  struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
  setrlimit(RLIMIT_CORE, &unlimited);
  struct rlimit tiny_processes = {5, 5};
  setrlimit(RLIMIT_NPROC, &tiny_processes);
  return state;
}

std::string CheckSignalsReset() {
  std::string report;
  for (int signal_number = 1; signal_number <= SIGRTMAX; ++signal_number) {
    if (signal_number == SIGKILL || signal_number == SIGSTOP) continue;
    if (signal_number > 31 && signal_number < SIGRTMIN) continue;
    struct sigaction action;
    if (sigaction(signal_number, nullptr, &action) != 0) continue;
    if (action.sa_handler != SIG_DFL)
      report += Fail("signal " + std::to_string(signal_number) + " not default");
  }
  sigset_t mask;
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  for (int signal_number = 1; signal_number <= SIGRTMAX; ++signal_number) {
    if (sigismember(&mask, signal_number) == 1)
      report += Fail("signal " + std::to_string(signal_number) + " blocked");
  }
  return report;
}

struct LimitRow {
  int resource;
  rlim_t soft;
  rlim_t hard;
};

constexpr LimitRow kTable[] = {
    {RLIMIT_CPU, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_FSIZE, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_DATA, tolvan::kToolDataLimit, RLIM_INFINITY},
    {RLIMIT_STACK, 524288, 67108864},
    {RLIMIT_CORE, 0, RLIM_INFINITY},
    {RLIMIT_AS, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_MEMLOCK, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_NPROC, 100, RLIM_INFINITY},
    {RLIMIT_NOFILE, 256, RLIM_INFINITY},
};

using Limits = std::vector<struct rlimit>;

Limits CurrentLimits() {
  Limits limits;
  for (const LimitRow &row : kTable) {
    struct rlimit limit;
    getrlimit(row.resource, &limit);
    limits.push_back(limit);
  }
  return limits;
}

bool HasCapability(int capability) {
  FILE *status = fopen("/proc/self/status", "re");
  if (status == nullptr) return false;
  char line[256];
  unsigned long long effective = 0;
  while (fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "CapEff: %llx", &effective) == 1) break;
  }
  fclose(status);
  return (effective >> capability) & 1;
}

rlim_t OpenFileCeiling() {
  FILE *file = fopen("/proc/sys/fs/nr_open", "re");
  unsigned long long ceiling = 1 << 20;
  if (file != nullptr) {
    if (std::fscanf(file, "%llu", &ceiling) != 1) ceiling = 1 << 20;
    fclose(file);
  }
  return ceiling;
}

// The table's hard limit where this process may set it, else the inherited
// one; the table's soft limit, never above the hard one.
std::string CheckLimits(const Limits &inherited) {
  constexpr int kCapSysResource = 24;
  const bool root = geteuid() == 0;
  const bool can_raise = root && HasCapability(kCapSysResource);
  std::string report;
  Limits now = CurrentLimits();
  for (size_t i = 0; i < std::size(kTable); ++i) {
    const LimitRow &row = kTable[i];
    const bool above_ceiling = row.resource == RLIMIT_NOFILE && row.hard > OpenFileCeiling();
    const bool settable =
        root && (row.hard <= inherited[i].rlim_max || (can_raise && !above_ceiling));
    const rlim_t hard = settable ? row.hard : inherited[i].rlim_max;
    const rlim_t soft = std::min(row.soft, hard);
    const std::string name = std::to_string(row.resource);
    if (now[i].rlim_cur != soft) report += Fail("soft limit of resource " + name);
    if (now[i].rlim_max != hard) report += Fail("hard limit of resource " + name);
  }
  if (prctl(PR_GET_DUMPABLE) != 0) report += Fail("still dumpable");
  return report;
}

std::string CheckDescriptorsAre(const std::vector<int> &expected) {
  std::vector<int> open = OpenDescriptors();
  if (open == expected) return "";
  std::string listed;
  for (int fd : open) listed += std::to_string(fd) + " ";
  return Fail("open descriptors: " + listed);
}

bool RunningAsRoot() { return geteuid() == 0; }

TEST(DestroyInheritedEnvironment, AsTheToolCallsItResetsEverythingButTheStandardDescriptors) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    MakeOddState();
    const Limits inherited = CurrentLimits();
    static char kOddName[] = "not-the-real-path";
    char *argv[] = {kOddName, nullptr};
    OSStatus status = TolvanSecDestroyInheritedEnvironment(kPreserveStandardDescriptors, argv);
    if (status != noErr) return Fail("status " + std::to_string(status));
    std::string report;
    if (ExecutablePath() != argv[0]) report += Fail(std::string("argv[0] is ") + argv[0]);
    if (environ != nullptr && environ[0] != nullptr) report += Fail("environment not empty");
    if (getenv("LD_PRELOAD") != nullptr) report += Fail("LD_PRELOAD still set");
    report += CheckDescriptorsAre({0, 1, 2});
    report += CheckSignalsReset();
    if (CurrentUmask() != 077) report += Fail("umask");
    report += CheckLimits(inherited);
    if (WorkingDirectory() != "/") report += Fail("working directory " + WorkingDirectory());
    for (int which : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF}) {
      if (TimerArmed(which)) report += Fail("timer " + std::to_string(which) + " armed");
    }
    return report;
  })));
}

TEST(DestroyInheritedEnvironment, PreservingEverythingChangesNothingAndNeedsNoArguments) {
  for (uint32_t flags : {kPreserveAll, 0xFFFFFFFFu}) {
    EXPECT_TRUE(ChildSucceeded(RunInChild([flags] {
      OddState state = MakeOddState();
      char **environment = environ;
      std::vector<int> fds = OpenDescriptors();
      OSStatus status = TolvanSecDestroyInheritedEnvironment(flags, nullptr);
      if (status != noErr) return Fail("status " + std::to_string(status));
      std::string report;
      if (environ != environment || getenv("LD_PRELOAD") == nullptr) report += Fail("environment");
      report += CheckDescriptorsAre(fds);
      if (signal(SIGINT, SIG_DFL) != SIG_IGN) report += Fail("SIGINT disposition");
      if (CurrentUmask() != 0) report += Fail("umask");
      if (WorkingDirectory() != "/tmp") report += Fail("working directory");
      if (!TimerArmed(ITIMER_REAL)) report += Fail("timer disarmed");
      struct rlimit core;
      getrlimit(RLIMIT_CORE, &core);
      if (core.rlim_cur != RLIM_INFINITY) report += Fail("core limit");
      return report;
    })));
  }
}

TEST(DestroyInheritedEnvironment, EmptiesEveryEnvironmentWhateverItsEntriesLookLike) {
  const std::string long_name = std::string(5000, 'N') + "=value";
  const std::vector<std::vector<std::string>> cases = {
      {"NO_EQUALS_SIGN"},
      {"=value-without-name"},
      {"A=1", "B", "C=3"},
      {long_name, "SHORT=1"},
      {"A=1", "A=2", "A"},
      {"LD_PRELOAD=/tmp/x.so", "LD_LIBRARY_PATH=/tmp", "GCONV_PATH=/tmp",
       "GLIBC_TUNABLES=glibc.malloc.check=3", "NLSPATH=/tmp/%N", "TMPDIR=/tmp", "PATH=/tmp",
       "LC_ALL=../../../tmp/%n"},
  };
  for (const auto &entries : cases) {
    EXPECT_TRUE(ChildSucceeded(RunInChild(
        [&entries] {
          std::vector<char *> environment;
          for (const std::string &entry : entries) environment.push_back(strdup(entry.c_str()));
          environment.push_back(nullptr);
          environ = environment.data();
          OSStatus status =
              TolvanSecDestroyInheritedEnvironment(Only(kPreserveEnvironment), nullptr);
          if (status != noErr) return Fail("status " + std::to_string(status));
          if (environ != nullptr && environ[0] != nullptr)
            return Fail(std::string("left ") + environ[0]);
          return std::string();
        },
        10)))
        << entries.front();
  }
  // An environment that setenv has already moved to the heap.
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    clearenv();
    for (int i = 0; i < 200; ++i) setenv(("VARIABLE_" + std::to_string(i)).c_str(), "x", 1);
    OSStatus status = TolvanSecDestroyInheritedEnvironment(Only(kPreserveEnvironment), nullptr);
    if (status != noErr) return Fail("status " + std::to_string(status));
    if (getenv("VARIABLE_7") != nullptr) return Fail("VARIABLE_7 left");
    return std::string();
  })));
}

TEST(DestroyInheritedEnvironment, ReplacesArgv0ButRefusesAnEmptyArgumentVector) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    static char kName[] = "./relative/odd";
    static char kArgument[] = "--self-repair";
    char *argv[] = {kName, kArgument, nullptr};
    OSStatus status = TolvanSecDestroyInheritedEnvironment(Only(kPreserveArgv0), argv);
    if (status != noErr) return Fail("status " + std::to_string(status));
    if (ExecutablePath() != argv[0]) return Fail(std::string("argv[0] is ") + argv[0]);
    if (argv[1] != kArgument || argv[2] != nullptr) return Fail("other arguments touched");
    return std::string();
  })));
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    char *empty[] = {nullptr, nullptr};
    if (TolvanSecDestroyInheritedEnvironment(Only(kPreserveArgv0), empty) != paramErr) {
      return Fail("empty vector accepted");
    }
    if (empty[0] != nullptr) return Fail("terminator overwritten");
    if (TolvanSecDestroyInheritedEnvironment(Only(kPreserveArgv0), nullptr) != paramErr) {
      return Fail("null vector accepted");
    }
    return std::string();
  })));
}

TEST(DestroyInheritedEnvironment, ClosesDescriptorsThatAreNotOpenWithoutFailing) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    close(1);
    OSStatus status = TolvanSecDestroyInheritedEnvironment(
        Only(kPreserveStandardDescriptors | kPreserveOtherDescriptors), nullptr);
    if (status != noErr) return Fail("status " + std::to_string(status));
    return CheckDescriptorsAre({});
  })));
}

TEST(DestroyInheritedEnvironment, ClosesThousandsOfDescriptorsAlsoAboveTheOpenFileLimit) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1 << 20);
    if (limit.rlim_cur < 4096 || setrlimit(RLIMIT_NOFILE, &limit) != 0) {
      return Fail("cannot have 4096 descriptors");
    }
    const int highest = int(limit.rlim_cur) - 1;
    for (int fd = 3; fd < 3000; ++fd) dup2(0, fd);
    if (dup2(0, highest) != highest) return Fail("cannot open the highest descriptor");
    limit.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &limit);
    OSStatus status =
        TolvanSecDestroyInheritedEnvironment(Only(kPreserveOtherDescriptors), nullptr);
    if (status != noErr) return Fail("status " + std::to_string(status));
    return CheckDescriptorsAre({0, 1, 2});
  })));
}

TEST(DestroyInheritedEnvironment, ResetsIgnoredHandledAndBlockedSignals) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    MakeOddState();
    OSStatus status = TolvanSecDestroyInheritedEnvironment(Only(kPreserveSignals), nullptr);
    if (status != noErr) return Fail("status " + std::to_string(status));
    return CheckSignalsReset();
  })));
}

TEST(DestroyInheritedEnvironment, ANiceValueOfMinusOneIsNotAFailure) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to lower the nice value";
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    if (setpriority(PRIO_PROCESS, 0, -1) != 0) return Fail("cannot set nice -1");
    errno = 0;
    OSStatus status = TolvanSecDestroyInheritedEnvironment(Only(kPreserveNice), nullptr);
    if (status != noErr) return Fail("status " + std::to_string(status));
    errno = 0;
    if (getpriority(PRIO_PROCESS, 0) != -1) return Fail("priority changed");
    return std::string();
  })));
}

TEST(DestroyInheritedEnvironment, WithoutRootOnlyTheSoftLimitsChange) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to take another user's identity";
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    struct rlimit files = {4096, 4096};
    setrlimit(RLIMIT_NOFILE, &files);
    struct rlimit stack = {8 << 20, RLIM_INFINITY};
    setrlimit(RLIMIT_STACK, &stack);
    if (seteuid(65534) != 0) return Fail("seteuid");
    const Limits inherited = CurrentLimits();
    OSStatus status = TolvanSecDestroyInheritedEnvironment(Only(kPreserveResourceLimits), nullptr);
    if (status != noErr) return Fail("status " + std::to_string(status));
    return CheckLimits(inherited);
  })));
}

// A hard limit below the table's soft one lowers the soft limit to it
// instead of stopping the preparation: Linux's default hard limits (8 MiB
// of locked memory, for one) would otherwise stop every unprivileged start.
TEST(DestroyInheritedEnvironment, ALowHardLimitCapsTheSoftLimitAndTheLaterStepsStillRun) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to take another user's identity";
  for (bool as_root : {false, true}) {
    EXPECT_TRUE(ChildSucceeded(RunInChild([as_root] {
      struct rlimit cpu = {100, 100};
      setrlimit(RLIMIT_CPU, &cpu);
      struct rlimit size = {4096, 4096};
      setrlimit(RLIMIT_FSIZE, &size);
      chdir("/tmp");
      struct itimerval far = {{100, 0}, {100, 0}};
      setitimer(ITIMER_REAL, &far, nullptr);
      if (!as_root && seteuid(65534) != 0) return Fail("seteuid");
      const Limits inherited = CurrentLimits();
      OSStatus status = TolvanSecDestroyInheritedEnvironment(
          Only(kPreserveResourceLimits | kPreserveWorkingDirectory | kPreserveTimers), nullptr);
      if (status != noErr) return Fail("status " + std::to_string(status));
      std::string report = CheckLimits(inherited);
      if (WorkingDirectory() != "/") report += Fail("working directory");
      if (TimerArmed(ITIMER_REAL)) report += Fail("timer still armed");
      return report;
    }))) << (as_root ? "as root" : "as a user");
  }
}

}  // namespace
