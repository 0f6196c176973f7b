#include "platform/auth/terminal_prompt.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unix/unique_fd.hpp"

namespace tolvan::auth {
namespace {

// The signals a person can send from the keyboard or that end a session;
// each would otherwise leave the terminal without echo.
constexpr int kCaughtSignals[] = {SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU,
                                  SIGHUP, SIGTERM, SIGALRM, SIGPIPE};
constexpr size_t kCaughtCount = sizeof kCaughtSignals / sizeof kCaughtSignals[0];

// Set by the handler, read after the wait: a signal handler has no other way
// to speak. Cleared at the start of every prompt.
volatile sig_atomic_t gCaughtSignal = 0;

void NoteSignal(int signal) { gCaughtSignal = signal; }

// The caught signals are blocked except while waiting for input, so none
// can slip in between looking at gCaughtSignal and waiting.
class SignalGuard {
 public:
  SignalGuard() noexcept {
    gCaughtSignal = 0;
    sigset_t caught;
    ::sigemptyset(&caught);
    for (int signal : kCaughtSignals) ::sigaddset(&caught, signal);
    ::sigprocmask(SIG_BLOCK, &caught, &previousMask_);
    struct sigaction note;
    std::memset(&note, 0, sizeof note);
    note.sa_handler = NoteSignal;
    ::sigemptyset(&note.sa_mask);
    for (size_t i = 0; i < kCaughtCount; ++i) {
      ::sigaction(kCaughtSignals[i], &note, &previousActions_[i]);
    }
    waitMask_ = previousMask_;
    for (int signal : kCaughtSignals) ::sigdelset(&waitMask_, signal);
  }

  // Puts the caller's handlers back, then hands it the signal that came.
  ~SignalGuard() {
    for (size_t i = 0; i < kCaughtCount; ++i) {
      ::sigaction(kCaughtSignals[i], &previousActions_[i], nullptr);
    }
    if (gCaughtSignal != 0) ::kill(::getpid(), gCaughtSignal);
    ::sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
  }

  SignalGuard(const SignalGuard &) = delete;
  SignalGuard &operator=(const SignalGuard &) = delete;

  const sigset_t *waitMask() const noexcept { return &waitMask_; }

 private:
  sigset_t previousMask_;
  sigset_t waitMask_;
  struct sigaction previousActions_[kCaughtCount];
};

class EchoOff {
 public:
  EchoOff(int terminal, const struct termios &saved) noexcept : terminal_(terminal), saved_(saved) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~(ECHO | ECHOE | ECHOK);
    quiet.c_lflag |= ICANON;
    // Flushing drops what was typed before the prompt could be seen.
    active_ = ::tcsetattr(terminal, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) ::tcsetattr(terminal_, TCSANOW, &saved_);
  }
  EchoOff(const EchoOff &) = delete;
  EchoOff &operator=(const EchoOff &) = delete;

  bool active() const noexcept { return active_; }

 private:
  int terminal_;
  struct termios saved_;
  bool active_ = false;
};

void WriteText(int fd, const char *text) {
  size_t length = std::strlen(text);
  while (length > 0) {
    ssize_t written = ::write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// Waits for input without letting a caught signal slip by; false when one
// came or the terminal failed.
bool WaitForInput(int terminal, const SignalGuard &guard) {
  for (;;) {
    if (gCaughtSignal != 0) return false;
    struct pollfd wait = {terminal, POLLIN, 0};
    int ready = ::ppoll(&wait, 1, nullptr, guard.waitMask());
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

AskOutcome ReadLine(int terminal, const SignalGuard &guard, SecretBuffer *answer) {
  size_t filled = 0;
  bool tooLong = false;
  char discard[64];
  for (;;) {
    if (!WaitForInput(terminal, guard)) return AskOutcome::kCancelled;
    bool full = filled == SecretBuffer::kCapacity;
    char *target = full ? discard : answer->data() + filled;
    size_t room = full ? sizeof discard : SecretBuffer::kCapacity - filled;
    ssize_t got = ::read(terminal, target, room);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return AskOutcome::kCancelled;
    const char *newline =
        static_cast<const char *>(std::memchr(target, '\n', static_cast<size_t>(got)));
    size_t kept =
        newline != nullptr ? static_cast<size_t>(newline - target) : static_cast<size_t>(got);
    if (full) {
      tooLong = tooLong || kept > 0;
      ::explicit_bzero(discard, sizeof discard);
    } else {
      filled += kept;
    }
    if (newline != nullptr) break;
    if (full) tooLong = true;
  }
  answer->SetLength(filled);
  return tooLong ? AskOutcome::kTooLong : AskOutcome::kAnswered;
}

}  // namespace

AskOutcome AskAtTerminal(const char *prompt, SecretBuffer *answer) noexcept {
  UniqueFd terminal(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  struct termios saved;
  if (!terminal || ::tcgetattr(terminal.get(), &saved) != 0) return AskOutcome::kUnavailable;
  AskOutcome outcome;
  {
    SignalGuard signals;
    EchoOff echoOff(terminal.get(), saved);
    if (!echoOff.active()) return AskOutcome::kUnavailable;
    WriteText(terminal.get(), prompt);
    outcome = ReadLine(terminal.get(), signals, answer);
    // The Enter key was not echoed either.
    WriteText(terminal.get(), "\n");
  }
  if (outcome != AskOutcome::kAnswered) answer->Wipe();
  return outcome;
}

}  // namespace tolvan::auth
