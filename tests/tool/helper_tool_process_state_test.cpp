// What the installed set-user-ID tool inherits from a hostile caller is
// reset before it reads the request: the test starts it with odd process
// state and looks at it through /proc while it waits for the request frame.
// (The environment and argv[0] cannot be seen there: /proc shows the
// strings the process started with, not its current vectors. The unit tests
// of the process preparation cover both.)
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "sec/tool_data_limit.hpp"
#include "tests/tool/tool_test_support.hpp"

namespace tolvan::test {
namespace {

constexpr int kTimeoutSeconds = 60;

struct LimitRow {
  int resource;
  const char *proc_name;  // as /proc/<pid>/limits names it
  rlim_t soft;
  rlim_t hard;
};

const LimitRow kTable[] = {
    {RLIMIT_CPU, "Max cpu time", RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_FSIZE, "Max file size", RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_DATA, "Max data size", kToolDataLimit, RLIM_INFINITY},
    {RLIMIT_STACK, "Max stack size", 524288, 67108864},
    {RLIMIT_CORE, "Max core file size", 0, RLIM_INFINITY},
    {RLIMIT_AS, "Max address space", RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_MEMLOCK, "Max locked memory", RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_NPROC, "Max processes", 100, RLIM_INFINITY},
    {RLIMIT_NOFILE, "Max open files", 256, RLIM_INFINITY},
};

// The limits a caller hands the tool: odd soft values under the hard ones
// it has (a user cannot raise those).
void SetOddLimits() {
  auto soft = [](int resource, rlim_t value) {
    struct rlimit limit;
    getrlimit(resource, &limit);
    limit.rlim_cur = std::min(value, limit.rlim_max);
    setrlimit(resource, &limit);
  };
  soft(RLIMIT_CPU, 1000);
  soft(RLIMIT_FSIZE, 1 << 20);
#ifndef TOLVAN_ADDRESS_SANITIZER_BUILD
  // A sanitizer build maps terabytes of shadow memory before main.
  soft(RLIMIT_DATA, rlim_t(1) << 30);
#endif
  soft(RLIMIT_STACK, 8 << 20);
  soft(RLIMIT_CORE, RLIM_INFINITY);
  soft(RLIMIT_NOFILE, 20000);
  soft(RLIMIT_NPROC, 5000);
}

rlim_t ParseLimit(const std::string &text) {
  return text == "unlimited" ? RLIM_INFINITY : rlim_t(std::stoull(text));
}

// Soft and hard limit by name from /proc/<pid>/limits.
std::map<std::string, std::pair<rlim_t, rlim_t>> ReadLimits(pid_t pid) {
  std::map<std::string, std::pair<rlim_t, rlim_t>> limits;
  std::istringstream lines(ProcFile(pid, "limits"));
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    if (line.size() < 26) continue;
    std::string name = line.substr(0, 26);
    name.erase(name.find_last_not_of(' ') + 1);
    std::istringstream values(line.substr(26));
    std::string soft, hard;
    values >> soft >> hard;
    limits[name] = {ParseLimit(soft), ParseLimit(hard)};
  }
  return limits;
}

unsigned long long HexField(const std::string &status, const std::string &name) {
  const std::string text = StatusField(status, name);
  return text.empty() ? ~0ULL : std::stoull(text, nullptr, 16);
}

rlim_t OpenFileCeiling() {
  const std::string text = ReadWholeFile("/proc/sys/fs/nr_open");
  return text.empty() ? rlim_t(1) << 20 : rlim_t(std::stoull(text));
}

// The table's hard limit where the tool, as root, may set it, else the
// inherited one; the table's soft limit, never above the hard one.
std::string CheckLimits(pid_t pid, const std::string &status) {
  constexpr int kCapSysResource = 24;
  const bool can_raise = (HexField(status, "CapPrm") >> kCapSysResource) & 1;
  const auto limits = ReadLimits(pid);
  std::string report;
  for (const LimitRow &row : kTable) {
    struct rlimit inherited;
    getrlimit(row.resource, &inherited);
    const bool above_ceiling = row.resource == RLIMIT_NOFILE && row.hard > OpenFileCeiling();
    const bool settable = row.hard <= inherited.rlim_max || (can_raise && !above_ceiling);
    const rlim_t hard = settable ? row.hard : inherited.rlim_max;
    const rlim_t soft = std::min(row.soft, hard);
    const auto found = limits.find(row.proc_name);
    if (found == limits.end() || found->second != std::make_pair(soft, hard)) {
      report += std::string(row.proc_name) + " not as expected\n";
    }
  }
  return report;
}

std::string Link(pid_t pid, const std::string &name) {
  char target[4096];
  const std::string path = "/proc/" + std::to_string(pid) + "/" + name;
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n < 0 ? "" : std::string(target, size_t(n));
}

std::vector<int> OpenDescriptors(pid_t pid) {
  std::vector<int> fds;
  if (DIR *dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (const dirent *entry = readdir(dir)) {
      if (entry->d_name[0] != '.') fds.push_back(std::atoi(entry->d_name));
    }
    closedir(dir);
  }
  std::sort(fds.begin(), fds.end());
  return fds;
}

// Waits until the tool blocks reading its standard input (the frame).
bool WaitUntilReadingInput(pid_t pid) {
  for (int tries = 0; tries < 1000; ++tries) {
    if (ProcFile(pid, "syscall").rfind("0 0x0 ", 0) == 0) return true;
    usleep(5000);
  }
  return false;
}

std::string Probe(pid_t pid) {
  if (!WaitUntilReadingInput(pid)) return "the tool never waited for the request\n";
  std::string report;
  const std::string status = ProcFile(pid, "status");
  if (HexField(status, "SigBlk") != 0) report += "blocked signals: " + StatusField(status, "SigBlk") + "\n";
  if (HexField(status, "SigIgn") != (1ULL << (SIGPIPE - 1))) {
    report += "ignored signals: " + StatusField(status, "SigIgn") + "\n";
  }
  if (HexField(status, "SigCgt") != 0) report += "caught signals: " + StatusField(status, "SigCgt") + "\n";
  if (StatusField(status, "Umask") != "0077") report += "umask " + StatusField(status, "Umask") + "\n";
  if (Link(pid, "cwd") != "/") report += "working directory " + Link(pid, "cwd") + "\n";
  if (OpenDescriptors(pid) != std::vector<int>{0, 1, 2}) report += "descriptors above 2 are open\n";
  if (Link(pid, "fd/2") != "/dev/null") report += "descriptor 2 is " + Link(pid, "fd/2") + "\n";
  report += CheckLimits(pid, status);
  return report;
}

void IgnoredHandler(int) {}

// In the tool's process before exec, as the user.
void MakeOddState() {
  close(2);
  for (int fd : {3, 7, 100, 1023, 5000, 19999}) dup2(0, fd);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN + 1}) {
    signal(signal_number, SIG_IGN);
  }
  signal(SIGUSR2, IgnoredHandler);  // a handler becomes the default at exec
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal_number : {SIGTERM, SIGUSR2, SIGCHLD, SIGRTMAX}) sigaddset(&blocked, signal_number);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  umask(0);
  if (chdir("/tmp") != 0) _exit(126);
  // Survives exec; fires while the tool waits, and would end it once
  // SIGALRM is back to its default, were the timer not disarmed.
  struct itimerval soon = {{0, 200000}, {1, 0}};
  setitimer(ITIMER_REAL, &soon, nullptr);
  struct itimerval cpu = {{100, 0}, {100, 0}};
  setitimer(ITIMER_VIRTUAL, &cpu, nullptr);
  setitimer(ITIMER_PROF, &cpu, nullptr);
}

TEST(HelperToolProcessState, EverythingInheritedIsResetBeforeTheRequestIsRead) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: installs a set-user-ID tool and creates users";
  AuthorizationSetupLock setup_lock;
  StoreLock store_lock;
  ASSERT_TRUE(setup_lock.held());
  ASSERT_TRUE(WriteTestPamService());
  ASSERT_TRUE(EnsureSystemRootMachineID());
  ThrowawayAccounts accounts;
  ThrowawayUser user;
  ASSERT_TRUE(accounts.AddUser(ThrowawayAccounts::UniqueName("tvtp"), "probe password", "", &user));
  const std::string tool = InstallHelperTool("tolvan-helper-state-test");
  ASSERT_FALSE(tool.empty());

  ChildOutcome outcome = RunInChild(
      [&] {
        setsid();
        // The application keeps root in its saved user ID only to read the
        // tool's /proc files, which the tool's identity closes to the user.
        if (!BecomeUser(user, true)) return std::string("cannot become the user\n");
        SetOddLimits();
        ToolLaunch launch;
        launch.tool = tool;
        launch.frame = FrameOf(DictionaryOf({{CFSTR("state.test.key"), CFSTR("value")}}).get());
        launch.environment = {"LD_PRELOAD=/tmp/evil.so",     "LD_LIBRARY_PATH=/tmp",
                              "GCONV_PATH=/tmp",             "GLIBC_TUNABLES=glibc.malloc.check=3",
                              "NLSPATH=/tmp/%N",             "TMPDIR=/tmp/elsewhere",
                              "PATH=/tmp",                   "LC_ALL=../../../tmp/%n",
                              "NO_EQUALS_SIGN",              "=no-name"};
        launch.before_exec = MakeOddState;
        launch.after_form = [](pid_t pid) {
          if (seteuid(0) != 0) return std::string("cannot look at the tool\n");
          std::string report = Probe(pid);
          if (seteuid(getuid()) != 0) report += "cannot give root back\n";
          usleep(1500000);  // the inherited timer would have fired by now
          return report;
        };
        std::string report;
        Exchange exchange = RunExchange(launch, &report);
        const OSStatus denied = errAuthorizationDenied;
        return report + CheckExchange(exchange, 0, &denied);
      },
      kTimeoutSeconds);
  EXPECT_TRUE(outcome.finished) << outcome.failure;
  EXPECT_EQ(outcome.report, "");
}

}  // namespace
}  // namespace tolvan::test
