#include "platform/auth/authentication_agent.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "unix/raised_soft_limit.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::auth {
namespace {

constexpr char kAgentPath[] = "PATH=/usr/bin:/bin";
constexpr char kAgentLocale[] = "LC_ALL=C";
constexpr int kExecFailedStatus = 127;
// How often a finished agent's exit is looked for: agents exit right after
// printing, so this is rarely waited for at all.
constexpr long kExitPollNanoseconds = 2'000'000;

int64_t NowMilliseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

void CloseDescriptorsFrom(int first) {
  if (::syscall(SYS_close_range, first, ~0U, 0) == 0) return;
  long limit = ::sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < limit; ++fd) ::close(static_cast<int>(fd));
}

void ResetSignals() {
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction defaults;
  std::memset(&defaults, 0, sizeof defaults);
  defaults.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);
}

// After fork: only async-signal-safe calls, all prepared by the parent.
[[noreturn]] void BecomeAgent(int output, uid_t uid, gid_t gid, const char *program,
                              char *const argv[], char *const envp[]) {
  ResetSignals();
  int null = ::open("/dev/null", O_RDWR);
  if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
      ::dup2(null, STDERR_FILENO) < 0) {
    ::_exit(kExecFailedStatus);
  }
  CloseDescriptorsFrom(STDERR_FILENO + 1);
  // All three ids, saved ones included, so the agent cannot get root back.
  if (::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) {
    ::_exit(kExecFailedStatus);
  }
  uid_t real, effective, saved;
  if (::getresuid(&real, &effective, &saved) != 0 || real != uid || effective != uid ||
      saved != uid) {
    ::_exit(kExecFailedStatus);
  }
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || ::chdir("/") != 0) {
    ::_exit(kExecFailedStatus);
  }
  ::execve(program, argv, envp);
  ::_exit(kExecFailedStatus);
}

// Waits for the agent until the deadline; -1 when it did not end in time
// (it is then killed and reaped) or cannot be waited for.
int WaitForAgent(pid_t pid, int64_t deadline) {
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (NowMilliseconds() >= deadline) break;
    struct timespec nap = {0, kExitPollNanoseconds};
    ::nanosleep(&nap, nullptr);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

enum class ReadOutcome { kEnded, kTooLong, kFailed };

// Reads the agent's output up to its end or its first newline, until the
// deadline.
ReadOutcome ReadAnswer(int fd, int64_t deadline, SecretBuffer *answer, size_t *length) {
  size_t filled = 0;
  for (;;) {
    int64_t remaining = deadline - NowMilliseconds();
    if (remaining <= 0) return ReadOutcome::kFailed;
    struct pollfd wait = {fd, POLLIN, 0};
    int ready = ::poll(&wait, 1, static_cast<int>(remaining));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return ReadOutcome::kFailed;
    // Past the capacity one more byte tells an answer that just fits from
    // one that is too long.
    char extra = 0;
    bool full = filled == SecretBuffer::kCapacity;
    ssize_t got = full ? ::read(fd, &extra, 1)
                       : ::read(fd, answer->data() + filled, SecretBuffer::kCapacity - filled);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return ReadOutcome::kFailed;
    if (got == 0 || (full && extra == '\n')) break;
    if (full) return ReadOutcome::kTooLong;
    filled += static_cast<size_t>(got);
    // Only the first line is the answer; what follows need not be waited for.
    if (std::memchr(answer->data(), '\n', filled) != nullptr) break;
  }
  *length = filled;
  return ReadOutcome::kEnded;
}

void KeepFirstLine(SecretBuffer *answer, size_t length) {
  const char *newline = static_cast<const char *>(std::memchr(answer->data(), '\n', length));
  size_t kept = newline != nullptr ? static_cast<size_t>(newline - answer->data()) : length;
  std::memset(answer->data() + kept, 0, length - kept);
  answer->SetLength(kept);
}

}  // namespace

AskOutcome AskAgent(const char *program, unsigned timeoutSeconds, const char *prompt,
                    const Account &account, SecretBuffer *answer) {
  std::string home = "HOME=" + account.home;
  std::string user = "USER=" + account.name;
  std::string logname = "LOGNAME=" + account.name;
  char *const envp[] = {const_cast<char *>(kAgentPath), const_cast<char *>(kAgentLocale),
                        home.data(), user.data(), logname.data(), nullptr};
  char *const argv[] = {const_cast<char *>(program), const_cast<char *>(prompt), nullptr};
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return AskOutcome::kUnavailable;
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  const int64_t deadline = NowMilliseconds() + static_cast<int64_t>(timeoutSeconds) * 1000;
  // The helper tool keeps a low soft limit on the user's processes.
  pid_t pid = ForkPastSoftProcessLimit();
  if (pid == 0) BecomeAgent(writeEnd.get(), uid, gid, program, argv, envp);
  if (pid < 0) return AskOutcome::kUnavailable;
  writeEnd.reset();

  size_t length = 0;
  ReadOutcome read = ReadAnswer(readEnd.get(), deadline, answer, &length);
  // A finished read leaves the agent to exit within its time; otherwise it
  // is killed at once.
  int status = WaitForAgent(pid, read == ReadOutcome::kEnded ? deadline : 0);
  if (read == ReadOutcome::kTooLong) {
    answer->Wipe();
    return AskOutcome::kTooLong;
  }
  if (read != ReadOutcome::kEnded || status < 0 || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    answer->Wipe();
    return AskOutcome::kCancelled;
  }
  KeepFirstLine(answer, length);
  return AskOutcome::kAnswered;
}

}  // namespace tolvan::auth
