// The administrator right judged for real: throwaway users with known
// passwords, the test system root's PAM service (pam_unix) and policy, and
// requests made from a process of that user that has root at hand the way
// a set-user-ID tool does (saved set-user-ID 0). The password comes from a
// test agent or is typed on a pseudo-terminal that is the process's
// controlling terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/auth/authorization.h"
#include "tests/support/authorization_accounts.hpp"

namespace tolvan::test {
namespace {

constexpr AuthorizationFlags kAsk =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;
constexpr AuthorizationFlags kNoOneAsked = kAuthorizationFlagExtendRights;
// What a status read from a child that did not answer in time looks like.
constexpr OSStatus kNoAnswer = 999999;
constexpr int kLeakedDescriptor = 57;

// What the tool does with a request: rebuild the reference from the
// external form of the application's, then ask for the right on it.
OSStatus RequestAdminRight(AuthorizationFlags flags) {
  AuthorizationRef application = nullptr;
  OSStatus status = AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &application);
  if (status != 0) return status;
  AuthorizationExternalForm form;
  AuthorizationRef tool = nullptr;
  status = AuthorizationMakeExternalForm(application, &form);
  if (status == 0) status = AuthorizationCreateFromExternalForm(&form, &tool);
  if (status == 0) {
    AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights rights = {1, &item};
    status = AuthorizationCopyRights(tool, &rights, nullptr, flags, nullptr);
    AuthorizationFree(tool, kAuthorizationFlagDefaults);
  }
  AuthorizationFree(application, kAuthorizationFlagDefaults);
  return status;
}

bool WriteStatus(int fd, OSStatus status) {
  return write(fd, &status, sizeof status) == static_cast<ssize_t>(sizeof status);
}

// A process of one user in a login session of its own, optionally with a
// pseudo-terminal as its controlling terminal, that makes requests when told.
class UserSession {
 public:
  enum class Terminal { kNone, kPty };

  UserSession(const ThrowawayUser &user, Terminal terminal, bool keepSavedRoot = true) {
    int control[2], report[2];
    if (pipe2(control, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) return;
    int slave = -1;
    if (terminal == Terminal::kPty) {
      if (openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) return;
      fcntl(master_, F_SETFD, FD_CLOEXEC);
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(control[1]);
      close(report[0]);
      if (master_ >= 0) close(master_);
      _exit(Serve(user, keepSavedRoot, slave, control[0], report[1]));
    }
    close(control[0]);
    close(report[1]);
    if (slave >= 0) close(slave);
    control_ = control[1];
    report_ = report[0];
  }

  ~UserSession() {
    if (control_ >= 0) close(control_);
    if (pid_ > 0) {
      for (int waited = 0; waitpid(pid_, nullptr, WNOHANG) == 0; ++waited) {
        if (waited == 200) {
          kill(pid_, SIGKILL);
          waitpid(pid_, nullptr, 0);
          break;
        }
        usleep(10'000);
      }
    }
    if (report_ >= 0) close(report_);
    if (master_ >= 0) close(master_);
  }

  UserSession(const UserSession &) = delete;
  UserSession &operator=(const UserSession &) = delete;

  bool started() const { return pid_ > 0; }

  // Starts a request in the session's process ('r'), in a new child of it
  // ('g'), or frees a reference with kAuthorizationFlagDestroyRights ('d').
  void Send(char command, AuthorizationFlags flags = kAsk) {
    char message[1 + sizeof flags];
    message[0] = command;
    std::memcpy(message + 1, &flags, sizeof flags);
    ASSERT_EQ(write(control_, message, sizeof message), static_cast<ssize_t>(sizeof message));
  }

  OSStatus Result(int timeoutSeconds = 30) {
    struct pollfd wait = {report_, POLLIN, 0};
    OSStatus status = kNoAnswer;
    if (poll(&wait, 1, timeoutSeconds * 1000) != 1) return kNoAnswer;
    if (read(report_, &status, sizeof status) != static_cast<ssize_t>(sizeof status)) {
      return kNoAnswer;
    }
    return status;
  }

  OSStatus Request(AuthorizationFlags flags, char command = 'r') {
    Send(command, flags);
    return Result();
  }

  // Reads the terminal until text has appeared count times in all that was
  // shown; false on time-out.
  bool WaitForShown(const std::string &text, size_t count, int timeoutMs = 20'000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Count(text) < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadTerminal(static_cast<int>(left.count()))) return false;
    }
    return true;
  }

  // Whatever the terminal shows within timeoutMs.
  void Drain(int timeoutMs = 300) {
    while (ReadTerminal(timeoutMs)) {
    }
  }

  size_t Count(const std::string &text) const {
    size_t count = 0;
    for (size_t at = shown_.find(text); at != std::string::npos; at = shown_.find(text, at + 1)) {
      ++count;
    }
    return count;
  }

  void Type(const std::string &keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  bool EchoIsOn() const {
    struct termios settings;
    return tcgetattr(master_, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  }

  const std::string &shown() const { return shown_; }

 private:
  bool ReadTerminal(int timeoutMs) {
    struct pollfd wait = {master_, POLLIN, 0};
    if (poll(&wait, 1, timeoutMs) != 1) return false;
    char buffer[1024];
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) return false;
    shown_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  static int Serve(const ThrowawayUser &user, bool keepSavedRoot, int slave, int control,
                   int report) {
    // A ^C at the prompt must come back as a status, not end the session.
    signal(SIGINT, SIG_IGN);
    if (setsid() < 0) return 10;
    if (slave >= 0 && ioctl(slave, TIOCSCTTY, 0) != 0) return 11;
    if (!BecomeUser(user, keepSavedRoot)) return 12;
    // Things of ours that must not reach the agent.
    setenv("TOLVAN_LEAK", "1", 1);
    int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, kLeakedDescriptor) < 0) return 13;
    for (;;) {
      char message[1 + sizeof(AuthorizationFlags)];
      if (read(control, message, sizeof message) != static_cast<ssize_t>(sizeof message)) return 0;
      AuthorizationFlags flags;
      std::memcpy(&flags, message + 1, sizeof flags);
      switch (message[0]) {
        case 'r':
          if (!WriteStatus(report, RequestAdminRight(flags))) return 14;
          break;
        case 'g': {
          pid_t child = fork();
          if (child == 0) _exit(WriteStatus(report, RequestAdminRight(flags)) ? 0 : 1);
          if (child < 0 || waitpid(child, nullptr, 0) != child) return 15;
          break;
        }
        case 'd': {
          AuthorizationRef ref = nullptr;
          OSStatus status = AuthorizationCreate(nullptr, nullptr, 0, &ref);
          if (status == 0) status = AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
          if (!WriteStatus(report, status)) return 14;
          break;
        }
        default:
          return 16;
      }
    }
  }

  pid_t pid_ = -1;
  int control_ = -1;
  int report_ = -1;
  int master_ = -1;
  std::string shown_;
};

std::string ReadFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class AdminRight : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: makes users and runs PAM for real";
    lock_ = std::make_unique<AuthorizationSetupLock>();
    ASSERT_TRUE(lock_->held());
    const std::string pid = std::to_string(getpid());
    folder_ = std::string(TOLVAN_BUILD_DIR) + "/admin-right-test-" + pid;
    RunProgram({"rm", "-rf", folder_});
    ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
    group_ = ThrowawayAccounts::UniqueName("tvag");
    ASSERT_TRUE(accounts_.AddGroup(group_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvadm"), "Adm-" + pid + "-pw",
                                  group_, &admin_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvusr"), "Usr-" + pid + "-pw",
                                  "", &plain_));
    ASSERT_TRUE(WriteTestPamService());
  }

  void TearDown() override {
    if (folder_.empty()) return;
    unlink(SystemRootPath("etc/tolvan/authorization").c_str());
    RunProgram({"rm", "-rf", folder_});
  }

  // An agent script that notes its pid and prompt in its log, then runs body.
  std::string Agent(const std::string &name, const std::string &body) {
    const std::string log = Log(name);
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    EXPECT_GE(fd, 0);
    fchmod(fd, 0666);
    close(fd);
    const std::string path = folder_ + "/" + name;
    EXPECT_TRUE(WriteRootOwnedFile(
        path, "#!/bin/sh\necho \"$$ $1\" >> '" + log + "'\n" + body + "\n", 0755));
    return path;
  }

  std::string Log(const std::string &agent) const { return folder_ + "/" + agent + ".log"; }

  size_t Calls(const std::string &agent) const {
    std::string log = ReadFile(Log(agent));
    return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
  }

  static std::string Prints(const std::string &answer) {
    return "printf '%s\\n' '" + answer + "'";
  }

  void UseAgent(const std::string &agent, unsigned timeoutSeconds = 20) {
    ASSERT_TRUE(WriteAuthorizationPolicy("admin-group = " + group_ + "\nagent = " + agent +
                                         "\nagent-timeout = " + std::to_string(timeoutSeconds) +
                                         "\n"));
  }

  void UseTerminal() { ASSERT_TRUE(WriteAuthorizationPolicy("admin-group = " + group_ + "\n")); }

  std::string Prompt(const ThrowawayUser &user) const {
    return "Password for " + user.name + ": ";
  }

  std::string TimestampFile(const ThrowawayUser &user) const {
    return SystemRootPath("run/tolvan/timestamps/" + std::to_string(user.uid));
  }

  std::unique_ptr<AuthorizationSetupLock> lock_;
  ThrowawayAccounts accounts_;
  std::string folder_;
  std::string group_;
  ThrowawayUser admin_;
  ThrowawayUser plain_;
};

TEST_F(AdminRight, AgentPasswordGrantsAndTheSessionIsNotAskedAgain) {
  UseAgent(Agent("right", Prints(admin_.password)));
  UserSession session(admin_, UserSession::Terminal::kNone);
  ASSERT_TRUE(session.started());
  EXPECT_EQ(session.Request(kAsk), 0);
  EXPECT_EQ(Calls("right"), 1u);
  EXPECT_NE(ReadFile(Log("right")).find(Prompt(admin_)), std::string::npos)
      << "the agent gets the prompt as its argument";

  EXPECT_EQ(session.Request(kAsk, 'g'), 0) << "another process of the same session";
  EXPECT_EQ(session.Request(kNoOneAsked), 0) << "remembered: needs no interaction";
  EXPECT_EQ(Calls("right"), 1u) << "asked again within five minutes";

  UserSession other(admin_, UserSession::Terminal::kNone);
  EXPECT_EQ(other.Request(kNoOneAsked), errAuthorizationDenied) << "another session";
  EXPECT_EQ(other.Request(kAsk), 0);
  EXPECT_EQ(Calls("right"), 2u);
}

TEST_F(AdminRight, TerminalPasswordGrantsWithEchoOffAndAsksOnce) {
  UseTerminal();
  UserSession session(admin_, UserSession::Terminal::kPty);
  ASSERT_TRUE(session.started());
  session.Send('r');
  ASSERT_TRUE(session.WaitForShown(Prompt(admin_), 1)) << session.shown();
  EXPECT_FALSE(session.EchoIsOn()) << "echo is on while the password is typed";
  session.Type(admin_.password + "\n");
  EXPECT_EQ(session.Result(), 0);
  EXPECT_TRUE(session.EchoIsOn());

  EXPECT_EQ(session.Request(kAsk, 'g'), 0);
  session.Drain();
  EXPECT_EQ(session.Count("Password"), 1u) << session.shown();
  EXPECT_EQ(session.shown().find(admin_.password), std::string::npos) << "the password showed";
}

// Each case types its lines, one per prompt, in a session of its own.
TEST_F(AdminRight, TerminalAnswersTableOfTriesCancelsAndEcho) {
  UseTerminal();
  const std::string longAnswer(600, 'x');
  struct Case {
    const char *what;
    std::vector<std::string> typed;
    OSStatus status;
  };
  const Case cases[] = {
      {"right on the third try", {"wrong\n", "wrong\n", admin_.password + "\n"}, 0},
      {"three wrong", {"wrong\n", "\n", "wrong\n"}, errAuthorizationDenied},
      {"three too long", {longAnswer + "\n", longAnswer + "\n", longAnswer + "\n"},
       errAuthorizationDenied},
      {"interrupt", {"\x03"}, errAuthorizationCanceled},
      {"end of input", {"\x04"}, errAuthorizationCanceled},
      {"end of input on the second try", {"wrong\n", "\x04"}, errAuthorizationCanceled},
  };
  for (const Case &c : cases) {
    UserSession session(admin_, UserSession::Terminal::kPty);
    ASSERT_TRUE(session.started());
    session.Send('r');
    for (size_t i = 0; i < c.typed.size(); ++i) {
      ASSERT_TRUE(session.WaitForShown(Prompt(admin_), i + 1)) << c.what << ": " << session.shown();
      session.Type(c.typed[i]);
    }
    EXPECT_EQ(session.Result(), c.status) << c.what;
    EXPECT_TRUE(session.EchoIsOn()) << c.what << ": echo left off";
    session.Drain(100);
    EXPECT_EQ(session.Count(Prompt(admin_)), c.typed.size()) << c.what << ": " << session.shown();
  }
}

TEST_F(AdminRight, AgentOutcomes) {
  const std::string tooLong(600, 'p');
  struct Case {
    const char *name;
    std::string body;
    OSStatus status;
    size_t calls;
  };
  const Case cases[] = {
      {"wrong", Prints("wrong"), errAuthorizationDenied, 3},
      {"empty", "exit 0", errAuthorizationDenied, 3},
      {"too-long", Prints(tooLong), errAuthorizationDenied, 3},
      {"cancels", "exit 1", errAuthorizationCanceled, 1},
      {"right-but-fails", Prints(admin_.password) + "\nexit 2", errAuthorizationCanceled, 1},
      {"killed", "kill -9 $$", errAuthorizationCanceled, 1},
      {"right-then-more", Prints(admin_.password) + "\n" + Prints("second line"), 0, 1},
  };
  for (const Case &c : cases) {
    UseAgent(Agent(c.name, c.body));
    UserSession session(admin_, UserSession::Terminal::kNone);
    EXPECT_EQ(session.Request(kAsk), c.status) << c.name;
    EXPECT_EQ(Calls(c.name), c.calls) << c.name;
  }
  UseAgent(folder_ + "/no-such-agent");
  UserSession session(admin_, UserSession::Terminal::kNone);
  EXPECT_EQ(session.Request(kAsk), errAuthorizationCanceled) << "an agent that cannot run";
}

TEST_F(AdminRight, AHangingAgentIsKilledAtItsTimeLimit) {
  UseAgent(Agent("hangs", "exec sleep 60"), 1);
  UserSession session(admin_, UserSession::Terminal::kNone);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(session.Request(kAsk), errAuthorizationCanceled);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_EQ(Calls("hangs"), 1u);
  const pid_t agent = static_cast<pid_t>(std::stol(ReadFile(Log("hangs"))));
  EXPECT_EQ(kill(agent, 0), -1);
  EXPECT_EQ(errno, ESRCH) << "the agent still runs";
}

TEST_F(AdminRight, TheAgentRunsAsTheUserWithNothingOfOurs) {
  const std::string report = folder_ + "/agent-report";
  int fd = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  fchmod(fd, 0666);
  close(fd);
  UseAgent(Agent("inspects", "{ env; echo FDS $(ls /proc/$$/fd); grep -E '^(Uid|Gid|NoNewPrivs)' "
                             "/proc/$$/status; } >> '" + report + "'\n" +
                             Prints(admin_.password)));
  UserSession session(admin_, UserSession::Terminal::kNone);
  EXPECT_EQ(session.Request(kAsk), 0);
  const std::string seen = ReadFile(report);
  const std::string uid = std::to_string(admin_.uid);
  EXPECT_NE(seen.find("Uid:\t" + uid + "\t" + uid + "\t" + uid + "\t" + uid), std::string::npos)
      << seen;
  EXPECT_NE(seen.find("NoNewPrivs:\t1"), std::string::npos) << seen;
  EXPECT_NE(seen.find("PATH=/usr/bin:/bin\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find("USER=" + admin_.name + "\n"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("TOLVAN_LEAK"), std::string::npos) << seen;
  const std::string fds = seen.substr(seen.find("FDS"), seen.find('\n', seen.find("FDS")) -
                                                            seen.find("FDS"));
  EXPECT_EQ(fds.find(" " + std::to_string(kLeakedDescriptor)), std::string::npos) << fds;
}

TEST_F(AdminRight, ANonAdministratorIsDeniedWithoutBeingAsked) {
  UseAgent(Agent("plain", Prints(plain_.password)));
  UserSession session(plain_, UserSession::Terminal::kNone);
  EXPECT_EQ(session.Request(kAsk), errAuthorizationDenied);
  EXPECT_EQ(Calls("plain"), 0u);
}

TEST_F(AdminRight, LockedAndExpiredAccountsAreDenied) {
  UseAgent(Agent("right", Prints(admin_.password)));
  ASSERT_EQ(RunProgram({"usermod", "-L", admin_.name}), 0);
  {
    UserSession session(admin_, UserSession::Terminal::kNone);
    EXPECT_EQ(session.Request(kAsk), errAuthorizationDenied) << "locked";
  }
  ASSERT_EQ(RunProgram({"usermod", "-U", admin_.name}), 0);
  ASSERT_EQ(RunProgram({"chage", "-E", "0", admin_.name}), 0);
  {
    UserSession session(admin_, UserSession::Terminal::kNone);
    EXPECT_EQ(session.Request(kAsk), errAuthorizationDenied) << "expired";
  }
  ASSERT_EQ(RunProgram({"chage", "-E", "-1", admin_.name}), 0);
  UserSession session(admin_, UserSession::Terminal::kNone);
  EXPECT_EQ(session.Request(kAsk), 0) << "the same account, unlocked and current";
}

TEST_F(AdminRight, WithoutTheInteractionFlagNoOneIsAsked) {
  UseAgent(Agent("right", Prints(admin_.password)));
  UserSession agentSession(admin_, UserSession::Terminal::kNone);
  EXPECT_EQ(agentSession.Request(kNoOneAsked), errAuthorizationDenied);
  EXPECT_EQ(agentSession.Request(kAuthorizationFlagDefaults), errAuthorizationDenied);
  EXPECT_EQ(Calls("right"), 0u);

  UseTerminal();
  UserSession terminalSession(admin_, UserSession::Terminal::kPty);
  EXPECT_EQ(terminalSession.Request(kNoOneAsked), errAuthorizationDenied);
  terminalSession.Drain(100);
  EXPECT_EQ(terminalSession.shown(), "");
}

TEST_F(AdminRight, WithoutRootAtHandNothingIsGrantedOrAsked) {
  UseAgent(Agent("right", Prints(admin_.password)));
  UserSession session(admin_, UserSession::Terminal::kNone, /*keepSavedRoot=*/false);
  EXPECT_EQ(session.Request(kAsk), errAuthorizationDenied);
  EXPECT_EQ(Calls("right"), 0u);
}

// A record that names another terminal, session or boot, is dated in the
// future, has expired or is not a grant, lets no one off: the next request
// without interaction is denied and one with interaction asks again.
TEST_F(AdminRight, ForeignOrStaleTimestampsAskAgain) {
  UseAgent(Agent("right", Prints(admin_.password)));
  UserSession session(admin_, UserSession::Terminal::kNone);
  ASSERT_EQ(session.Request(kAsk), 0);
  ASSERT_EQ(session.Request(kNoOneAsked), 0) << "the untouched record lets the session off";
  constexpr int64_t kSixMinutes = 6 * 60 * int64_t{1'000'000'000};
  struct Tamper {
    const char *what;
    size_t offset;  // of the field in the record's documented layout
    unsigned char flip;  // xor-ed into the field's first byte
    int64_t timeShift;   // added to the time field
  };
  const Tamper tampers[] = {
      {"another terminal", 16, 1, 0},
      {"another session", 20, 1, 0},
      {"another session leader", 24, 1, 0},
      {"another boot", 32, 1, 0},
      {"not a known result", 12, 0x15, 0},
      {"dated in the future", 48, 0, kSixMinutes},
      {"expired", 48, 0, -kSixMinutes},
  };
  size_t calls = 1;
  for (const Tamper &tamper : tampers) {
    std::string records = ReadFile(TimestampFile(admin_));
    ASSERT_FALSE(records.empty()) << tamper.what;
    ASSERT_EQ(records.size() % 64, 0u);
    for (size_t at = 0; at < records.size(); at += 64) {
      char *field = &records[at + tamper.offset];
      field[0] = static_cast<char>(field[0] ^ tamper.flip);
      int64_t time;
      std::memcpy(&time, field, sizeof time);
      time += tamper.timeShift;
      if (tamper.timeShift != 0) std::memcpy(field, &time, sizeof time);
    }
    ASSERT_TRUE(WriteRootOwnedFile(TimestampFile(admin_), records, 0600));
    EXPECT_EQ(session.Request(kNoOneAsked), errAuthorizationDenied) << tamper.what;
    EXPECT_EQ(session.Request(kAsk), 0) << tamper.what;
    EXPECT_EQ(Calls("right"), ++calls) << tamper.what << ": not asked again";
  }
}

TEST_F(AdminRight, FreeingWithDestroyRightsForgetsTheTimestamp) {
  UseAgent(Agent("right", Prints(admin_.password)));
  UserSession session(admin_, UserSession::Terminal::kNone);
  ASSERT_EQ(session.Request(kAsk), 0);
  ASSERT_EQ(session.Request(kNoOneAsked), 0);
  ASSERT_EQ(session.Request(0, 'd'), 0);
  EXPECT_EQ(session.Request(kNoOneAsked), errAuthorizationDenied);
}

TEST_F(AdminRight, AnUnsafeOrBrokenSetUpGrantsNothing) {
  const std::string agent = Agent("right", Prints(admin_.password));
  const std::string policy = "admin-group = " + group_ + "\nagent = " + agent + "\n";
  const std::string policyPath = SystemRootPath("etc/tolvan/authorization");
  struct Case {
    const char *what;
    void (*spoil)(const std::string &policyPath, const std::string &policy);
  };
  const Case cases[] = {
      {"policy writable by others",
       [](const std::string &path, const std::string &text) {
         ASSERT_TRUE(WriteAuthorizationPolicy(text, 0666));
       }},
      {"policy owned by a user",
       [](const std::string &path, const std::string &text) {
         ASSERT_TRUE(WriteAuthorizationPolicy(text));
         ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
       }},
      {"policy is a link",
       [](const std::string &path, const std::string &text) {
         ASSERT_TRUE(WriteRootOwnedFile(path + ".real", text));
         unlink(path.c_str());
         ASSERT_EQ(symlink((path + ".real").c_str(), path.c_str()), 0);
       }},
      {"policy with an unknown key",
       [](const std::string &, const std::string &text) {
         ASSERT_TRUE(WriteAuthorizationPolicy(text + "grant-everyone = yes\n"));
       }},
      {"no PAM service",
       [](const std::string &, const std::string &text) {
         ASSERT_TRUE(WriteAuthorizationPolicy(text));
         ASSERT_EQ(unlink(SystemRootPath("etc/pam.d/tolvan").c_str()), 0);
       }},
  };
  for (const Case &c : cases) {
    c.spoil(policyPath, policy);
    UserSession session(admin_, UserSession::Terminal::kNone);
    EXPECT_EQ(session.Request(kAsk), errAuthorizationInternal) << c.what;
    unlink(policyPath.c_str());
    unlink((policyPath + ".real").c_str());
    ASSERT_TRUE(WriteTestPamService());
  }
  EXPECT_EQ(Calls("right"), 0u);
}

}  // namespace
}  // namespace tolvan::test
