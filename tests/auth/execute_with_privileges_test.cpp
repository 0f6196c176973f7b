// Privileged launches for real: the installed set-user-ID trampoline, a
// throwaway administrator and a plain user, the test system root's PAM
// service and an authentication agent. Each launch is made from a process
// of the user in a session of its own, without root at hand, the way an
// application (or a tool copy that lost its set-user-ID bit) makes it. The
// program launched is a probe that reports how it was started.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/auth/authorization.h"
#include "tests/support/authorization_accounts.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/installed_helper_tool.hpp"

namespace tolvan::test {
namespace {

constexpr int kTimeoutSeconds = 60;
constexpr OSStatus kNoStatus = 999999;
constexpr int kLeakedDescriptor = 57;
constexpr char kInput[] = "hello over the link";
constexpr char kProgramEnvironment[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// What a launch gave: the status, and when the program ran, its report
// (key -> values in order) and its exit code.
struct Launch {
  OSStatus status = kNoStatus;
  std::map<std::string, std::vector<std::string>> report;
  int exitCode = -1;
  std::string failure;

  std::string One(const std::string &key) const {
    auto found = report.find(key);
    return found == report.end() || found->second.size() != 1 ? "<" + key + "?>"
                                                              : found->second[0];
  }
  std::vector<std::string> All(const std::string &key) const {
    auto found = report.find(key);
    return found == report.end() ? std::vector<std::string>() : found->second;
  }
};

Launch ParseLaunch(const ChildOutcome &outcome) {
  Launch launch;
  launch.failure = outcome.finished ? "" : outcome.failure;
  std::istringstream lines(outcome.report);
  for (std::string line; std::getline(lines, line);) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    launch.report[line.substr(0, equals)].push_back(line.substr(equals + 1));
  }
  if (!launch.All("status").empty()) launch.status = std::stoi(launch.One("status"));
  if (!launch.All("exit").empty()) launch.exitCode = std::stoi(launch.One("exit"));
  return launch;
}

// In the user's process: sends the input, reads the program's report to
// the end and reaps the program by the process id it reports.
std::string Converse(int link) {
  std::string output;
  if (write(link, kInput, sizeof kInput - 1) != static_cast<ssize_t>(sizeof kInput - 1)) {
    return "status=-1\n";
  }
  shutdown(link, SHUT_WR);
  char buffer[512];
  for (ssize_t got; (got = read(link, buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<size_t>(got));
  }
  pid_t pid = -1;
  size_t at = output.find("pid=");
  if (at != std::string::npos) pid = static_cast<pid_t>(std::atoi(output.c_str() + at + 4));
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return output + "exit=-2\n";
  return output + "exit=" + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -3) + "\n";
}

std::vector<char *> ArgumentVector(const std::vector<std::string> &arguments) {
  std::vector<char *> argv;
  for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// The application's way: AuthorizationExecuteWithPrivileges.
std::string LaunchThroughLibrary(const std::string &program,
                                 const std::vector<std::string> &arguments) {
  AuthorizationRef reference = nullptr;
  OSStatus status = AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &reference);
  if (status != 0) return "status=" + std::to_string(status) + "\n";
  std::vector<char *> argv = ArgumentVector(arguments);
  FILE *link = nullptr;
  status = AuthorizationExecuteWithPrivileges(reference, program.c_str(), kAuthorizationFlagDefaults,
                                              argv.data(), &link);
  AuthorizationFree(reference, kAuthorizationFlagDefaults);
  std::string report = "status=" + std::to_string(status) + "\n";
  if (status != 0) return report + (link != nullptr ? "stream=left\n" : "");
  report += Converse(fileno(link));
  fclose(link);
  return report;
}

// The form a launch sends to the trampoline directly: the caller's own, or
// bytes a test chose.
using FormSource = std::function<bool(AuthorizationExternalForm *)>;

bool OwnForm(AuthorizationExternalForm *form) {
  AuthorizationRef reference = nullptr;
  if (AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &reference) != 0) {
    return false;
  }
  bool made = AuthorizationMakeExternalForm(reference, form) == 0;
  AuthorizationFree(reference, kAuthorizationFlagDefaults);
  return made;
}

// The trampoline's command line after argv[0], for a program; and how many
// bytes of the form are sent before the sending direction is shut.
std::vector<std::string> ExecuteArguments(const std::string &program) {
  return {"--execute", program};
}

// A hostile caller's way: the trampoline run by hand, with an odd argv[0],
// an environment of loader and locale variables, descriptor 2 closed and an
// extra one inherited, and signals ignored and blocked. Reports the status word
// (none when the link ends without one), the program's report when it ran,
// and the trampoline's own exit code when it did not become the program.
std::string LaunchTrampolineDirectly(const std::string &trampoline,
                                     const std::vector<std::string> &arguments,
                                     const FormSource &formSource,
                                     size_t formLength = kAuthorizationExternalFormLength) {
  AuthorizationExternalForm form;
  if (!formSource(&form)) return "no form\n";
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return "no socket\n";
  std::vector<std::string> command = {"odd argv[0]"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv = ArgumentVector(command);
  const std::vector<std::string> environment = {
      "LD_PRELOAD=/nonexistent/libhostile.so", "LD_LIBRARY_PATH=/tmp",
      "GCONV_PATH=/tmp/gconv", "GLIBC_TUNABLES=glibc.malloc.check=3",
      "NLSPATH=/tmp/%N", "TMPDIR=/tmp/hostile", "PATH=/tmp/hostile:/usr/bin",
      "LC_ALL=../../../tmp/%n", "NAME_WITHOUT_EQUALS"};
  std::vector<char *> envp = ArgumentVector(environment);
  pid_t pid = fork();
  if (pid == 0) {
    if (dup2(ends[1], 0) < 0 || dup2(ends[1], 1) < 0 || dup2(ends[1], kLeakedDescriptor) < 0) {
      _exit(126);
    }
    close(STDERR_FILENO);
    signal(SIGTERM, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGCHLD);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    execve(trampoline.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(ends[1]);
  if (pid < 0) return "no fork\n";
  std::string report;
  unsigned char word[4];
  if (formLength > 0) {
    (void)send(ends[0], form.bytes, formLength, MSG_NOSIGNAL);
  }
  if (formLength < sizeof form.bytes) shutdown(ends[0], SHUT_WR);
  if (read(ends[0], word, sizeof word) == sizeof word) {
    OSStatus status = static_cast<OSStatus>(uint32_t(word[0]) << 24 | uint32_t(word[1]) << 16 |
                                            uint32_t(word[2]) << 8 | word[3]);
    report = "status=" + std::to_string(status) + "\n";
    if (status == 0) report += Converse(ends[0]);
  }
  close(ends[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) {
    report += "trampoline-exit=" +
              std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status)) + "\n";
  }
  return report;
}

class PrivilegedLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "needs root: installs the set-user-ID trampoline and creates users";
    }
    ASSERT_TRUE(setup_lock_.held());
    ASSERT_FALSE(InstallTrampoline().empty());
    probe_ = InstallRootOwnedCopy(TOLVAN_LAUNCH_PROBE_PATH, "tolvan-launch-probe-test", 0755);
    ASSERT_FALSE(probe_.empty());
    group_ = ThrowawayAccounts::UniqueName("tvladm");
    ASSERT_TRUE(accounts_.AddGroup(group_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvla"), "launch horse staple",
                                  group_, &admin_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvlu"), "plain launch password",
                                  "", &user_));
    ASSERT_TRUE(WriteTestPamService());
    granting_agent_ =
        SystemRootPath("usr/libexec/tolvan-test/launch-agent-" + std::to_string(getpid()));
    ASSERT_TRUE(WriteRootOwnedFile(granting_agent_, "#!/bin/sh\necho '" + admin_.password + "'\n",
                                   0755));
    cancelling_agent_ = SystemRootPath("usr/libexec/tolvan-test/cancelling-agent");
    ASSERT_TRUE(WriteRootOwnedFile(cancelling_agent_, "#!/bin/sh\nexit 1\n", 0755));
    ASSERT_TRUE(UseAgent(granting_agent_));
  }

  bool UseAgent(const std::string &agent) {
    return WriteAuthorizationPolicy("admin-group = " + group_ + "\nagent = " + agent + "\n");
  }

  // Runs launch in a child that is user in a session of its own, without
  // root at hand.
  Launch RunAs(const ThrowawayUser &user, const std::function<std::string()> &launch) {
    ChildOutcome outcome = RunInChild(
        [&] {
          setsid();
          if (!BecomeUser(user, false)) return std::string("status=-5\n");
          return launch();
        },
        kTimeoutSeconds, [] {});
    return ParseLaunch(outcome);
  }

  std::string MarkPath(const std::string &name) const {
    return SystemRootPath("run/launch-mark-" + std::to_string(getpid()) + "-" + name);
  }

  AuthorizationSetupLock setup_lock_;
  ThrowawayAccounts accounts_;
  std::string probe_;
  std::string group_;
  std::string granting_agent_;
  std::string cancelling_agent_;
  ThrowawayUser admin_;
  ThrowawayUser user_;
};

TEST_F(PrivilegedLaunch, AnAdministratorsProgramRunsAsRootForThemWithItsArgumentsAndLink) {
  Launch launch = RunAs(admin_, [&] { return LaunchThroughLibrary(probe_, {"one arg", "--two"}); });
  ASSERT_EQ(launch.status, 0) << launch.failure;
  EXPECT_EQ(launch.All("arg"), (std::vector<std::string>{probe_, "one arg", "--two"}));
  EXPECT_EQ(launch.One("ids"), std::to_string(admin_.uid) + " 0 0");
  EXPECT_EQ(launch.One("input"), kInput);
  EXPECT_EQ(launch.One("reference"), "0");
  EXPECT_EQ(launch.One("again"), std::to_string(errAuthorizationInvalidRef))
      << "a launch record must be used up by the first request";
  EXPECT_EQ(launch.All("env"), std::vector<std::string>{kProgramEnvironment});
  EXPECT_EQ(launch.One("fds"), "0 1 2");
  EXPECT_EQ(launch.exitCode, 0);
}

TEST_F(PrivilegedLaunch, RefusalsComeBackAsTheStatusAndNothingRuns) {
  const std::string folder = SystemRootPath("run/launch-targets-" + std::to_string(getpid()));
  ASSERT_TRUE(MakeRootOwnedFolders(folder));
  const std::string link = folder + "/probe-link";
  const std::string fifo = folder + "/fifo";
  unlink(link.c_str());
  unlink(fifo.c_str());
  ASSERT_EQ(symlink(probe_.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string unexecutable =
      InstallRootOwnedCopy(TOLVAN_LAUNCH_PROBE_PATH, "tolvan-launch-probe-test-0644", 0644);
  ASSERT_FALSE(unexecutable.empty());
  const std::string script = folder + "/script";
  ASSERT_TRUE(WriteRootOwnedFile(script, "#!/bin/sh\ntouch \"$2\"\n", 0755));
  struct Case {
    const char *name;
    const ThrowawayUser *user;
    std::string agent;
    std::string program;
    OSStatus expected;
  };
  const Case cases[] = {
      {"not an administrator", &user_, granting_agent_, probe_, errAuthorizationDenied},
      {"the agent cancels", &admin_, cancelling_agent_, probe_, errAuthorizationCanceled},
      {"relative path", &admin_, granting_agent_, probe_.substr(1), errAuthorizationToolExecuteFailure},
      {"symbolic link", &admin_, granting_agent_, link, errAuthorizationToolExecuteFailure},
      {"directory", &admin_, granting_agent_, folder, errAuthorizationToolExecuteFailure},
      {"missing file", &admin_, granting_agent_, folder + "/missing",
       errAuthorizationToolExecuteFailure},
      {"named pipe", &admin_, granting_agent_, fifo, errAuthorizationToolExecuteFailure},
      {"no execute bit", &admin_, granting_agent_, unexecutable,
       errAuthorizationToolExecuteFailure},
      {"a script", &admin_, granting_agent_, script, errAuthorizationToolExecuteFailure},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(UseAgent(c.agent));
    const std::string mark = MarkPath("refusal");
    unlink(mark.c_str());
    Launch launch =
        RunAs(*c.user, [&] { return LaunchThroughLibrary(c.program, {"--mark", mark}); });
    EXPECT_EQ(launch.status, c.expected) << launch.failure;
    EXPECT_TRUE(launch.All("stream").empty()) << "a refused launch must leave the stream null";
    EXPECT_NE(access(mark.c_str(), F_OK), 0) << "the program ran";
    unlink(mark.c_str());
  }
  for (const std::string &path : {link, fifo, script, unexecutable}) unlink(path.c_str());
  rmdir(folder.c_str());
}

// The caller controls the trampoline's whole inheritance; none of it may
// reach the program.
TEST_F(PrivilegedLaunch, AHostileInheritanceNeverReachesTheProgram) {
  const std::string trampoline = SystemRootPath("usr/libexec/tolvan/tolvan-authexec");
  Launch launch =
      RunAs(admin_, [&] { return LaunchTrampolineDirectly(trampoline, ExecuteArguments(probe_), OwnForm); });
  ASSERT_EQ(launch.status, 0) << launch.failure;
  EXPECT_EQ(launch.All("arg"), std::vector<std::string>{probe_});
  EXPECT_EQ(launch.One("ids"), std::to_string(admin_.uid) + " 0 0");
  EXPECT_EQ(launch.All("env"), std::vector<std::string>{kProgramEnvironment});
  EXPECT_EQ(launch.One("fds"), "0 1 2");
  EXPECT_EQ(launch.One("stderr"), "/dev/null");
  EXPECT_EQ(launch.One("sigign"), "0000000000000000");
  EXPECT_EQ(launch.One("sigblk"), "0000000000000000");
  EXPECT_EQ(launch.One("reference"), "0");
  EXPECT_EQ(launch.exitCode, 0);
}

std::string Hex(const char *bytes, size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < length; ++i) {
    hex += kDigits[(bytes[i] >> 4) & 15];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

// With an agent that would cancel, a refusal of the form (-60002) rather
// than a cancel shows that the form was checked before anyone was asked.
TEST_F(PrivilegedLaunch, AFormThatIsNotTheCallersOwnIsRefusedBeforeAnyoneIsAsked) {
  AuthorizationExternalForm rootsForm;
  ASSERT_TRUE(OwnForm(&rootsForm));
  // The administrator's form of a process that has exited, as hex: the
  // child's report is a C string.
  ChildOutcome made = RunInChild(
      [&] {
        AuthorizationExternalForm form;
        if (!BecomeUser(admin_, false) || !OwnForm(&form)) return std::string();
        return Hex(form.bytes, sizeof form.bytes);
      },
      kTimeoutSeconds, [] {});
  ASSERT_TRUE(made.finished);
  ASSERT_EQ(made.report.size(), 2 * sizeof rootsForm.bytes) << "no form from a child";
  AuthorizationExternalForm deadForm;
  for (size_t i = 0; i < sizeof deadForm.bytes; ++i) {
    deadForm.bytes[i] = static_cast<char>(std::stoi(made.report.substr(2 * i, 2), nullptr, 16));
  }
  auto fixed = [](const AuthorizationExternalForm &bytes) -> FormSource {
    return [bytes](AuthorizationExternalForm *form) {
      *form = bytes;
      return true;
    };
  };
  AuthorizationExternalForm zero = {};
  AuthorizationExternalForm pattern;
  for (size_t i = 0; i < sizeof pattern.bytes; ++i) pattern.bytes[i] = char(i * 37 + 11);
  struct Case {
    const char *name;
    FormSource form;
    size_t length;
  };
  const Case cases[] = {
      {"all zero", fixed(zero), sizeof zero.bytes},
      {"patterned bytes", fixed(pattern), sizeof pattern.bytes},
      {"another user's (root's)", fixed(rootsForm), sizeof rootsForm.bytes},
      {"a dead process's", fixed(deadForm), sizeof deadForm.bytes},
      {"one flipped bit of the start time",
       [](AuthorizationExternalForm *form) {
         if (!OwnForm(form)) return false;
         form->bytes[17] ^= 1;
         return true;
       },
       sizeof rootsForm.bytes},
      {"10 bytes, then the end of the link", OwnForm, 10},
      {"nothing at all", OwnForm, 0},
  };
  ASSERT_TRUE(UseAgent(cancelling_agent_));
  const std::string trampoline = SystemRootPath("usr/libexec/tolvan/tolvan-authexec");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Launch launch = RunAs(admin_, [&] {
      return LaunchTrampolineDirectly(trampoline, ExecuteArguments(probe_), c.form, c.length);
    });
    EXPECT_EQ(launch.status, errAuthorizationInvalidRef) << launch.failure;
    EXPECT_TRUE(launch.All("pid").empty()) << "the program ran";
    EXPECT_EQ(launch.One("trampoline-exit"), "1");
  }
}

// A command line the library never makes is refused before anything is
// read: no status word, exit status 1.
TEST_F(PrivilegedLaunch, AnUnknownCommandLineIsRefusedWithoutAStatusWord) {
  const std::string trampoline = SystemRootPath("usr/libexec/tolvan/tolvan-authexec");
  const std::vector<std::string> commandLines[] = {
      {},
      {"--execute"},
      {"--check", probe_},
      {"execute", probe_},
      {"--execute=" + probe_},
  };
  for (const std::vector<std::string> &arguments : commandLines) {
    SCOPED_TRACE(arguments.empty() ? "no arguments" : arguments[0]);
    Launch launch =
        RunAs(admin_, [&] { return LaunchTrampolineDirectly(trampoline, arguments, OwnForm); });
    EXPECT_EQ(launch.status, kNoStatus) << launch.failure;
    EXPECT_TRUE(launch.All("pid").empty()) << "the program ran";
    EXPECT_EQ(launch.One("trampoline-exit"), "1");
  }
}

// A copy that is not set-user-ID root is refused by the library before it
// is started, and by the trampoline itself when a user starts it by hand.
TEST_F(PrivilegedLaunch, ATrampolineThatIsNotSetUserIDRootLaunchesNothing) {
  const std::string plain = InstallRootOwnedCopy(TOLVAN_AUTHEXEC_PATH, "tolvan-authexec-plain", 0755);
  ASSERT_FALSE(plain.empty());
  Launch direct = RunAs(admin_, [&] { return LaunchTrampolineDirectly(plain, ExecuteArguments(probe_), OwnForm); });
  EXPECT_EQ(direct.status, errAuthorizationInternal) << direct.failure;
  EXPECT_TRUE(direct.All("pid").empty());
  unlink(plain.c_str());

  ASSERT_FALSE(InstallTrampoline(0755).empty());
  Launch library = RunAs(admin_, [&] { return LaunchThroughLibrary(probe_, {}); });
  ASSERT_FALSE(InstallTrampoline().empty());
  EXPECT_EQ(library.status, errAuthorizationInternal) << library.failure;
  EXPECT_TRUE(library.All("pid").empty());
}

// The first process found whose parent is parent, or 0.
pid_t ChildOf(pid_t parent) {
  DIR *proc = opendir("/proc");
  if (proc == nullptr) return 0;
  pid_t found = 0;
  while (const struct dirent *entry = readdir(proc)) {
    pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) continue;
    std::istringstream fields(line.substr(nameEnd + 2));
    std::string state;
    pid_t ppid = 0;
    fields >> state >> ppid;
    if (ppid == parent) {
      found = pid;
      break;
    }
  }
  closedir(proc);
  return found;
}

// The user may signal the trampoline (it runs with their real user id):
// one killed while the agent asks leaves the caller with -60031, and
// nothing runs.
TEST_F(PrivilegedLaunch, ATrampolineKilledWhileTheUserIsAskedLaunchesNothing) {
  const std::string slowAgent =
      SystemRootPath("usr/libexec/tolvan-test/slow-agent-" + std::to_string(getpid()));
  ASSERT_TRUE(WriteRootOwnedFile(slowAgent, "#!/bin/sh\nexec sleep 30\n", 0755));
  ASSERT_TRUE(UseAgent(slowAgent));
  const std::string mark = MarkPath("killed");
  Launch launch = RunAs(admin_, [&] {
    const pid_t self = getpid();
    std::thread killer([self] {
      for (int tries = 0; tries < 400; ++tries) {
        usleep(25'000);
        pid_t trampoline = ChildOf(self);
        if (trampoline > 0 && ChildOf(trampoline) > 0) {
          kill(trampoline, SIGKILL);
          return;
        }
      }
    });
    std::string report = LaunchThroughLibrary(probe_, {"--mark", mark});
    killer.join();
    return report;
  });
  EXPECT_EQ(launch.status, errAuthorizationToolExecuteFailure) << launch.failure;
  EXPECT_NE(access(mark.c_str(), F_OK), 0) << "the program ran";
  unlink(slowAgent.c_str());
}

// The process-count limit counts every process and thread of the user; a
// busy desktop can be at the helper tool's low soft limit. The launch and
// the agent still get their one process each.
TEST_F(PrivilegedLaunch, AProcessLimitThatIsUsedUpRefusesNeitherTheLaunchNorTheAgent) {
  auto useUpProcessLimit = [] {
    struct rlimit limit;
    getrlimit(RLIMIT_NPROC, &limit);
    limit.rlim_cur = 1;
    if (setrlimit(RLIMIT_NPROC, &limit) != 0) return false;
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return pid < 0;
  };
  Launch launch = RunAs(admin_, [&] {
    if (!useUpProcessLimit()) return std::string("status=-6\n");
    return LaunchThroughLibrary(probe_, {});
  });
  EXPECT_EQ(launch.status, 0) << launch.failure;
  EXPECT_EQ(launch.exitCode, 0);

  ChildOutcome judged = RunInChild(
      [&] {
        setsid();
        if (!BecomeUser(admin_, true)) return std::string("cannot become the user");
        if (!useUpProcessLimit()) return std::string("the limit did not bite");
        AuthorizationRef reference = nullptr;
        AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
        AuthorizationRights rights = {1, &item};
        OSStatus status = AuthorizationCreate(
            &rights, nullptr, kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights,
            &reference);
        AuthorizationFree(reference, kAuthorizationFlagDefaults);
        return status == 0 ? std::string() : "status " + std::to_string(status);
      },
      kTimeoutSeconds, [] {});
  EXPECT_TRUE(judged.finished) << judged.failure;
  EXPECT_EQ(judged.report, "");
}

// Run by root itself, but not through the trampoline: no record, no
// reference.
TEST_F(PrivilegedLaunch, TheSameProgramStartedWithoutTheTrampolineGetsNoReference) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  pid_t pid = fork();
  if (pid == 0) {
    if (dup2(ends[1], 0) < 0 || dup2(ends[1], 1) < 0) _exit(126);
    execl(probe_.c_str(), probe_.c_str(), nullptr);
    _exit(127);
  }
  close(ends[1]);
  ASSERT_GT(pid, 0);
  ChildOutcome outcome;
  outcome.finished = true;
  outcome.report = Converse(ends[0]);
  close(ends[0]);
  Launch launch = ParseLaunch(outcome);
  EXPECT_EQ(launch.One("ids"), "0 0 0");
  EXPECT_EQ(launch.One("reference"), std::to_string(errAuthorizationInvalidRef));
  EXPECT_EQ(launch.exitCode, 0);
}

TEST(ExecuteWithPrivilegesArguments, AreCheckedBeforeAnythingIsStarted) {
  AuthorizationRef reference = nullptr;
  ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &reference), 0);
  FILE *stream = reinterpret_cast<FILE *>(1);
  struct Case {
    const char *name;
    AuthorizationRef reference;
    const char *path;
    AuthorizationFlags options;
    FILE **stream;
    OSStatus expected;
  };
  const Case cases[] = {
      {"null reference", nullptr, "/bin/true", 0, &stream, errAuthorizationInvalidRef},
      {"null path", reference, nullptr, 0, &stream, errAuthorizationInvalidPointer},
      {"null stream pointer", reference, "/bin/true", 0, nullptr, errAuthorizationInvalidPointer},
      {"any option", reference, "/bin/true", kAuthorizationFlagInteractionAllowed, &stream,
       errAuthorizationInvalidFlags},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    stream = reinterpret_cast<FILE *>(1);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(c.reference, c.path, c.options, nullptr, c.stream),
              c.expected);
    if (c.stream != nullptr) {
      EXPECT_EQ(stream, nullptr);
    }
  }
  AuthorizationFree(reference, kAuthorizationFlagDefaults);
}

TEST(PrivilegedReference, IsRefusedWithANullPointer) {
  EXPECT_EQ(AuthorizationCopyPrivilegedReference(nullptr, kAuthorizationFlagDefaults),
            errAuthorizationInvalidPointer);
}

}  // namespace
}  // namespace tolvan::test
