// The relay after the privileged launch, driven over a socket pair with a
// forked stand-in for the privileged copy. Each case runs in a child of its
// own, so that the stand-in is the relay's only child, as in the tool.
#include "sec/self_repair_relay.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "sec/reserved_keys.h"
#include "sec/response_error.h"
#include "tests/support/child_process.hpp"
#include "tests/support/descriptors.hpp"
#include "unix/full_transfer.h"

namespace tolvan {
namespace {

using test::ChildSucceeded;
using test::CountOpenDescriptors;
using test::RunInChild;

constexpr OSStatus kCopysStatus = 17;
constexpr char kPassedContent[] = "through the reply";

// pairs keys with 100-byte values: a few thousand are more than the socket
// buffers hold, so the relay must pass the request on while it arrives.
CFRef<CFDictionaryRef> Request(int pairs = 1) {
  auto request = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  const std::string filler(100, 'v');
  for (int i = 0; i < pairs; ++i) {
    const std::string key = "key." + std::to_string(i);
    auto key_string = CFRef<CFStringRef>::Adopt(
        CFStringCreateWithCString(kCFAllocatorDefault, key.c_str(), kCFStringEncodingUTF8));
    auto value = CFRef<CFStringRef>::Adopt(
        CFStringCreateWithCString(kCFAllocatorDefault, filler.c_str(), kCFStringEncodingUTF8));
    CFDictionarySetValue(request.get(), key_string.get(), value.get());
  }
  return CFRef<CFDictionaryRef>::Adopt(request.release());
}

constexpr int kLargeRequestPairs = 6000;

// The pieces of a stand-in's life on its end of the link.
void WriteProcessIdWord(int link) {
  const uint32_t word = htonl(static_cast<uint32_t>(getpid()));
  (void)TolvanUNIXWrite(link, &word, sizeof word, nullptr);
}

// Taken for a whole word, these bytes would name a process that is no
// child of the relay's.
void WriteHalfAWord(int link) { (void)TolvanUNIXWrite(link, "\x7f\xff", 2, nullptr); }

// Reads the request and answers with a status and one descriptor, a pipe
// holding kPassedContent; an unexpected request ends the stand-in with 9.
void Serve(int link, int pairs = 1) {
  CFRef<CFDictionaryRef> request;
  if (CopyDictionaryFromDescriptor(link, request.out()) != 0 ||
      !CFEqual(request.get(), Request(pairs).get())) {
    _exit(9);
  }
  test::Pipe pipe = test::MakePipe();
  (void)TolvanUNIXWrite(pipe.write.get(), kPassedContent, sizeof kPassedContent, nullptr);
  int32_t status = kCopysStatus;
  int32_t fd = pipe.read.get();
  auto status_number =
      CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &status));
  auto fd_number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &fd));
  const void *items[] = {fd_number.get()};
  auto fds = CFRef<CFArrayRef>::Adopt(CFArrayCreate(nullptr, items, 1, &kCFTypeArrayCallBacks));
  const void *keys[] = {kErrorNumberKey, kDescriptorArrayKey};
  const void *values[] = {status_number.get(), fds.get()};
  auto reply = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  if (WriteDictionaryAndDescriptors(reply.get(), link) != 0) _exit(9);
}

// Blocks until the relay closes the link: a relay that waited first would
// never return.
void KeepWritingUntilTheLinkCloses(int link) {
  static const char chunk[4096] = {};
  while (TolvanUNIXWrite(link, chunk, sizeof chunk, nullptr) == 0) {
  }
}

struct RelayCase {
  const char *name;
  std::function<void(int link)> life;
  int exit_code;  // how the stand-in ends, unless killed
  bool killed;    // by SIGKILL
  OSStatus expected;
  bool replies;
  bool application_gone = false;  // closes its socket before the reply
  int request_pairs = 1;
};

// In the child: the application's socket carries the request and is
// half-closed; the relay serves the other end, as the tool's 0 and 1.
std::string RunRelay(const RelayCase &c) {
  signal(SIGPIPE, SIG_IGN);
  test::SocketPair application = test::MakeSocketPair();
  test::SocketPair link = test::MakeSocketPair();
  const auto send = [&] {
    return WriteDictionaryToDescriptor(Request(c.request_pairs).get(), application.ours.get()) ==
               0 &&
           shutdown(application.ours.get(), SHUT_WR) == 0;
  };
  // A request larger than the socket's buffer is sent from a process of its
  // own while the relay runs. Only then: a relay that waits for any child
  // would take it for the copy.
  const bool large = c.request_pairs > 1;
  const pid_t sender = large ? fork() : 0;
  if (large && sender == 0) _exit(send() ? 0 : 1);
  if (!large && !send()) return "no request\n";
  if (c.application_gone) application.ours.reset();
  const pid_t copy = fork();
  if (copy == 0) {
    application.ours.reset();
    application.theirs.reset();
    link.ours.reset();
    c.life(link.theirs.get());
    if (c.killed) raise(SIGKILL);
    _exit(c.exit_code);
  }
  link.theirs.reset();
  FILE *stream = fdopen(link.ours.release(), "r+");
  if (stream == nullptr) return "no stream\n";
  const int open_before = CountOpenDescriptors();

  const OSStatus status =
      RelayThroughPrivilegedCopy(application.theirs.get(), application.theirs.get(), stream);

  std::string report;
  if (status != c.expected) report += "status " + std::to_string(status) + "\n";
  if (large && test::WaitForChild(sender) != 0) report += "the request was not sent\n";
  if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) report += "copy not reaped\n";
  // The link, and the descriptor that came with the reply.
  if (CountOpenDescriptors() != open_before - 1) report += "descriptors left open in the relay\n";
  if (c.application_gone) return report;
  application.theirs.reset();  // the tool has ended
  CFRef<CFDictionaryRef> reply;
  const bool replied =
      CopyDictionaryTranslatingDescriptors(application.ours.get(), reply.out()) == 0;
  if (replied != c.replies) return report + (replied ? "unexpected reply\n" : "no reply\n");
  if (!replied) return report;
  if (TolvanSecGetErrorFromResponse(reply.get()) != kCopysStatus) report += "reply status\n";
  auto fds = static_cast<CFArrayRef>(CFDictionaryGetValue(reply.get(), kDescriptorArrayKey));
  int fd = -1;
  if (fds == nullptr || CFArrayGetCount(fds) != 1 ||
      !CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(fds, 0)), kCFNumberIntType,
                        &fd)) {
    return report + "no descriptor in the reply\n";
  }
  char content[sizeof kPassedContent] = {};
  if (TolvanUNIXRead(fd, content, sizeof content, nullptr) != 0 ||
      std::string(content) != kPassedContent) {
    report += "the passed descriptor lost its content\n";
  }
  close(fd);
  return report;
}

TEST(RelayThroughPrivilegedCopy, ReportsTheCopysOwnOutcome) {
  const auto served = [](int link) {
    WriteProcessIdWord(link);
    Serve(link);
  };
  const RelayCase cases[] = {
      {"served, exit 0", served, 0, false, 0, true},
      {"served, then writing on until the link closes",
       [&](int link) {
         served(link);
         KeepWritingUntilTheLinkCloses(link);
       },
       0, false, 0, true},
      {"served a request larger than the socket buffers",
       [](int link) {
         WriteProcessIdWord(link);
         Serve(link, kLargeRequestPairs);
       },
       0, false, 0, true, false, kLargeRequestPairs},
      {"served, exit 7", served, 7, false, kHelperToolInternalErr, true},
      {"served, then killed", served, 0, true, kHelperToolInternalErr, true},
      {"exit 1 before reading the request", WriteProcessIdWord, 1, false, kHelperToolParamErr,
       false},
      {"exit 4 before reading the request", WriteProcessIdWord, 4, false, kHelperToolInternalErr,
       false},
      {"killed before reading the request", WriteProcessIdWord, 0, true, kHelperToolInternalErr,
       false},
      // Success without having served the request is no success.
      {"exit 0 before reading the request", WriteProcessIdWord, 0, false, kHelperToolInternalErr,
       false},
      {"exit 3 before the process-id word", [](int) {}, 3, false, kHelperToolCancelledErr, false},
      {"exit 2 within the process-id word", WriteHalfAWord, 2, false, kHelperToolDeniedErr, false},
      {"killed within the process-id word", WriteHalfAWord, 0, true, kHelperToolInternalErr, false},
      // The copy did its part; the reply could not be delivered, which is
      // the relay's own failure, not the copy's success.
      {"served, but the application has gone", served, 0, false, EPIPE, false, true},
  };
  for (const RelayCase &c : cases) {
    EXPECT_TRUE(ChildSucceeded(RunInChild([&] { return RunRelay(c); }))) << c.name;
  }
}

// A failure of the relay's own, not a broken link: that status, and the
// copy is still reaped. The stream here is a pipe's reading end: the word
// arrives, the (empty) request goes nowhere, and the half-close fails.
TEST(RelayThroughPrivilegedCopy, AnUnusableLinkGivesItsErrorAndTheCopyIsReaped) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    test::SocketPair application = test::MakeSocketPair();
    shutdown(application.ours.get(), SHUT_WR);
    test::Pipe pipe = test::MakePipe();
    const pid_t copy = fork();
    if (copy == 0) {
      WriteProcessIdWord(pipe.write.get());
      _exit(0);
    }
    pipe.write.reset();
    const OSStatus status = RelayThroughPrivilegedCopy(
        application.theirs.get(), application.theirs.get(), fdopen(pipe.read.release(), "r"));
    std::string report;
    if (status != ENOTSOCK) report += "status " + std::to_string(status) + "\n";
    if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) report += "copy not reaped\n";
    return report;
  })));
}

// A word naming a process that is not the relay's child: the exchange went
// through, the wait did not, and its errno is the result.
TEST(RelayThroughPrivilegedCopy, AWaitThatFailsGivesItsErrno) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    test::SocketPair application = test::MakeSocketPair();
    WriteDictionaryToDescriptor(Request().get(), application.ours.get());
    shutdown(application.ours.get(), SHUT_WR);
    test::SocketPair link = test::MakeSocketPair();
    const pid_t copy = fork();
    if (copy == 0) {
      const uint32_t init = htonl(1);
      (void)TolvanUNIXWrite(link.theirs.get(), &init, sizeof init, nullptr);
      Serve(link.theirs.get());
      _exit(0);
    }
    link.theirs.reset();
    const OSStatus status = RelayThroughPrivilegedCopy(
        application.theirs.get(), application.theirs.get(), fdopen(link.ours.release(), "r+"));
    std::string report;
    if (status != ECHILD) report += "status " + std::to_string(status) + "\n";
    if (test::WaitForChild(copy) != 0) report += "stand-in failed\n";
    return report;
  })));
}

}  // namespace
}  // namespace tolvan
