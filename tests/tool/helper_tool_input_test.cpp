// The installed set-user-ID tool fed bad invocations and hostile input by
// an application running as a throwaway user: a clean exit status, no
// reply, nothing written to the store, no core dump, and for a bad
// invocation not a byte read.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tool/tool_test_support.hpp"

namespace tolvan::test {
namespace {

constexpr int kTimeoutSeconds = 60;

// Every file of the store's folder with its content.
std::string StoreSnapshot() {
  const std::string folder = SystemRootPath("var/lib/tolvan/preferences/ByHost");
  std::string snapshot;
  if (DIR *dir = opendir(folder.c_str())) {
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) snapshot += name + "\n" + ReadWholeFile(folder + "/" + name);
  }
  return snapshot;
}

std::string NestedArrays(size_t bytes) {
  std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  while (document.size() + 8 < bytes) document += "<array>";
  return document;
}

class HelperToolInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: installs a set-user-ID tool and creates users";
    ASSERT_TRUE(EnsureSystemRootMachineID());
    tool_ = InstallHelperTool("tolvan-helper-input-test");
    ASSERT_FALSE(tool_.empty());
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvti"), "input user password", "",
                                  &user_));
  }

  // Runs one exchange from an application process of the user, in a session
  // without a terminal, and checks it in that process.
  std::string RunAsUser(const ToolLaunch &launch, int expected_exit, const OSStatus *expected_reply,
                        bool expect_nothing_read) {
    ChildOutcome outcome = RunInChild(
        [&] {
          setsid();
          if (!BecomeUser(user_, false)) return std::string("cannot become the user\n");
          std::string report;
          Exchange exchange = RunExchange(launch, &report);
          report += CheckExchange(exchange, expected_exit, expected_reply);
          if (expect_nothing_read && !exchange.read_nothing) report += "the tool read its input\n";
          return report;
        },
        kTimeoutSeconds);
    return (outcome.finished ? "" : "application: " + outcome.failure + "\n") + outcome.report;
  }

  ToolLaunch Launch() const {
    ToolLaunch launch;
    launch.tool = tool_;
    launch.frame = FrameOf(DictionaryOf({{CFSTR("input.test.key"), CFSTR("value")}}).get());
    return launch;
  }

  // In this order in every test, so that two tests never wait for each other.
  AuthorizationSetupLock setup_lock_;
  StoreLock store_lock_;
  ThrowawayAccounts accounts_;
  std::string tool_;
  ThrowawayUser user_;
};

TEST_F(HelperToolInput, ABadInvocationReadsNothingAndExitsWithOne) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"}, {"--self-repair", "extra"}, {"a", "b"}, {""}, {"--self-repair=yes"}};
  for (const auto &arguments : cases) {
    ToolLaunch launch = Launch();
    launch.arguments = arguments;
    launch.pipe_input = true;
    EXPECT_EQ(RunAsUser(launch, 1, nullptr, true), "") << arguments.front();
  }
}

// Started by a user, not by a privileged launch: no reference, so the copy
// repairs nothing and reads nothing.
TEST_F(HelperToolInput, SelfRepairModeStartedByAUserReadsNothingAndExitsWithOne) {
  ToolLaunch launch = Launch();
  launch.arguments = {"--self-repair"};
  launch.pipe_input = true;
  EXPECT_EQ(RunAsUser(launch, 1, nullptr, true), "");
}

// An empty argument vector must never let the environment pose as
// arguments. Since Linux 5.18 the kernel hands the program argv = {""}, which
// is the normal mode; older kernels start it with argc 0, which is refused.
TEST_F(HelperToolInput, AnEmptyArgumentVectorIsNeverReadAsTheSelfRepairMode) {
  ASSERT_TRUE(WriteTestPamService());
  ToolLaunch launch = Launch();
  launch.empty_argument_vector = true;
  launch.environment = {"--self-repair", "x"};
  const OSStatus denied = errAuthorizationDenied;
  const std::string as_normal_mode = RunAsUser(launch, 0, &denied, false);
  launch.pipe_input = true;
  const std::string refused = RunAsUser(launch, 1, nullptr, true);
  EXPECT_TRUE(as_normal_mode.empty() || refused.empty()) << as_normal_mode << refused;
}

TEST_F(HelperToolInput, HostileInputEndsTheRunCleanlyWithoutAReplyOrAWrite) {
  std::string form_of_zeros(32, '\0');
  const std::string not_a_dictionary =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array/></plist>\n";
  const std::string with_entity =
      "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY e \"x\">]><plist "
      "version=\"1.0\"><dict><key>k</key><string>&e;</string></dict></plist>";
  const std::string bad_utf8 =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key><string>\xC3\x28"
      "</string></dict></plist>";
  const std::string nested = NestedArrays(1 << 20);
  const struct {
    const char *name;
    bool with_form;  // the application's own form first, then these bytes
    std::string bytes;
  } cases[] = {
      {"a truncated external form", false, std::string(10, 'x')},
      {"no external form at all", false, ""},
      {"a forged external form", false, form_of_zeros + FrameOf(DictionaryOf({}).get())},
      {"a zero-length frame", true, RawFrame("", 0)},
      {"a frame announcing 1 MiB and sending less", true, RawFrame("<?xml", 1 << 20)},
      {"a frame over 1 MiB", true, RawFrame("", (1 << 20) + 1)},
      {"a negative frame length", true, RawFrame("", 0xFFFFFFFF)},
      {"end of input inside the length word", true, std::string("\0\0", 2)},
      {"1 MiB of nested arrays", true, RawFrame(nested, uint32_t(nested.size()))},
      {"a frame that is not a dictionary", true, RawFrame(not_a_dictionary, uint32_t(not_a_dictionary.size()))},
      {"an entity declaration", true, RawFrame(with_entity, uint32_t(with_entity.size()))},
      {"invalid UTF-8", true, RawFrame(bad_utf8, uint32_t(bad_utf8.size()))},
      {"garbage", true, RawFrame("\x7f" "ELF garbage \x01\x02", 17)},
  };
  const std::string before = StoreSnapshot();
  for (const auto &c : cases) {
    ToolLaunch launch = Launch();
    if (c.with_form) {
      launch.frame = c.bytes;
    } else {
      launch.raw = true;
      launch.raw_input = c.bytes;
    }
    EXPECT_EQ(RunAsUser(launch, 4, nullptr, false), "") << c.name;
  }
  EXPECT_EQ(StoreSnapshot(), before);
  struct stat core;
  EXPECT_NE(stat("/core", &core), 0) << "a core file was written";
}

// Started with its standard error closed, the tool must not let the next
// file it opens take descriptor 2.
TEST_F(HelperToolInput, AClosedStandardDescriptorDoesNotBecomeAFileTheToolOpens) {
  ASSERT_TRUE(WriteTestPamService());
  ToolLaunch launch = Launch();
  launch.before_exec = [] { close(2); };
  const OSStatus denied = errAuthorizationDenied;
  const std::string before = StoreSnapshot();
  EXPECT_EQ(RunAsUser(launch, 0, &denied, false), "");
  EXPECT_EQ(StoreSnapshot(), before);
}

}  // namespace
}  // namespace tolvan::test
