#include "sec/euid.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/child_process.hpp"

namespace {

using tolvan::test::ChildSucceeded;
using tolvan::test::RunInChild;

constexpr uid_t kUser = 65534;

std::string Ids() {
  uid_t real, effective, saved;
  getresuid(&real, &effective, &saved);
  return std::to_string(real) + "/" + std::to_string(effective) + "/" + std::to_string(saved);
}

std::string Expect(const char *step, OSStatus status, OSStatus expected_status,
                   const std::string &expected_ids) {
  std::string report;
  if (status != expected_status)
    report += std::string(step) + ": status " + std::to_string(status) + "\n";
  if (Ids() != expected_ids) report += std::string(step) + ": ids " + Ids() + "\n";
  return report;
}

// The identity of a set-user-ID root program started by kUser: real user
// kUser, effective and saved 0.
TEST(Euid, TemporaryLoweringCanBeUndoneAndPermanentLoweringCannot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to take a set-user-ID identity";
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    if (setresuid(kUser, 0, 0) != 0) return std::string("setresuid failed");
    const std::string user = std::to_string(kUser);
    std::string report;
    report += Expect("temporarily", TolvanSecTemporarilySetNonPrivilegedEUID(), 0,
                     user + "/" + user + "/0");
    report += Expect("privileged", TolvanSecSetPrivilegedEUID(), 0, user + "/0/0");
    report += Expect("permanently", TolvanSecPermanentlySetNonPrivilegedEUID(), 0,
                     user + "/" + user + "/" + user);
    report += Expect("privileged again", TolvanSecSetPrivilegedEUID(), EPERM,
                     user + "/" + user + "/" + user);
    return report;
  })));
}

// Made with the effective user ID already lowered, the permanent lowering
// keeps the saved ID: it is only permanent when made as root.
TEST(Euid, PermanentLoweringWithoutRootKeepsTheSavedID) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to take a set-user-ID identity";
  EXPECT_TRUE(ChildSucceeded(RunInChild([] {
    if (setresuid(kUser, kUser, 0) != 0) return std::string("setresuid failed");
    const std::string user = std::to_string(kUser);
    std::string report;
    report += Expect("permanently", TolvanSecPermanentlySetNonPrivilegedEUID(), 0,
                     user + "/" + user + "/0");
    report += Expect("privileged", TolvanSecSetPrivilegedEUID(), 0, user + "/0/0");
    return report;
  })));
}

}  // namespace
