// The installed set-user-ID tool, driven by an application running as a
// throwaway user, with real PAM authentication at a pseudo-terminal or
// through an authentication agent.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/tool/tool_test_support.hpp"

namespace tolvan::test {
namespace {

constexpr OSStatus kGranted = 0;
constexpr OSStatus kDenied = errAuthorizationDenied;
constexpr OSStatus kCancelled = errAuthorizationCanceled;

class HelperToolAuthorization : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: installs a set-user-ID tool and creates users";
    ASSERT_TRUE(setup_lock_.held());
    ASSERT_TRUE(EnsureSystemRootMachineID());
    tool_ = InstallHelperTool("tolvan-helper-authorization-test");
    ASSERT_FALSE(tool_.empty());
    group_ = ThrowawayAccounts::UniqueName("tvtadm");
    ASSERT_TRUE(accounts_.AddGroup(group_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvta"), "right horse battery",
                                  group_, &admin_));
    ASSERT_TRUE(accounts_.AddUser(ThrowawayAccounts::UniqueName("tvtu"), "plain user password", "",
                                  &user_));
    ASSERT_TRUE(WriteTestPamService());
    ASSERT_TRUE(WriteAuthorizationPolicy("admin-group = " + group_ + "\n"));
  }

  // Runs requests one after another from one application process of user,
  // in a session of its own on terminal, and checks each exchange.
  struct Step {
    CFRef<CFDictionaryRef> request;
    OSStatus expected_reply;
  };
  std::string RunSession(const ThrowawayUser &user, PasswordTerminal *terminal,
                         const std::vector<Step> &steps) {
    return RunApplicationAs(user, terminal, [&] {
      std::string report;
      for (const Step &step : steps) {
        ToolLaunch launch;
        launch.tool = tool_;
        launch.frame = FrameOf(step.request.get());
        Exchange exchange = RunExchange(launch, &report);
        report += CheckExchange(exchange, 0, &step.expected_reply);
      }
      return report;
    });
  }

  std::string Tag(const char *name) const { return std::string("e2e.") + name + "." + std::to_string(getpid()); }

  AuthorizationSetupLock setup_lock_;
  StoreLock store_lock_;
  ThrowawayAccounts accounts_;
  std::string tool_;
  std::string group_;
  ThrowawayUser admin_;
  ThrowawayUser user_;
};

TEST_F(HelperToolAuthorization, AnAdministratorWhoTypesThePasswordGetsThePairsSavedAndIsAskedOnce) {
  PasswordTerminal terminal({admin_.password});
  ASSERT_TRUE(terminal.ok());
  auto first = RichRequest(Tag("first"));
  auto second = RichRequest(Tag("second"));
  EXPECT_EQ(RunSession(admin_, &terminal, {{first, kGranted}, {second, kGranted}}), "")
      << terminal.transcript();
  EXPECT_EQ(terminal.prompts(), 1u) << terminal.transcript();
  EXPECT_EQ(StoreMismatches(first.get()), "");
  EXPECT_EQ(StoreMismatches(second.get()), "");
}

TEST_F(HelperToolAuthorization, ThreeWrongPasswordsAreDeniedAndNothingIsWritten) {
  PasswordTerminal terminal({"wrong", "also wrong", admin_.password + "x"});
  ASSERT_TRUE(terminal.ok());
  auto request = RichRequest(Tag("wrong"));
  EXPECT_EQ(RunSession(admin_, &terminal, {{request, kDenied}}), "") << terminal.transcript();
  EXPECT_EQ(terminal.prompts(), 3u) << terminal.transcript();
  EXPECT_EQ(StoreMismatches(request.get(), false), "");
}

TEST_F(HelperToolAuthorization, AUserOutsideTheAdminGroupIsDeniedEvenWithTheirOwnPassword) {
  PasswordTerminal terminal({user_.password});
  ASSERT_TRUE(terminal.ok());
  auto request = RichRequest(Tag("nonadmin"));
  EXPECT_EQ(RunSession(user_, &terminal, {{request, kDenied}}), "") << terminal.transcript();
  EXPECT_EQ(StoreMismatches(request.get(), false), "");
}

TEST_F(HelperToolAuthorization, AnAgentThatCancelsGivesCancelledAndNothingIsWritten) {
  const std::string agent = SystemRootPath("usr/libexec/tolvan-test/cancelling-agent");
  ASSERT_TRUE(WriteRootOwnedFile(agent, "#!/bin/sh\nexit 1\n", 0755));
  ASSERT_TRUE(WriteAuthorizationPolicy("admin-group = " + group_ + "\nagent = " + agent + "\n"));
  auto request = RichRequest(Tag("cancel"));
  EXPECT_EQ(RunSession(admin_, nullptr, {{request, kCancelled}}), "");
  EXPECT_EQ(StoreMismatches(request.get(), false), "");
}

// Without a terminal or an agent no one can be asked.
TEST_F(HelperToolAuthorization, WithNoWayToAskTheRightIsDenied) {
  auto request = RichRequest(Tag("noway"));
  EXPECT_EQ(RunSession(admin_, nullptr, {{request, kDenied}}), "");
  EXPECT_EQ(StoreMismatches(request.get(), false), "");
}

}  // namespace
}  // namespace tolvan::test
