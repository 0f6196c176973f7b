// The preference command run in-process: what it writes, what it refuses,
// and what it leaves of the process's identity.
#include "tool/perform_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "sec/reserved_keys.h"
#include "tests/tool/tool_test_support.hpp"

namespace tolvan::test {
namespace {

constexpr int kTimeoutSeconds = 60;

std::string Ids() {
  uid_t real, effective, saved;
  getresuid(&real, &effective, &saved);
  return std::to_string(real) + "/" + std::to_string(effective) + "/" + std::to_string(saved);
}

class PerformCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: writes the machine-wide store";
    ASSERT_TRUE(EnsureSystemRootMachineID());
  }

  std::string Tag(const char *name) const {
    return std::string("command.") + name + "." + std::to_string(getpid());
  }

  OSStatus Perform(CFDictionaryRef request) {
    AuthorizationRef authorization = nullptr;
    EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &authorization), 0);
    CFDictionaryRef response = nullptr;
    OSStatus status = PerformCommand(authorization, request, &response);
    EXPECT_EQ(response, nullptr);
    AuthorizationFree(authorization, kAuthorizationFlagDefaults);
    return status;
  }

  // In this order in every test, so that two tests never wait for each other.
  AuthorizationSetupLock setup_lock_;
  StoreLock store_lock_;
};

// Root is granted the right at once.
TEST_F(PerformCommandTest, WritesEveryPairUnchangedReservedKeysIncluded) {
  auto rich = RichRequest(Tag("rich"));
  auto request = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, rich.get()));
  // Their names mean something on the channel, nothing to the command.
  int value = 5;
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &value));
  CFDictionarySetValue(request.get(), kErrorNumberKey, number.get());
  CFDictionarySetValue(request.get(), kDescriptorArrayKey, CFSTR("not descriptors"));
  EXPECT_EQ(Perform(request.get()), 0);
  EXPECT_EQ(StoreMismatches(request.get()), "");
}

TEST_F(PerformCommandTest, AnEmptyRequestStillSavesTheStore) {
  EXPECT_EQ(Perform(DictionaryOf({}).get()), 0);
  auto keys = CFRef<CFArrayRef>::Adopt(
      CFPreferencesCopyKeyList(kProductPreferencesID, kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
  EXPECT_TRUE(keys);
}

TEST_F(PerformCommandTest, AKeyThatIsNotAStringRefusesTheWholeRequest) {
  int key_value = 7;
  auto number_key = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &key_value));
  auto request = DictionaryOf({{String(Tag("fine")).get(), CFSTR("value")}, {number_key.get(), CFSTR("value")}});
  EXPECT_EQ(Perform(request.get()), paramErr);
  EXPECT_EQ(StoreMismatches(DictionaryOf({{String(Tag("fine")).get(), CFSTR("value")}}).get(), false), "");
}

// A set-user-ID identity, started by a user outside the admin group.
TEST_F(PerformCommandTest, ARefusedRightLeavesTheIdentityAsItWas) {
  ASSERT_TRUE(WriteTestPamService());
  ThrowawayAccounts accounts;
  ThrowawayUser user;
  ASSERT_TRUE(accounts.AddUser(ThrowawayAccounts::UniqueName("tvtc"), "command password", "", &user));
  auto request = DictionaryOf({{String(Tag("refused")).get(), CFSTR("value")}});
  EXPECT_TRUE(ChildSucceeded(RunInChild([&] {
    setsid();
    if (!BecomeUser(user, true)) return std::string("cannot become the user\n");
    const std::string before = Ids();
    std::string report;
    OSStatus status = Perform(request.get());
    if (status != errAuthorizationDenied) report += "status " + std::to_string(status) + "\n";
    if (Ids() != before) report += "identity changed to " + Ids() + "\n";
    if (seteuid(0) != 0) report += "root is gone\n";
    return report;
  })));
  EXPECT_EQ(StoreMismatches(request.get(), false), "");
}

// An administrator authenticates at a terminal; afterwards the process has
// given up root for good, also when the save fails.
TEST_F(PerformCommandTest, PastTheRightTheProcessGivesUpRootForGood) {
  ASSERT_TRUE(WriteTestPamService());
  ThrowawayAccounts accounts;
  const std::string group = ThrowawayAccounts::UniqueName("tvtcadm");
  ASSERT_TRUE(accounts.AddGroup(group));
  ThrowawayUser admin;
  ASSERT_TRUE(accounts.AddUser(ThrowawayAccounts::UniqueName("tvtca"), "admin password", group, &admin));
  ASSERT_TRUE(WriteAuthorizationPolicy("admin-group = " + group + "\n"));
  const std::string folder = SystemRootPath("var/lib/tolvan/preferences/ByHost");
  for (bool save_fails : {false, true}) {
    // A folder others may write to is refused by the store.
    if (save_fails) {
      ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    }
    PasswordTerminal terminal({admin.password});
    ASSERT_TRUE(terminal.ok());
    auto request = DictionaryOf({{String(Tag(save_fails ? "unsaved" : "saved")).get(), CFSTR("value")}});
    ChildOutcome outcome = RunInChild(
        [&] {
          if (!terminal.TakeAsControllingTerminal(admin.uid)) return std::string("no terminal\n");
          if (!BecomeUser(admin, true)) return std::string("cannot become the user\n");
          std::string report;
          OSStatus status = Perform(request.get());
          if (status != (save_fails ? 1 : 0)) report += "status " + std::to_string(status) + "\n";
          const std::string user = std::to_string(admin.uid);
          if (Ids() != user + "/" + user + "/" + user) report += "identity " + Ids() + "\n";
          if (seteuid(0) == 0 || errno != EPERM) report += "root can be taken back\n";
          return report;
        },
        kTimeoutSeconds, [&terminal] { terminal.Serve(); });
    if (save_fails) chmod(folder.c_str(), 0755);
    EXPECT_TRUE(outcome.finished) << outcome.failure;
    EXPECT_EQ(outcome.report, "") << terminal.transcript();
    EXPECT_EQ(StoreMismatches(request.get(), !save_fails), "");
  }
}

}  // namespace
}  // namespace tolvan::test
