// AuthorizationCopyRights as an interface: argument checks, the set of
// granted rights handed back, partial rights, and the two judgements that
// need no person: a root real user is granted at once, a process without
// root at hand is granted nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/auth/authorization.h"
#include "tests/support/child_process.hpp"

namespace {

class CopyRights : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref_), 0);
  }
  void TearDown() override {
    if (ref_ != nullptr) AuthorizationFree(ref_, kAuthorizationFlagDefaults);
  }

  OSStatus Ask(std::initializer_list<const char *> names, AuthorizationFlags flags,
               AuthorizationRights **granted = nullptr) {
    AuthorizationItem items[8] = {};
    uint32_t count = 0;
    for (const char *name : names) items[count++] = {name, 0, nullptr, 0};
    AuthorizationRights rights = {count, items};
    return AuthorizationCopyRights(ref_, &rights, nullptr, flags, granted);
  }

  AuthorizationRef ref_ = nullptr;
};

TEST_F(CopyRights, RefusesMalformedRequests) {
  AuthorizationRights noItems = {1, nullptr};
  AuthorizationItem unnamed = {nullptr, 0, nullptr, 0};
  AuthorizationRights unnamedSet = {1, &unnamed};
  AuthorizationRights *granted = reinterpret_cast<AuthorizationRights *>(&granted);
  EXPECT_EQ(AuthorizationCopyRights(ref_, nullptr, nullptr, 0, &granted),
            errAuthorizationInvalidSet);
  EXPECT_EQ(granted, nullptr) << "the out-pointer is cleared on every failure";
  EXPECT_EQ(AuthorizationCopyRights(ref_, &noItems, nullptr, 0, nullptr),
            errAuthorizationInvalidSet);
  EXPECT_EQ(AuthorizationCopyRights(ref_, &unnamedSet, nullptr, 0, nullptr),
            errAuthorizationInvalidSet);
  EXPECT_EQ(Ask({kAuthorizationRightExecute}, 0x40), errAuthorizationInvalidFlags);
  AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
  AuthorizationRights rights = {1, &item};
  EXPECT_EQ(AuthorizationCopyRights(nullptr, &rights, nullptr, 0, nullptr),
            errAuthorizationInvalidRef);
  EXPECT_EQ(AuthorizationFreeItemSet(nullptr), errAuthorizationInvalidSet);
}

TEST_F(CopyRights, AnEmptyRequestAsksNothingAndSucceeds) {
  AuthorizationRights *granted = nullptr;
  EXPECT_EQ(Ask({}, kAuthorizationFlagExtendRights, &granted), 0);
  ASSERT_NE(granted, nullptr);
  EXPECT_EQ(granted->count, 0u);
  EXPECT_EQ(AuthorizationFreeItemSet(granted), 0);
}

TEST_F(CopyRights, RootIsGrantedTheAdminRightAtOnceAndNothingElse) {
  if (getuid() != 0) GTEST_SKIP() << "needs a root real user";
  const AuthorizationFlags flags = kAuthorizationFlagExtendRights;
  AuthorizationRights *granted = nullptr;
  ASSERT_EQ(Ask({kAuthorizationRightExecute}, flags, &granted), 0);
  ASSERT_NE(granted, nullptr);
  ASSERT_EQ(granted->count, 1u);
  EXPECT_STREQ(granted->items[0].name, kAuthorizationRightExecute);
  EXPECT_EQ(AuthorizationFreeItemSet(granted), 0);

  EXPECT_EQ(Ask({"system.unknown.right"}, flags), errAuthorizationDenied);
  EXPECT_EQ(Ask({kAuthorizationRightExecute, "system.unknown.right"}, flags),
            errAuthorizationDenied);

  ASSERT_EQ(Ask({"system.unknown.right", kAuthorizationRightExecute, "other"},
                flags | kAuthorizationFlagPartialRights, &granted),
            0);
  ASSERT_NE(granted, nullptr);
  ASSERT_EQ(granted->count, 1u) << "only the granted right is listed";
  EXPECT_STREQ(granted->items[0].name, kAuthorizationRightExecute);
  EXPECT_EQ(AuthorizationFreeItemSet(granted), 0);
}

TEST_F(CopyRights, CreateWithRightsJudgesThemAtOnce) {
  if (getuid() != 0) GTEST_SKIP() << "needs a root real user";
  AuthorizationItem item = {"system.unknown.right", 0, nullptr, 0};
  AuthorizationRights rights = {1, &item};
  AuthorizationRef made = reinterpret_cast<AuthorizationRef>(&made);
  EXPECT_EQ(AuthorizationCreate(&rights, nullptr, kAuthorizationFlagExtendRights, &made),
            errAuthorizationDenied);
  EXPECT_EQ(made, nullptr);
  item.name = kAuthorizationRightExecute;
  ASSERT_EQ(AuthorizationCreate(&rights, nullptr, kAuthorizationFlagExtendRights, &made), 0);
  EXPECT_EQ(AuthorizationFree(made, kAuthorizationFlagDefaults), 0);
}

// A process of an ordinary user that has no set-user-ID root to fall back
// on can neither read timestamps nor run PAM as root: nothing is granted.
TEST(CopyRightsWithoutRoot, GrantsNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become an ordinary user";
  EXPECT_TRUE(tolvan::test::ChildSucceeded(tolvan::test::RunInChild([]() -> std::string {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
      return "could not become nobody";
    }
    AuthorizationRef ref = nullptr;
    if (AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref) != 0) {
      return "no reference";
    }
    AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights rights = {1, &item};
    OSStatus status = AuthorizationCopyRights(
        ref, &rights, nullptr,
        kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights, nullptr);
    AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
    return status == errAuthorizationDenied ? "" : "status " + std::to_string(status);
  })));
}

}  // namespace
