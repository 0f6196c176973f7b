// Self-repair for real: a copy of the tool that belongs to the user and is
// not set-user-ID, in a folder of the user's, run by an application of that
// user. The relay starts the privileged copy through the installed
// trampoline, with real authentication at a pseudo-terminal or through an
// agent.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sec/helper_tool_result.h"
#include "tests/tool/tool_test_support.hpp"

namespace tolvan::test {
namespace {

constexpr OSStatus kGranted = 0;

// What must not change about a file that was not repaired.
struct FileState {
  uid_t owner = 0;
  mode_t mode = 0;
  struct timespec changed = {};
  bool operator==(const FileState &other) const {
    return owner == other.owner && mode == other.mode && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

FileState StateOf(const std::string &path) {
  FileState state;
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    state.owner = info.st_uid;
    state.mode = info.st_mode;
    state.changed = info.st_ctim;
  }
  return state;
}

std::string Describe(const FileState &state) {
  char text[64];
  std::snprintf(text, sizeof text, "owner %u mode %o", unsigned(state.owner), unsigned(state.mode));
  return text;
}

// The process of parent whose command line is exactly commandLine (its
// arguments joined by NULs); 0 when there is none.
pid_t ChildWithCommandLine(pid_t parent, const std::string &commandLine) {
  DIR *proc = opendir("/proc");
  if (proc == nullptr) return 0;
  pid_t found = 0;
  while (dirent *entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    const std::string stat = ProcFile(pid, "stat");
    const size_t end = stat.rfind(')');
    int ppid = 0;
    if (end == std::string::npos || std::sscanf(stat.c_str() + end + 1, " %*c %d", &ppid) != 1 ||
        ppid != parent) {
      continue;
    }
    if (ProcFile(pid, "cmdline") == commandLine) {
      found = pid;
      break;
    }
  }
  closedir(proc);
  return found;
}

// What the tool wrote, and how it ended, for a run without the channel's
// frames: the output read to its end.
struct RawRun {
  std::string output;
  pid_t pid = -1;
  int wait_status = -1;
};

RawRun RunWithArguments(const std::string &tool, const std::vector<std::string> &arguments) {
  RawRun run;
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return run;
  std::vector<std::string> strings = {tool};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv = ArgumentPointers(&strings);
  char *empty[] = {nullptr};
  run.pid = fork();
  if (run.pid == 0) {
    dup2(sockets[1], 0);
    dup2(sockets[1], 1);
    execve(tool.c_str(), argv.data(), empty);
    _exit(127);
  }
  close(sockets[1]);
  shutdown(sockets[0], SHUT_WR);
  char buffer[256];
  for (ssize_t n; (n = read(sockets[0], buffer, sizeof buffer)) > 0;)
    run.output.append(buffer, size_t(n));
  close(sockets[0]);
  while (run.pid > 0 && waitpid(run.pid, &run.wait_status, 0) < 0 && errno == EINTR) {
  }
  return run;
}

class SelfRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: installs the trampoline and creates users";
    ASSERT_TRUE(setup_lock_.held());
    ASSERT_TRUE(EnsureSystemRootMachineID());
    ASSERT_FALSE(InstallTrampoline().empty());
    installed_ = InstallHelperTool("tolvan-helper-self-repair-test");
    ASSERT_FALSE(installed_.empty());
    group_ = ThrowawayAccounts::UniqueName("tvradm");
    ASSERT_TRUE(accounts_.AddGroup(group_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvra"), "repair horse battery",
                                  group_, &admin_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvru"), "plain repair password",
                                  "", &user_));
    ASSERT_TRUE(WriteTestPamService());
    ASSERT_TRUE(UsePolicy(""));
  }

  void TearDown() override {
    for (const std::string &path : removals_) {
      RunProgram({"chattr", "-i", path});
      unlink(path.c_str());
    }
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder)
      rmdir(folder->c_str());
  }

  bool UsePolicy(const std::string &extra) {
    return WriteAuthorizationPolicy("admin-group = " + group_ + "\n" + extra);
  }

  // A root-owned agent script; removed afterwards.
  std::string Agent(const std::string &name, const std::string &script) {
    const std::string path =
        SystemRootPath("usr/libexec/tolvan-test/repair-" + name + "-" + std::to_string(getpid()));
    if (!WriteRootOwnedFile(path, "#!/bin/sh\n" + script, 0755)) return "";
    removals_.push_back(path);
    return path;
  }

  // A folder of owner's under the system root.
  std::string OwnersFolder(const ThrowawayUser &owner) {
    const std::string folder = SystemRootPath("home/" + owner.name);
    if (!MakeRootOwnedFolders(SystemRootPath("home")) || mkdir(folder.c_str(), 0755) != 0 ||
        chown(folder.c_str(), owner.uid, owner.gid) != 0) {
      return "";
    }
    folders_.push_back(folder);
    return folder;
  }

  // A copy of source at path owned by owner with mode, as a fresh install
  // leaves the tool: the user's, not set-user-ID.
  bool OwnersCopy(const std::string &source, const std::string &path, const ThrowawayUser &owner,
                  mode_t mode = 0555) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
    if (fd < 0) return false;
    removals_.push_back(path);
    bool ok = CopyFileContent(source, fd) && fchown(fd, owner.uid, owner.gid) == 0 &&
              fchmod(fd, mode) == 0;
    return close(fd) == 0 && ok;
  }

  std::string UsersTool(const ThrowawayUser &owner) {
    const std::string folder = OwnersFolder(owner);
    if (folder.empty()) return "";
    const std::string path = folder + "/tolvan-helper";
    return OwnersCopy(TOLVAN_HELPER_PATH, path, owner) ? path : "";
  }

  // One exchange through tool; "" when it ended with exit_code and
  // expected_reply (null: no reply at all).
  static std::string RunOne(const std::string &tool, CFDictionaryRef request, int exit_code,
                            const OSStatus *expected_reply,
                            std::function<std::string(pid_t)> after_form = {}) {
    ToolLaunch launch;
    launch.tool = tool;
    launch.frame = FrameOf(request);
    launch.after_form = std::move(after_form);
    std::string report;
    Exchange exchange = RunExchange(launch, &report);
    return report + CheckExchange(exchange, exit_code, expected_reply);
  }

  std::string Tag(const char *name) const {
    return std::string("repair.") + name + "." + std::to_string(getpid());
  }

  AuthorizationSetupLock setup_lock_;
  StoreLock store_lock_;
  ThrowawayAccounts accounts_;
  std::string installed_;
  std::string group_;
  ThrowawayUser admin_;
  ThrowawayUser user_;
  std::vector<std::string> removals_;
  std::vector<std::string> folders_;
};

TEST_F(SelfRepair, AnAdministratorRepairsTheCopyOnceAndLaterRunsTakeTheNormalPath) {
  const std::string tool = UsersTool(admin_);
  ASSERT_FALSE(tool.empty());
  PasswordTerminal terminal({admin_.password});
  ASSERT_TRUE(terminal.ok());
  auto first = RichRequest(Tag("first"));
  auto second = RichRequest(Tag("second"));
  // One session, so that the timestamp of the first run holds for the
  // second.
  EXPECT_EQ(RunApplicationAs(admin_, &terminal,
                             [&] {
                               std::string report = RunOne(tool, first.get(), 0, &kGranted);
                               const FileState repaired = StateOf(tool);
                               if (repaired.owner != 0 || repaired.mode != (S_IFREG | 04555)) {
                                 report += "after the first run: " + Describe(repaired) + "\n";
                               }
                               // Set-user-ID root now: no relay and no repair, which
                               // would touch the file's change time.
                               report += RunOne(tool, second.get(), 0, &kGranted);
                               if (!(StateOf(tool) == repaired))
                                 report += "the second run changed the file\n";
                               return report;
                             }),
            "")
      << terminal.transcript();
  EXPECT_EQ(terminal.prompts(), 1u) << terminal.transcript();
  EXPECT_EQ(StoreMismatches(first.get()), "");
  EXPECT_EQ(StoreMismatches(second.get()), "");
}

// Refused before the privileged copy starts: the launch's status as the
// exit status, no reply, and the file and the store as they were.
TEST_F(SelfRepair, ARefusedLaunchChangesNothing) {
  const std::string cancelling = Agent("cancel", "exit 1\n");
  ASSERT_FALSE(cancelling.empty());
  struct Case {
    const char *name;
    const char *tag;
    const ThrowawayUser *user;
    std::string policy;
    bool terminal;
    int exit_code;
  } cases[] = {
      {"the agent cancels", "cancel", &admin_, "agent = " + cancelling + "\n", false,
       kToolStatusCancelled},
      {"not an administrator, with their own password", "denied", &user_, "", true,
       kToolStatusDenied},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tool = UsersTool(*c.user);
    ASSERT_FALSE(tool.empty());
    ASSERT_TRUE(UsePolicy(c.policy));
    const FileState before = StateOf(tool);
    auto request = RichRequest(Tag(c.tag));
    PasswordTerminal terminal({c.user->password});
    ASSERT_TRUE(terminal.ok());
    EXPECT_EQ(RunApplicationAs(*c.user, c.terminal ? &terminal : nullptr,
                               [&] { return RunOne(tool, request.get(), c.exit_code, nullptr); }),
              "")
        << terminal.transcript();
    EXPECT_TRUE(StateOf(tool) == before) << Describe(StateOf(tool));
    EXPECT_EQ(StoreMismatches(request.get(), false), "");
  }
}

// Run by hand, the privileged mode only says who it is: without a
// privileged launch behind it there is no repair, whether the file is the
// user's copy or the installed set-user-ID tool.
TEST_F(SelfRepair, SelfRepairModeStartedByAUserWritesItsProcessIdAndRepairsNothing) {
  const std::string tool = UsersTool(user_);
  ASSERT_FALSE(tool.empty());
  for (const std::string &path : {tool, installed_}) {
    SCOPED_TRACE(path);
    const FileState before = StateOf(path);
    EXPECT_EQ(RunApplicationAs(
                  user_, nullptr,
                  [&] {
                    RawRun run = RunWithArguments(path, {"--self-repair"});
                    const uint32_t word = htonl(uint32_t(run.pid));
                    std::string report;
                    if (run.output != std::string(reinterpret_cast<const char *>(&word), 4)) {
                      report += "output is not the process-id word\n";
                    }
                    if (!WIFEXITED(run.wait_status) || WEXITSTATUS(run.wait_status) != 1) {
                      report += "wait status " + std::to_string(run.wait_status) + "\n";
                    }
                    return report;
                  }),
              "");
    EXPECT_TRUE(StateOf(path) == before) << Describe(StateOf(path));
  }
}

// The privileged copy dies before the request reaches it; the user may
// signal it, its real user id being theirs.
TEST_F(SelfRepair, APrivilegedCopyKilledByASignalIsAnInternalFailure) {
  const std::string tool = UsersTool(admin_);
  ASSERT_FALSE(tool.empty());
  const std::string granting = Agent("grant", "echo '" + admin_.password + "'\n");
  ASSERT_FALSE(granting.empty());
  ASSERT_TRUE(UsePolicy("agent = " + granting + "\n"));
  auto request = RichRequest(Tag("killed"));
  const std::string commandLine = tool + std::string("\0--self-repair\0", 15);
  EXPECT_EQ(RunApplicationAs(admin_, nullptr,
                             [&] {
                               return RunOne(
                                   tool, request.get(), kToolStatusInternal, nullptr,
                                   [&](pid_t relay) -> std::string {
                                     for (int tries = 0; tries < 6000; ++tries) {
                                       pid_t copy = ChildWithCommandLine(relay, commandLine);
                                       if (copy > 0) {
                                         return kill(copy, SIGKILL) == 0 ? "" : "kill failed\n";
                                       }
                                       usleep(5000);
                                     }
                                     return "no privileged copy\n";
                                   });
                             }),
            "");
  EXPECT_EQ(StoreMismatches(request.get(), false), "");
}

// A file the copy cannot change: the privileged copy fails before it reads
// the request, and its exit status 4 comes back through the relay. Made
// unchangeable by the immutable attribute, or by a read-only bind mount of
// the file on itself in a mount namespace of the application's own (which
// its children, the privileged copy among them, share, and which ends with
// them).
constexpr char kUnsupported[] = "unsupported\n";

std::string ReadOnlyMountInOwnNamespace(const std::string &path) {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    return kUnsupported;
  }
  return "";
}

TEST_F(SelfRepair, ARepairThatCannotChangeTheFileEndsWithoutServing) {
  const std::string granting = Agent("grant", "echo '" + admin_.password + "'\n");
  ASSERT_FALSE(granting.empty());
  ASSERT_TRUE(UsePolicy("agent = " + granting + "\n"));
  const std::string tool = UsersTool(admin_);
  ASSERT_FALSE(tool.empty());
  const FileState before = StateOf(tool);
  struct Case {
    const char *name;
    std::function<std::string()> as_root;
  } cases[] = {
      {"immutable attribute",
       [&] {
         return RunProgram({"chattr", "+i", tool}) == 0 ? "" : kUnsupported;
       }},
      {"read-only mount", [&] { return ReadOnlyMountInOwnNamespace(tool); }},
  };
  int ran = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto request = RichRequest(Tag("unchangeable"));
    const std::string report = RunApplicationAs(
        admin_, nullptr, [&] { return RunOne(tool, request.get(), kToolStatusInternal, nullptr); },
        c.as_root);
    RunProgram({"chattr", "-i", tool});
    if (report == kUnsupported) continue;
    ++ran;
    EXPECT_EQ(report, "");
    EXPECT_EQ(StateOf(tool).owner, before.owner);
    EXPECT_EQ(StateOf(tool).mode, before.mode) << Describe(StateOf(tool));
    EXPECT_EQ(StoreMismatches(request.get(), false), "");
  }
  if (ran == 0) GTEST_SKIP() << "neither chattr +i nor a read-only bind mount works here";
}

// The path is replaced after the copy has started and before anything was
// repaired: the agent, run while the launch is judged, renames the decoy
// into place. Whatever the decoy is, nothing becomes root's or
// set-user-ID, and no success is reported.
TEST_F(SelfRepair, APathSwappedBeforeTheRepairGivesNoOneRoot) {
  const std::string tool = UsersTool(admin_);
  ASSERT_FALSE(tool.empty());
  const std::string folder = tool.substr(0, tool.rfind('/'));
  const std::string target =
      SystemRootPath("usr/libexec/tolvan-test/repair-target-" + std::to_string(getpid()));
  ASSERT_TRUE(WriteRootOwnedFile(target, "root's file\n", 0755));
  removals_.push_back(target);
  const std::string symbolic = folder + "/link";
  const std::string program = folder + "/program";
  const std::string original = tool + ".original";
  ASSERT_EQ(symlink(target.c_str(), symbolic.c_str()), 0);
  removals_.push_back(symbolic);
  ASSERT_EQ(lchown(symbolic.c_str(), admin_.uid, admin_.gid), 0);
  // Another program of the user's, which ignores its arguments.
  ASSERT_TRUE(OwnersCopy("/bin/true", program, admin_));
  // The original stays reachable under a second name, to see it unchanged.
  ASSERT_EQ(link(tool.c_str(), original.c_str()), 0);
  removals_.push_back(original);
  const FileState original_before = StateOf(tool);
  const FileState target_before = StateOf(target);
  for (const std::string &decoy : {symbolic, program}) {
    SCOPED_TRACE(decoy);
    const FileState decoy_before = StateOf(decoy);
    const std::string swapping =
        Agent("swap", "mv -f '" + decoy + "' '" + tool + "'\necho '" + admin_.password + "'\n");
    ASSERT_FALSE(swapping.empty());
    ASSERT_TRUE(UsePolicy("agent = " + swapping + "\n"));
    auto request = RichRequest(Tag("swap"));
    EXPECT_EQ(
        RunApplicationAs(admin_, nullptr,
                         [&] { return RunOne(tool, request.get(), kToolStatusInternal, nullptr); }),
        "");
    EXPECT_EQ(StoreMismatches(request.get(), false), "");
    const FileState decoy_after = StateOf(tool);
    EXPECT_EQ(decoy_after.owner, decoy_before.owner);
    EXPECT_EQ(decoy_after.mode, decoy_before.mode) << Describe(decoy_after);
    EXPECT_TRUE(StateOf(target) == target_before) << Describe(StateOf(target));
    // Its change time moves with its names; owner and mode must not.
    EXPECT_EQ(StateOf(original).owner, original_before.owner);
    EXPECT_EQ(StateOf(original).mode, original_before.mode) << Describe(StateOf(original));
    // The original back in place for the next decoy.
    ASSERT_EQ(rename(original.c_str(), tool.c_str()), 0);
    ASSERT_EQ(link(tool.c_str(), original.c_str()), 0);
  }
}

}  // namespace
}  // namespace tolvan::test
