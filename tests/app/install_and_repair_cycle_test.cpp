// tolvan-prefs end to end, as a throwaway user with a home folder of their
// own: the first write installs the helper tool into that folder and
// repairs it through the trampoline after one authentication; later writes
// run the repaired copy. Run as root; skipped otherwise.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tool/tool_test_support.hpp"

namespace tolvan::test {
namespace {

constexpr int kTimeoutSeconds = 90;

struct PrefsCommand {
  std::vector<std::string> arguments;
  std::string input;  // on its standard input
};

struct PrefsRun {
  int exit_code = -1;
  std::string output;  // standard output and standard error, as they came
  // The installed copy right after the command; st_ino 0 when there is none.
  struct stat copy = {};
};

class InstallAndRepairCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: creates users and installs the trampoline";
    ASSERT_TRUE(setup_lock_.held());
    ASSERT_TRUE(EnsureSystemRootMachineID());
    ASSERT_FALSE(InstallTrampoline().empty());
    group_ = ThrowawayAccounts::UniqueName("tvpadm");
    ASSERT_TRUE(accounts_.AddGroup(group_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvpa"), "right horse battery",
                                  group_, &admin_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvpu"), "plain user password",
                                  "", &user_));
    ASSERT_TRUE(WriteTestPamService());
    ASSERT_TRUE(WriteAuthorizationPolicy("admin-group = " + group_ + "\n"));
  }

  void TearDown() override {
    for (const std::string &home : homes_) RunProgram({"rm", "-rf", "--", home});
  }

  // A home folder of the user's own inside the build folder, as after a
  // login: theirs, 0700.
  std::string MakeHome(const ThrowawayUser &user) {
    std::string path = std::string(TOLVAN_BUILD_DIR) + "/app-home.XXXXXX";
    if (mkdtemp(path.data()) == nullptr || chown(path.c_str(), user.uid, user.gid) != 0) return "";
    homes_.push_back(path);
    return path;
  }

  static std::string CopyPath(const std::string &home) {
    return home + "/.local/share/Tolvan/tolvan-helper";
  }

  // Runs the commands one after another as user, in one session of its own
  // on terminal (or on none), with HOME set to home and only that
  // environment. Empty when the session did not finish, with the reason in
  // *failure.
  std::vector<PrefsRun> RunSession(const ThrowawayUser &user, const std::string &home,
                                   PasswordTerminal *terminal,
                                   const std::vector<PrefsCommand> &commands,
                                   std::string *failure) {
    const std::string output_prefix = home + "/.prefs-output.";
    std::vector<PrefsRun> runs(commands.size());
    // The child reports each command's exit code and the copy's state there.
    ChildOutcome outcome = RunInChild(
        [&] {
          if (terminal == nullptr) {
            setsid();
          } else if (!terminal->TakeAsControllingTerminal(user.uid)) {
            return std::string("no controlling terminal");
          }
          std::vector<int> outputs;
          for (size_t i = 0; i < commands.size(); ++i) {
            outputs.push_back(open((output_prefix + std::to_string(i)).c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
          }
          if (!BecomeUser(user, false)) return std::string("cannot become the user");
          std::string report;
          for (size_t i = 0; i < commands.size(); ++i) {
            const int exit_code = RunOne(home, commands[i], outputs[i]);
            struct stat copy = {};
            lstat(CopyPath(home).c_str(), &copy);
            report += std::to_string(exit_code) + " " + std::to_string(copy.st_ino) + " " +
                      std::to_string(copy.st_mode) + " " + std::to_string(copy.st_uid) + "\n";
          }
          return report;
        },
        kTimeoutSeconds, [terminal] {
          if (terminal != nullptr) terminal->Serve();
        });
    if (!outcome.finished) {
      *failure = outcome.failure;
      return {};
    }
    size_t at = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
      unsigned long inode = 0, mode = 0, owner = 0;
      std::sscanf(outcome.report.c_str() + at, "%d %lu %lu %lu", &runs[i].exit_code, &inode, &mode,
                  &owner);
      runs[i].copy.st_ino = ino_t(inode);
      runs[i].copy.st_mode = mode_t(mode);
      runs[i].copy.st_uid = uid_t(owner);
      at = outcome.report.find('\n', at) + 1;
      runs[i].output = ReadWholeFile(output_prefix + std::to_string(i));
    }
    return runs;
  }

  // In the session's process: one run of tolvan-prefs; its exit code.
  static int RunOne(const std::string &home, const PrefsCommand &command, int output) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    pid_t prefs = fork();
    if (prefs == 0) {
      dup2(ends[0], 0);
      dup2(output, 1);
      dup2(output, 2);
      std::vector<std::string> words = {TOLVAN_PREFS_PATH};
      words.insert(words.end(), command.arguments.begin(), command.arguments.end());
      std::vector<std::string> environment = {"HOME=" + home, "PATH=/usr/bin:/bin"};
      std::vector<char *> argv = ArgumentPointers(&words);
      std::vector<char *> envp = ArgumentPointers(&environment);
      execve(TOLVAN_PREFS_PATH, argv.data(), envp.data());
      _exit(127);
    }
    close(ends[0]);
    if (!command.input.empty() && write(ends[1], command.input.data(), command.input.size()) < 0) {
      return -1;
    }
    close(ends[1]);
    int status = 0;
    while (waitpid(prefs, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // The machine-wide value of key as `tolvan-prefs read` prints it.
  std::string ReadAsRoot(const std::string &key) {
    std::string command = std::string(TOLVAN_PREFS_PATH) + " read '" + key + "' 2>/dev/null";
    std::string text;
    if (FILE *pipe = popen(command.c_str(), "r")) {
      char buffer[256];
      for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
      pclose(pipe);
    }
    return text;
  }

  std::string Key(const char *name) const {
    return std::string("app.") + name + "." + std::to_string(getpid());
  }

  AuthorizationSetupLock setup_lock_;
  StoreLock store_lock_;
  ThrowawayAccounts accounts_;
  std::string group_;
  ThrowawayUser admin_;
  ThrowawayUser user_;
  std::vector<std::string> homes_;
};

TEST_F(InstallAndRepairCycle, TheFirstWriteInstallsAndRepairsAfterOnePasswordAndTheNextAsksNothing) {
  const std::string home = MakeHome(admin_);
  ASSERT_FALSE(home.empty());
  PasswordTerminal terminal({admin_.password});
  ASSERT_TRUE(terminal.ok());
  const std::string key = Key("cycle");
  std::string failure;
  const std::vector<PrefsRun> runs =
      RunSession(admin_, home, &terminal,
                 {{{"status"}, ""}, {{"write", "--int", key, "42"}, ""}, {{"status"}, ""},
                  {{"write", key, "again"}, ""}},
                 &failure);
  ASSERT_EQ(runs.size(), 4u) << failure;
  const PrefsRun &before = runs[0], &first = runs[1], &after = runs[2], &second = runs[3];

  EXPECT_EQ(before.exit_code, 0) << before.output;
  EXPECT_EQ(before.copy.st_ino, 0u) << "a copy before the first write";
  EXPECT_NE(before.output.find("in use: none"), std::string::npos) << before.output;
  EXPECT_NE(before.output.find("an administrator is asked"), std::string::npos) << before.output;

  EXPECT_EQ(first.exit_code, 0) << first.output << terminal.transcript();
  EXPECT_EQ(first.output, "");
  EXPECT_EQ(first.copy.st_uid, 0u);
  EXPECT_EQ(first.copy.st_mode, mode_t(S_IFREG | 04555));

  EXPECT_NE(after.output.find("in use: " + CopyPath(home)), std::string::npos) << after.output;
  EXPECT_NE(after.output.find("no repair is needed"), std::string::npos) << after.output;

  EXPECT_EQ(second.exit_code, 0) << second.output << terminal.transcript();
  EXPECT_EQ(second.copy.st_ino, first.copy.st_ino) << "the valid copy was installed again";
  EXPECT_EQ(second.copy.st_mode, mode_t(S_IFREG | 04555));
  EXPECT_EQ(terminal.prompts(), 1u) << terminal.transcript();
  EXPECT_EQ(ReadAsRoot(key), "again\n");
}

TEST_F(InstallAndRepairCycle, ImportSendsEveryTypedValueInOneRequest) {
  const std::string home = MakeHome(admin_);
  ASSERT_FALSE(home.empty());
  PasswordTerminal terminal({admin_.password});
  ASSERT_TRUE(terminal.ok());
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>" + Key("n") + "</key><integer>-7</integer>"
      "<key>" + Key("r") + "</key><real>0.5</real>"
      "<key>" + Key("b") + "</key><false/>"
      "<key>" + Key("d") + "</key><data>AP8Q</data>"
      "<key>" + Key("s") + "</key><string>Grüße</string>"
      "</dict></plist>\n";
  std::string failure;
  const std::vector<PrefsRun> runs =
      RunSession(admin_, home, &terminal, {{{"import", "-"}, document}}, &failure);
  ASSERT_EQ(runs.size(), 1u) << failure;
  EXPECT_EQ(runs[0].exit_code, 0) << runs[0].output << terminal.transcript();
  EXPECT_EQ(terminal.prompts(), 1u) << terminal.transcript();
  EXPECT_EQ(ReadAsRoot(Key("n")), "-7\n");
  EXPECT_EQ(ReadAsRoot(Key("r")), "0.5\n");
  EXPECT_EQ(ReadAsRoot(Key("b")), "false\n");
  EXPECT_EQ(ReadAsRoot(Key("d")), "<00ff10>\n");
  EXPECT_EQ(ReadAsRoot(Key("s")), "Grüße\n");
}

// Refusals end with their own exit codes and a message, and nothing is
// written; the copy is left as installed, unrepaired.
TEST_F(InstallAndRepairCycle, ARefusalIsToldByItsExitCodeAndNothingIsWritten) {
  const std::string agent = SystemRootPath("usr/libexec/tolvan-test/cancelling-agent");
  ASSERT_TRUE(WriteRootOwnedFile(agent, "#!/bin/sh\nexit 1\n", 0755));
  struct Case {
    const char *name;
    ThrowawayUser *user;
    std::string policy;
    std::string answer;  // on the terminal; "" means no terminal
    int exit_code;
    const char *message;
  } cases[] = {
      {"a user outside the admin group", &user_, "admin-group = " + group_ + "\n",
       user_.password, 2, "not authorized"},
      {"an agent that cancels", &admin_, "admin-group = " + group_ + "\nagent = " + agent + "\n",
       "", 3, "cancelled"},
  };
  for (const Case &c : cases) {
    ASSERT_TRUE(WriteAuthorizationPolicy(c.policy));
    const std::string home = MakeHome(*c.user);
    ASSERT_FALSE(home.empty());
    PasswordTerminal terminal({c.answer});
    const std::string key = Key("refused");
    std::string failure;
    const std::vector<PrefsRun> runs = RunSession(
        *c.user, home, c.answer.empty() ? nullptr : &terminal, {{{"write", key, "value"}, ""}},
        &failure);
    ASSERT_EQ(runs.size(), 1u) << c.name << ": " << failure;
    EXPECT_EQ(runs[0].exit_code, c.exit_code) << c.name << ": " << runs[0].output;
    EXPECT_NE(runs[0].output.find(c.message), std::string::npos) << c.name << ": " << runs[0].output;
    EXPECT_EQ(ReadAsRoot(key), "") << c.name;
    EXPECT_EQ(runs[0].copy.st_uid, c.user->uid) << c.name;
    EXPECT_EQ(runs[0].copy.st_mode & 07000, 0u) << c.name;
  }
}

// A home folder on a volume mounted nosuid cannot hold the repaired copy:
// the write says so and nothing is installed or asked.
TEST_F(InstallAndRepairCycle, AHomeMountedNosuidIsToldInWords) {
  const std::string home = MakeHome(admin_);
  ASSERT_FALSE(home.empty());
  const std::string options = "nosuid,mode=0700,uid=" + std::to_string(admin_.uid) +
                              ",gid=" + std::to_string(admin_.gid);
  if (RunProgram({"mount", "-t", "tmpfs", "-o", options, "tolvan-test", home}) != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  PasswordTerminal terminal({admin_.password});
  std::string failure;
  const std::vector<PrefsRun> runs =
      RunSession(admin_, home, &terminal, {{{"write", Key("nosuid"), "value"}, ""}}, &failure);
  EXPECT_EQ(RunProgram({"umount", home}), 0);
  ASSERT_EQ(runs.size(), 1u) << failure;
  EXPECT_EQ(runs[0].exit_code, 4) << runs[0].output;
  EXPECT_NE(runs[0].output.find("cannot hold a set-user-ID program"), std::string::npos)
      << runs[0].output;
  EXPECT_EQ(runs[0].copy.st_ino, 0u);
  EXPECT_EQ(terminal.prompts(), 0u) << terminal.transcript();
}

}  // namespace
}  // namespace tolvan::test
