// Running one request in a helper tool: scripted stand-ins for the tool
// (tests/sec/scripted_tool.cpp and small shell scripts) end in every way a
// tool can, and the call must report it, hand out a reply only with
// success, and leave no descriptor open and no child unreaped; then one
// real request through the installed set-user-ID tool.
#include "sec/execute_request.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/descriptor_array.h"
#include "sec/reserved_keys.h"
#include "sec/response_error.h"
#include "tests/support/child_process.hpp"
#include "tests/support/open_descriptors.hpp"
#include "tests/tool/tool_test_support.hpp"

namespace tolvan::test {
namespace {

constexpr const char *kScriptVariable = "TOLVAN_SCRIPTED_TOOL";

CFRef<CFURLRef> URLOf(const std::string &path) {
  return CFRef<CFURLRef>::Adopt(CFURLCreateFromFileSystemRepresentation(
      kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(path.data()), CFIndex(path.size()), false));
}

// Every child of this process has been reaped.
bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

std::string ReadAll(int fd) {
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, off_t(text.size()))) > 0;) {
    text.append(buffer, size_t(n));
  }
  if (!text.empty()) return text;
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  return text;
}

std::string ListedDescriptorContents(CFDictionaryRef reply) {
  auto listed = static_cast<CFArrayRef>(CFDictionaryGetValue(reply, kDescriptorArrayKey));
  if (listed == nullptr || CFGetTypeID(listed) != CFArrayGetTypeID()) return "no descriptor array";
  std::string contents;
  for (CFIndex i = 0; i < CFArrayGetCount(listed); ++i) {
    int fd = -1;
    CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(listed, i)), kCFNumberIntType, &fd);
    contents += ReadAll(fd);
  }
  return contents;
}

class ExecuteRequest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }

  void SetUp() override {
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &authorization_), 0);
    char folder[] = "/tmp/tolvan-execute-request-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    request_ = DictionaryOf({{CFSTR("execute.test.key"), CFSTR("value")}});
  }

  void TearDown() override {
    unsetenv(kScriptVariable);
    if (authorization_ != nullptr) AuthorizationFree(authorization_, kAuthorizationFlagDefaults);
    if (!folder_.empty()) {
      std::string command = "rm -rf '" + folder_ + "'";
      EXPECT_EQ(system(command.c_str()), 0);
    }
  }

  std::string Script(const std::string &name, const std::string &body, mode_t mode = 0755) {
    const std::string path = folder_ + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    EXPECT_GE(fd, 0);
    const std::string text = "#!/bin/sh\n" + body + "\n";
    EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
    close(fd);
    return path;
  }

  // Runs the request through path, with the scripted tool told to follow
  // script when it is not empty.
  OSStatus Run(const std::string &path, const std::string &script, CFRef<CFDictionaryRef> *reply) {
    if (!script.empty()) setenv(kScriptVariable, script.c_str(), 1);
    CFDictionaryRef response = nullptr;
    OSStatus status = TolvanSecExecuteRequestInHelperTool(URLOf(path).get(), authorization_,
                                                          request_.get(), &response);
    unsetenv(kScriptVariable);
    reply->reset(response);
    return status;
  }

  AuthorizationRef authorization_ = nullptr;
  std::string folder_;
  CFRef<CFDictionaryRef> request_;
};

TEST_F(ExecuteRequest, AToolThatEndsWithoutSuccessGivesItsStatusAndNoReply) {
  const std::string missing = folder_ + "/missing";
  const std::string not_executable = Script("not-executable", "exit 0", 0644);
  const std::string exits_seven = Script("exits-seven", "exit 7");
  const struct {
    const char *what;
    std::string path;
    const char *script;
    OSStatus expected;
  } cases[] = {
      {"path that does not exist", missing, "", kHelperToolInternalErr},
      {"file without execute permission", not_executable, "", kHelperToolInternalErr},
      {"exits 1 after the request", TOLVAN_SCRIPTED_TOOL_PATH, "exit-after-request 1", kHelperToolParamErr},
      {"exits 2 after the request", TOLVAN_SCRIPTED_TOOL_PATH, "exit-after-request 2", kHelperToolDeniedErr},
      {"exits 3 after the request", TOLVAN_SCRIPTED_TOOL_PATH, "exit-after-request 3", kHelperToolCancelledErr},
      {"exits 0 after the request", TOLVAN_SCRIPTED_TOOL_PATH, "exit-after-request 0", kHelperToolInternalErr},
      // The request is left unread, which Linux reports as ECONNRESET.
      {"exits 2 before reading", TOLVAN_SCRIPTED_TOOL_PATH, "exit-at-once 2", kHelperToolDeniedErr},
      {"exits 0 before reading", TOLVAN_SCRIPTED_TOOL_PATH, "exit-at-once 0", kHelperToolInternalErr},
      {"exits 7 at once", exits_seven, "", kHelperToolInternalErr},
      {"full reply, then exit 3", TOLVAN_SCRIPTED_TOOL_PATH, "reply-then 3", kHelperToolCancelledErr},
      {"full reply, then exit 7", TOLVAN_SCRIPTED_TOOL_PATH, "reply-then 7", kHelperToolInternalErr},
      {"full reply, then a signal", TOLVAN_SCRIPTED_TOOL_PATH, "reply-then-signal", kHelperToolInternalErr},
      // The reader's status, not the exit status 0 that would pass for success.
      {"unreadable reply, then exit 0", TOLVAN_SCRIPTED_TOOL_PATH, "garbage-reply", coreFoundationUnknownErr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int open_before = CountOpenDescriptors();
    CFRef<CFDictionaryRef> reply;
    EXPECT_EQ(Run(c.path, c.script, &reply), c.expected);
    EXPECT_FALSE(reply);
    EXPECT_EQ(CountOpenDescriptors(), open_before);
    EXPECT_TRUE(NoChildLeft());
  }
}

TEST_F(ExecuteRequest, AFullReplyAndExitZeroHandsOutTheReplyWithUsableDescriptors) {
  const int open_before = CountOpenDescriptors();
  CFRef<CFDictionaryRef> reply;
  ASSERT_EQ(Run(TOLVAN_SCRIPTED_TOOL_PATH, "reply-then 0", &reply), 0);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(NoChildLeft());
  EXPECT_EQ(TolvanSecGetErrorFromResponse(reply.get()), 0);
  EXPECT_EQ(CountOpenDescriptors(), open_before + 2);
  EXPECT_EQ(ListedDescriptorContents(reply.get()), "through a pipe\nin a memory file\n");
  TolvanSecCloseDescriptorArray(
      static_cast<CFArrayRef>(CFDictionaryGetValue(reply.get(), kDescriptorArrayKey)));
  EXPECT_EQ(CountOpenDescriptors(), open_before);
}

TEST_F(ExecuteRequest, TheToolReadsTheFormThenTheRequestThenTheEndOnItsOwnSocket) {
  CFRef<CFDictionaryRef> reply;
  ASSERT_EQ(Run(TOLVAN_SCRIPTED_TOOL_PATH, "echo", &reply), 0);
  ASSERT_TRUE(reply);
  AuthorizationExternalForm form;
  ASSERT_EQ(AuthorizationMakeExternalForm(authorization_, &form), 0);
  auto sent_form = CFRef<CFDataRef>::Adopt(CFDataCreate(
      kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(form.bytes), sizeof form.bytes));
  EXPECT_TRUE(CFEqual(CFDictionaryGetValue(reply.get(), CFSTR("form")), sent_form.get()));
  EXPECT_TRUE(CFEqual(CFDictionaryGetValue(reply.get(), CFSTR("request")), request_.get()));
  EXPECT_EQ(CFDictionaryGetValue(reply.get(), CFSTR("ended")), kCFBooleanTrue);
  EXPECT_EQ(CFDictionaryGetValue(reply.get(), CFSTR("sameSocket")), kCFBooleanTrue);
  int stray = -1;
  CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(reply.get(), CFSTR("strayDescriptors"))),
                   kCFNumberIntType, &stray);
  EXPECT_EQ(stray, 0) << "an end of the socket pair reached the tool";
}

TEST_F(ExecuteRequest, AToolStillWritingARefusedReplyIsNotWaitedForForever) {
  // The reader refuses the 2 MiB frame at its length word; the tool, still
  // writing, ends only once the application has closed its end.
  EXPECT_TRUE(ChildSucceeded(RunInChild(
      [&] {
        CFRef<CFDictionaryRef> reply;
        const OSStatus status = Run(TOLVAN_SCRIPTED_TOOL_PATH, "oversized-reply", &reply);
        if (status != memFullErr) return "status " + std::to_string(status);
        return std::string(reply ? "a reply was handed out" : "");
      },
      10)));
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(ExecuteRequest, AWaitInterruptedBySignalsStillReapsTheTool) {
  // The tool closes its socket at once and ends later, so the application
  // is in the wait while a timer interrupts it again and again.
  const std::string lingers = Script("lingers", "exec 0<&- 1>&-\nsleep 0.3\nexit 2");
  EXPECT_TRUE(ChildSucceeded(RunInChild([&] {
    struct sigaction interrupt = {};
    interrupt.sa_handler = [](int) {};
    sigaction(SIGALRM, &interrupt, nullptr);
    const struct itimerval every_10ms = {{0, 10000}, {0, 10000}};
    setitimer(ITIMER_REAL, &every_10ms, nullptr);
    CFRef<CFDictionaryRef> reply;
    const OSStatus status = Run(lingers, "", &reply);
    const struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    if (status != kHelperToolDeniedErr) return "status " + std::to_string(status);
    return std::string(NoChildLeft() ? "" : "the tool was not reaped");
  })));
}

TEST_F(ExecuteRequest, AnApplicationWithoutStandardInputAndOutputStillGivesTheToolBoth) {
  EXPECT_TRUE(ChildSucceeded(RunInChild([&] {
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    CFRef<CFDictionaryRef> reply;
    const OSStatus status = Run(TOLVAN_SCRIPTED_TOOL_PATH, "echo", &reply);
    if (status != 0) return "status " + std::to_string(status);
    if (CFDictionaryGetValue(reply.get(), CFSTR("sameSocket")) != kCFBooleanTrue) {
      return std::string("descriptors 0 and 1 of the tool are not its socket");
    }
    if (fcntl(STDIN_FILENO, F_GETFD) != -1 || fcntl(STDOUT_FILENO, F_GETFD) != -1) {
      return std::string("a descriptor was left at 0 or 1");
    }
    return std::string();
  })));
}

TEST_F(ExecuteRequest, AWaitThatFailsGivesItsErrnoAndReleasesTheReply) {
  // With SIGCHLD ignored the kernel reaps the tool itself, and every wait
  // ends with ECHILD.
  const struct {
    const char *what;
    const char *script;
  } cases[] = {
      {"after a full reply with descriptors", "reply-then 0"},
      {"after a tool that ended early", "exit-after-request 2"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(ChildSucceeded(RunInChild([&] {
      signal(SIGCHLD, SIG_IGN);
      const int open_before = CountOpenDescriptors();
      CFRef<CFDictionaryRef> reply;
      const OSStatus status = Run(TOLVAN_SCRIPTED_TOOL_PATH, c.script, &reply);
      std::string report;
      if (status != ECHILD) report += "status " + std::to_string(status) + "\n";
      if (reply) report += "a reply was handed out\n";
      if (CountOpenDescriptors() != open_before) report += "descriptors left open\n";
      return report;
    })));
  }
}

TEST_F(ExecuteRequest, RefusedArgumentsStartNothing) {
  const std::string marker = folder_ + "/started";
  const std::string marks = Script("marks", ": > '" + marker + "'");
  auto url = URLOf(marks);
  const std::string long_path = "/" + std::string(1100, 'a');
  auto long_url = URLOf(long_path);
  ASSERT_TRUE(long_url);
  CFDictionaryRef already_set = request_.get();
  CFDictionaryRef unset = nullptr;
  const struct {
    const char *what;
    CFURLRef url;
    AuthorizationRef authorization;
    CFDictionaryRef request;
    CFDictionaryRef *response;
    OSStatus expected;
  } cases[] = {
      {"a path longer than the path buffer", long_url.get(), authorization_, request_.get(), &unset,
       coreFoundationUnknownErr},
      {"a response already set", url.get(), authorization_, request_.get(), &already_set, paramErr},
      {"no response pointer", url.get(), authorization_, request_.get(), nullptr, paramErr},
      {"no URL", nullptr, authorization_, request_.get(), &unset, paramErr},
      {"no request", url.get(), authorization_, nullptr, &unset, paramErr},
      {"no authorization", url.get(), nullptr, request_.get(), &unset, errAuthorizationInvalidRef},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int open_before = CountOpenDescriptors();
    CFDictionaryRef *response = c.response;
    const CFDictionaryRef on_entry = response != nullptr ? *response : nullptr;
    EXPECT_EQ(TolvanSecExecuteRequestInHelperTool(c.url, c.authorization, c.request, response), c.expected);
    if (response != nullptr) {
      EXPECT_EQ(*response, on_entry);
    }
    EXPECT_EQ(CountOpenDescriptors(), open_before);
    EXPECT_TRUE(NoChildLeft());
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the tool was started";
  }
  // The script does mark when it runs, so the cases above prove something.
  CFRef<CFDictionaryRef> reply;
  EXPECT_EQ(Run(marks, "", &reply), kHelperToolInternalErr);
  EXPECT_EQ(access(marker.c_str(), F_OK), 0);
}

TEST_F(ExecuteRequest, TheInstalledToolSavesARealRequest) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: installs the set-user-ID tool";
  AuthorizationSetupLock setup_lock;
  StoreLock store_lock;
  ASSERT_TRUE(EnsureSystemRootMachineID());
  const std::string tool = InstallHelperTool("tolvan-helper-execute-request-test");
  ASSERT_FALSE(tool.empty());
  request_ = RichRequest("execute.request.test." + std::to_string(getpid()));
  CFRef<CFDictionaryRef> reply;
  ASSERT_EQ(Run(tool, "", &reply), 0);
  ASSERT_TRUE(reply);
  EXPECT_EQ(TolvanSecGetErrorFromResponse(reply.get()), 0);
  EXPECT_EQ(StoreMismatches(request_.get()), "");
  EXPECT_TRUE(NoChildLeft());
}

}  // namespace
}  // namespace tolvan::test
