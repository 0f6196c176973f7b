#include "sec/helper_tool_main.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "sec/response_error.h"
#include "tests/support/child_process.hpp"
#include "tests/support/descriptors.hpp"
#include "unix/full_transfer.h"

namespace {

using tolvan::CFRef;
using tolvan::test::MakeSocketPair;
using tolvan::test::SocketPair;

// Counts its calls in a shared place: the driver hands the command a
// reference it made itself, so nothing can travel through that.
int g_command_calls = 0;
uid_t g_effective_user_seen = 0;

OSStatus CountingCommand(AuthorizationRef authorization, CFDictionaryRef, CFDictionaryRef *) {
  ++g_command_calls;
  g_effective_user_seen = geteuid();
  return authorization != nullptr ? 17 : -1;
}

std::vector<char *> Arguments(std::vector<std::string> *storage) {
  std::vector<char *> argv;
  for (std::string &argument : *storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

AuthorizationExternalForm OwnExternalForm(AuthorizationRef *reference) {
  AuthorizationExternalForm form = {};
  EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, reference), 0);
  EXPECT_EQ(AuthorizationMakeExternalForm(*reference, &form), 0);
  return form;
}

void SendEmptyRequest(int fd) {
  auto request = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      kCFAllocatorDefault, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  ASSERT_EQ(WriteDictionaryToDescriptor(request.get(), fd), 0);
}

size_t BytesWaiting(int fd) {
  char buffer[4096];
  ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_PEEK);
  return n > 0 ? size_t(n) : 0;
}

OSStatus RunDriver(const SocketPair &sockets, std::vector<std::string> arguments,
                   AuthorizationRef passed_in = nullptr) {
  std::vector<char *> argv = Arguments(&arguments);
  return TolvanSecHelperToolMain(sockets.theirs.get(), sockets.theirs.get(), passed_in,
                                 CountingCommand, int(arguments.size()), argv.data());
}

TEST(HelperToolMain, RefusesWrongArgumentsWithoutReadingOrWriting) {
  const std::vector<std::vector<std::string>> cases = {
      {"tool", "--self-repair", "extra"},
      {"tool", "--self-repairs"},
      {"tool", "--SELF-REPAIR"},
      {"tool", ""},
      {"tool", "a", "b", "c"},
  };
  for (const auto &arguments : cases) {
    auto sockets = MakeSocketPair();
    AuthorizationRef reference = nullptr;
    AuthorizationExternalForm form = OwnExternalForm(&reference);
    ASSERT_EQ(TolvanUNIXWrite(sockets.ours.get(), &form, sizeof form, nullptr), 0);
    g_command_calls = 0;
    // The driver owns the reference from the call on (a leak or a double
    // free shows in the sanitizer build).
    EXPECT_EQ(RunDriver(sockets, arguments, reference), kHelperToolParamErr) << arguments[1];
    EXPECT_EQ(BytesWaiting(sockets.theirs.get()), sizeof form) << "read something";
    EXPECT_EQ(BytesWaiting(sockets.ours.get()), 0u) << "wrote something";
    EXPECT_EQ(g_command_calls, 0);
  }
  // Without any argument, argv[0] included.
  auto sockets = MakeSocketPair();
  char *empty[] = {nullptr};
  EXPECT_EQ(TolvanSecHelperToolMain(sockets.theirs.get(), sockets.theirs.get(), nullptr,
                                    CountingCommand, 0, empty),
            kHelperToolParamErr);
}

// Without a reference from a privileged launch the self-repair mode names
// its process to the relay and stops: nothing of the request is read.
TEST(HelperToolMain, SelfRepairModeWithoutAReferenceWritesTheProcessIdWordAndReadsNothing) {
  auto sockets = MakeSocketPair();
  const char bytes[] = "anything";
  ASSERT_EQ(TolvanUNIXWrite(sockets.ours.get(), bytes, sizeof bytes, nullptr), 0);
  EXPECT_EQ(RunDriver(sockets, {"tool", "--self-repair"}), kHelperToolParamErr);
  EXPECT_EQ(BytesWaiting(sockets.theirs.get()), sizeof bytes);
  uint32_t word = 0;
  ASSERT_EQ(BytesWaiting(sockets.ours.get()), sizeof word);
  ASSERT_EQ(TolvanUNIXRead(sockets.ours.get(), &word, sizeof word, nullptr), 0);
  EXPECT_EQ(static_cast<pid_t>(ntohl(word)), getpid());
}

TEST(HelperToolMain, AnExternalFormThatIsShortOrForgedEndsTheRun) {
  AuthorizationRef reference = nullptr;
  AuthorizationExternalForm form = OwnExternalForm(&reference);
  // The leading bytes name the form's layout and its process.
  AuthorizationExternalForm forged = form;
  forged.bytes[0] ^= 0x55;
  const AuthorizationExternalForm zero = {};
  const struct {
    const char *name;
    const AuthorizationExternalForm *form;
    size_t length;
    OSStatus expected;
  } cases[] = {
      {"ten bytes", &form, 10, EPIPE},
      {"nothing", &form, 0, EPIPE},
      {"forged", &forged, sizeof form, errAuthorizationInvalidRef},
      {"zero", &zero, sizeof form, errAuthorizationInvalidRef},
  };
  for (const auto &c : cases) {
    auto sockets = MakeSocketPair();
    ASSERT_EQ(TolvanUNIXWrite(sockets.ours.get(), c.form, c.length, nullptr), 0);
    shutdown(sockets.ours.get(), SHUT_WR);
    g_command_calls = 0;
    EXPECT_EQ(RunDriver(sockets, {"tool"}), c.expected) << c.name;
    EXPECT_EQ(g_command_calls, 0) << c.name;
    EXPECT_EQ(BytesWaiting(sockets.ours.get()), 0u) << c.name;
  }
  AuthorizationFree(reference, kAuthorizationFlagDefaults);
}

// Started as root, the driver serves the request itself with the reference
// made from the external form (never the one passed in), lowered to the
// real user while the command runs.
TEST(HelperToolMain, StartedAsRootServesTheRequestAsTheRealUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to take a set-user-ID identity";
  EXPECT_TRUE(tolvan::test::ChildSucceeded(tolvan::test::RunInChild([] {
    // The identity of a set-user-ID root tool started by user 65534.
    if (setresuid(65534, 0, 0) != 0) return std::string("setresuid");
    auto sockets = MakeSocketPair();
    if (seteuid(65534) != 0) return std::string("seteuid");
    AuthorizationRef own = nullptr;
    AuthorizationExternalForm form = OwnExternalForm(&own);
    if (seteuid(0) != 0) return std::string("seteuid 0");
    if (TolvanUNIXWrite(sockets.ours.get(), &form, sizeof form, nullptr) != 0) return std::string("write");
    SendEmptyRequest(sockets.ours.get());
    g_command_calls = 0;
    OSStatus status = RunDriver(sockets, {"tool"});
    std::string report;
    if (status != 0) report += "status " + std::to_string(status) + "\n";
    if (g_command_calls != 1) report += "command calls " + std::to_string(g_command_calls) + "\n";
    if (g_effective_user_seen != 65534) report += "command ran as " + std::to_string(g_effective_user_seen) + "\n";
    CFRef<CFDictionaryRef> reply;
    if (CopyDictionaryTranslatingDescriptors(sockets.ours.get(), reply.out()) != 0) {
      return report + "no reply\n";
    }
    if (TolvanSecGetErrorFromResponse(reply.get()) != 17) report += "reply status\n";
    return report;
  })));
}

// Without root the request is relayed through a privileged copy; user
// 65534, with no terminal to be asked at, cannot start one (the trampoline
// is missing, or the right is denied or cancelled), and the request is left
// unread.
TEST(HelperToolMain, NotStartedAsRootARefusedPrivilegedLaunchLeavesTheRequestUnread) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  EXPECT_TRUE(tolvan::test::ChildSucceeded(tolvan::test::RunInChild([] {
    if (setsid() < 0) return std::string("setsid");
    if (setresuid(65534, 65534, 65534) != 0) return std::string("setresuid");
    auto sockets = MakeSocketPair();
    AuthorizationRef own = nullptr;
    AuthorizationExternalForm form = OwnExternalForm(&own);
    if (TolvanUNIXWrite(sockets.ours.get(), &form, sizeof form, nullptr) != 0) return std::string("write");
    SendEmptyRequest(sockets.ours.get());
    const size_t request_bytes = BytesWaiting(sockets.theirs.get()) - sizeof form;
    g_command_calls = 0;
    OSStatus status = RunDriver(sockets, {"tool"});
    std::string report;
    if (status != errAuthorizationDenied && status != errAuthorizationCanceled &&
        status != errAuthorizationInternal) {
      report += "status " + std::to_string(status) + "\n";
    }
    if (g_command_calls != 0) report += "command ran\n";
    if (BytesWaiting(sockets.theirs.get()) != request_bytes) report += "request was read\n";
    if (BytesWaiting(sockets.ours.get()) != 0) report += "something was written\n";
    return report;
  })));
}

}  // namespace
