// Pieces the helper tool's tests share: an application process that starts
// the installed tool as a throwaway user and runs one exchange with it, a
// responder that answers password prompts on a pseudo-terminal, rich
// requests, and reading back the machine-wide store.
#ifndef TOLVAN_TESTS_TOOL_TOOL_TEST_SUPPORT_HPP
#define TOLVAN_TESTS_TOOL_TOOL_TEST_SUPPORT_HPP

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/auth/authorization.h"
#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/prefs/preferences.h"
#include "sec/dictionary_channel.h"
#include "sec/response_error.h"
#include "tests/support/authorization_accounts.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/installed_helper_tool.hpp"
#include "tool/perform_command.h"
#include "unix/full_transfer.h"

namespace tolvan::test {

// Held by the tests that rely on the build's machine-wide store, since some
// of them make it unusable for a while. Taken after the
// AuthorizationSetupLock by every test that holds both.
class StoreLock {
 public:
  StoreLock() {
    fd_ = open(TOLVAN_BUILD_DIR "/tool-store.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) close(fd_);
  }
  StoreLock(const StoreLock &) = delete;
  StoreLock &operator=(const StoreLock &) = delete;

 private:
  int fd_ = -1;
};

inline CFRef<CFStringRef> String(const std::string &text) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

inline CFRef<CFDictionaryRef> DictionaryOf(const std::vector<std::pair<CFTypeRef, CFTypeRef>> &pairs) {
  auto dictionary = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (const auto &[key, value] : pairs) CFDictionarySetValue(dictionary.get(), key, value);
  return CFRef<CFDictionaryRef>::Adopt(dictionary.release());
}

// A request whose keys carry tag (so that tests never meet in the store)
// and whose values are of every kind: nested dictionaries and arrays, data,
// a date, numbers, booleans and strings beyond ASCII.
inline CFRef<CFDictionaryRef> RichRequest(const std::string &tag) {
  const UInt8 bytes[] = {0x00, 0xFF, 0x10, 0x80, 'D', 0x00};
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, bytes, sizeof bytes));
  auto date = CFRef<CFDateRef>::Adopt(CFDateCreate(kCFAllocatorDefault, 123456789.0));
  int64_t big = INT64_MIN;
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &big));
  double real = -0.125;
  auto fraction = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &real));
  auto text = String("Grüße, 日本語 and an astral \xF0\x9F\x98\x80 <&>");
  const void *items[] = {text.get(), data.get(), kCFBooleanFalse};
  auto array = CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault, items, 3, &kCFTypeArrayCallBacks));
  auto inner = DictionaryOf({{CFSTR("date"), date.get()}, {CFSTR("list"), array.get()}});
  auto nested = DictionaryOf({{CFSTR("inner"), inner.get()}, {CFSTR("number"), number.get()}});
  return DictionaryOf({
      {String(tag + ".nested").get(), nested.get()},
      {String(tag + ".array").get(), array.get()},
      {String(tag + ".data").get(), data.get()},
      {String(tag + ".date").get(), date.get()},
      {String(tag + ".real").get(), fraction.get()},
      {String(tag + ".flag").get(), kCFBooleanTrue},
      {String(tag + ".ünïcødé").get(), text.get()},
  });
}

// Which pairs of request the machine-wide store holds as sent; "" when all.
inline std::string StoreMismatches(CFDictionaryRef request, bool expect_present = true) {
  std::string report;
  const CFIndex count = CFDictionaryGetCount(request);
  std::vector<const void *> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(request, keys.data(), values.data());
  for (CFIndex i = 0; i < count; ++i) {
    auto stored = CFRef<CFPropertyListRef>::Adopt(
        CFPreferencesCopyValue(static_cast<CFStringRef>(keys[size_t(i)]), kProductPreferencesID,
                               kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
    char name[256] = "";
    CFStringGetCString(static_cast<CFStringRef>(keys[size_t(i)]), name, sizeof name,
                       kCFStringEncodingUTF8);
    if (expect_present && !(stored && CFEqual(stored.get(), values[size_t(i)]))) {
      report += std::string("missing or different: ") + name + "\n";
    }
    if (!expect_present && stored) report += std::string("written: ") + name + "\n";
  }
  return report;
}

inline std::string FrameOf(CFDictionaryRef dictionary) {
  auto xml = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(kCFAllocatorDefault, dictionary));
  std::string payload(reinterpret_cast<const char *>(CFDataGetBytePtr(xml.get())),
                      size_t(CFDataGetLength(xml.get())));
  uint32_t word = htonl(uint32_t(payload.size()));
  return std::string(reinterpret_cast<const char *>(&word), sizeof word) + payload;
}

inline std::string RawFrame(const std::string &payload, uint32_t announced) {
  uint32_t word = htonl(announced);
  return std::string(reinterpret_cast<const char *>(&word), sizeof word) + payload;
}

// What the application saw of one exchange.
struct Exchange {
  int wait_status = -1;      // the tool's
  bool replied = false;      // a reply frame arrived
  OSStatus reply_status = 0;  // its kErrorNumberKey
  bool read_nothing = false;  // the tool consumed none of its input (pipe input only)

  bool Exited(int code) const { return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == code; }
  std::string Describe() const {
    std::string text = "wait status " + std::to_string(wait_status);
    if (WIFSIGNALED(wait_status)) text += " (signal " + std::to_string(WTERMSIG(wait_status)) + ")";
    if (replied) text += ", reply " + std::to_string(reply_status);
    return text;
  }
};

// How the application starts the tool and what it sends.
struct ToolLaunch {
  std::string tool;
  std::vector<std::string> arguments;   // after argv[0]
  bool empty_argument_vector = false;   // execve with argv = {NULL}
  std::vector<std::string> environment;
  // Runs in the tool's process, as the user, right before exec.
  std::function<void()> before_exec;
  // The input: the application's own external form and this request frame,
  // or these bytes instead of both.
  std::string frame;
  bool raw = false;
  std::string raw_input;
  // Input from a pipe instead of the socket, so that what the tool left
  // unread can be seen; the reply side stays a socket.
  bool pipe_input = false;
  // Called once the external form is sent, with the tool's process id,
  // before the frame goes out; may return a report of what it found wrong.
  std::function<std::string(pid_t)> after_form;
};

inline std::vector<char *> ArgumentPointers(std::vector<std::string> *strings) {
  std::vector<char *> pointers;
  for (std::string &s : *strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the application process: starts the tool with the socket (or the pipe
// and the socket) as its descriptors 0 and 1, sends the input, reads the
// reply and waits.
inline Exchange RunExchange(const ToolLaunch &launch, std::string *report) {
  Exchange exchange;
  signal(SIGPIPE, SIG_IGN);
  int sockets[2];
  int input_pipe[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0 ||
      (launch.pipe_input && pipe2(input_pipe, O_CLOEXEC) != 0)) {
    *report += "no socket pair\n";
    return exchange;
  }
  AuthorizationRef authorization = nullptr;
  AuthorizationExternalForm form = {};
  if (AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &authorization) != 0 ||
      AuthorizationMakeExternalForm(authorization, &form) != 0) {
    *report += "no authorization\n";
  }
  std::vector<std::string> argv_strings = {launch.tool};
  argv_strings.insert(argv_strings.end(), launch.arguments.begin(), launch.arguments.end());
  std::vector<std::string> env_strings = launch.environment;
  std::vector<char *> argv = ArgumentPointers(&argv_strings);
  std::vector<char *> envp = ArgumentPointers(&env_strings);
  char *empty[] = {nullptr};
  pid_t tool = fork();
  if (tool == 0) {
    dup2(launch.pipe_input ? input_pipe[0] : sockets[1], 0);
    dup2(sockets[1], 1);
    if (launch.before_exec) launch.before_exec();
    execve(launch.tool.c_str(), launch.empty_argument_vector ? empty : argv.data(), envp.data());
    _exit(127);
  }
  close(sockets[1]);
  const int input = launch.pipe_input ? input_pipe[1] : sockets[0];
  std::string first = launch.raw ? launch.raw_input : std::string(form.bytes, sizeof form.bytes);
  TolvanUNIXWrite(input, first.data(), first.size(), nullptr);
  if (launch.after_form) *report += launch.after_form(tool);
  if (!launch.raw) TolvanUNIXWrite(input, launch.frame.data(), launch.frame.size(), nullptr);
  if (launch.pipe_input) {
    close(input_pipe[1]);
  } else {
    shutdown(sockets[0], SHUT_WR);
  }
  CFRef<CFDictionaryRef> reply;
  if (CopyDictionaryTranslatingDescriptors(sockets[0], reply.out()) == 0) {
    exchange.replied = true;
    exchange.reply_status = TolvanSecGetErrorFromResponse(reply.get());
  }
  while (waitpid(tool, &exchange.wait_status, 0) < 0 && errno == EINTR) {
  }
  if (launch.pipe_input) {
    int unread = 0;
    ioctl(input_pipe[0], FIONREAD, &unread);
    exchange.read_nothing = size_t(unread) == first.size() + (launch.raw ? 0 : launch.frame.size());
    close(input_pipe[0]);
  }
  close(sockets[0]);
  if (authorization != nullptr) AuthorizationFree(authorization, kAuthorizationFlagDefaults);
  return exchange;
}

// "" when the exchange ended as expected: the exit status, and the reply's
// status or no reply at all (expected_reply null).
inline std::string CheckExchange(const Exchange &exchange, int expected_exit,
                                 const OSStatus *expected_reply) {
  std::string report;
  if (!exchange.Exited(expected_exit)) {
    report += "expected exit " + std::to_string(expected_exit) + ", got " + exchange.Describe() + "\n";
  }
  if (WIFSIGNALED(exchange.wait_status) && WCOREDUMP(exchange.wait_status)) report += "core dumped\n";
  if (expected_reply == nullptr && exchange.replied) report += "unexpected reply: " + exchange.Describe() + "\n";
  if (expected_reply != nullptr && (!exchange.replied || exchange.reply_status != *expected_reply)) {
    report += "expected reply " + std::to_string(*expected_reply) + ", got " + exchange.Describe() + "\n";
  }
  return report;
}

// A pseudo-terminal that the application takes as its controlling terminal,
// with the test answering every password prompt that appears on it.
class PasswordTerminal {
 public:
  explicit PasswordTerminal(std::vector<std::string> answers) : answers_(std::move(answers)) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
      master_ = master;
      slave_ = slave;
      fcntl(master_, F_SETFL, O_NONBLOCK);
      fcntl(master_, F_SETFD, FD_CLOEXEC);
    }
  }
  ~PasswordTerminal() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  PasswordTerminal(const PasswordTerminal &) = delete;
  PasswordTerminal &operator=(const PasswordTerminal &) = delete;

  // In the application's child, before it becomes the user: a new session
  // whose controlling terminal this is, owned by the user as after a login.
  bool TakeAsControllingTerminal(uid_t owner) const {
    if (setsid() < 0 || ioctl(slave_, TIOCSCTTY, 0) != 0) return false;
    return fchown(slave_, owner, gid_t(-1)) == 0;
  }

  // In the parent while the child runs: answers each new prompt with the
  // next answer (the last one again when they run out).
  void Serve() {
    char buffer[512];
    for (;;) {
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      transcript_.append(buffer, size_t(n));
    }
    size_t found = transcript_.find(kPrompt, scanned_);
    if (found == std::string::npos) return;
    scanned_ = found + std::strlen(kPrompt);
    const std::string answer =
        (answers_.empty() ? std::string() : answers_[std::min(prompts_, answers_.size() - 1)]) + "\n";
    ++prompts_;
    ssize_t written = write(master_, answer.data(), answer.size());
    (void)written;
  }

  size_t prompts() const { return prompts_; }
  const std::string &transcript() const { return transcript_; }
  bool ok() const { return master_ >= 0; }

 private:
  static constexpr const char *kPrompt = "Password for ";
  int master_ = -1;
  int slave_ = -1;
  std::vector<std::string> answers_;
  std::string transcript_;
  size_t scanned_ = 0;
  size_t prompts_ = 0;
};

// Runs application in a child that is user in a session of its own: on
// terminal, its controlling terminal, when given; with none, no one can be
// asked there. as_root, when given, prepares the child before it becomes the
// user; a report it returns ends the run. The parent answers the terminal's
// prompts while it waits. "" when all went as expected.
inline std::string RunApplicationAs(const ThrowawayUser &user, PasswordTerminal *terminal,
                                    const std::function<std::string()> &application,
                                    const std::function<std::string()> &as_root = {}) {
  constexpr int kApplicationTimeoutSeconds = 60;
  ChildOutcome outcome = RunInChild(
      [&] {
        if (terminal == nullptr) {
          setsid();
        } else if (!terminal->TakeAsControllingTerminal(user.uid)) {
          return std::string("no controlling terminal\n");
        }
        if (as_root) {
          std::string failure = as_root();
          if (!failure.empty()) return failure;
        }
        if (!BecomeUser(user, false)) return std::string("cannot become the user\n");
        return application();
      },
      kApplicationTimeoutSeconds, [terminal] {
        if (terminal != nullptr) terminal->Serve();
      });
  return (outcome.finished ? "" : "application: " + outcome.failure + "\n") + outcome.report;
}

// A file read whole; "" when it cannot be read.
inline std::string ReadWholeFile(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string content;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) content.append(buffer, size_t(n));
  close(fd);
  return content;
}

inline std::string ProcFile(pid_t pid, const std::string &name) {
  return ReadWholeFile("/proc/" + std::to_string(pid) + "/" + name);
}

// The value of a "Name:\tvalue" line of /proc/<pid>/status.
inline std::string StatusField(const std::string &status, const std::string &name) {
  size_t at = status.find("\n" + name + ":");
  if (at == std::string::npos) return "";
  at = status.find_first_not_of(" \t", at + name.size() + 2);
  return status.substr(at, status.find('\n', at) - at);
}

}  // namespace tolvan::test

#endif
