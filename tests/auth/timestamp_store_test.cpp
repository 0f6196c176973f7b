// The timestamp files on disk, in a private system root: what is written
// where with which owner and mode, and that planted links, foreign owners,
// loose modes and damaged files never grant and are never followed.
#include "platform/auth/timestamp_store.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/authorization_accounts.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::auth {
namespace {

constexpr uint64_t kSecond = 1'000'000'000;

std::string Content(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class TimestampStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the timestamp store belongs to root";
    root_ = std::string(TOLVAN_BUILD_DIR) + "/timestamp-store-test-" + std::to_string(getpid());
    test::RunProgram({"rm", "-rf", root_});
    ASSERT_EQ(mkdir(root_.c_str(), 0755), 0);
    rootFd_ = UniqueFd(open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(rootFd_);
    scope_.uid = 4000000000u;
    scope_.terminal = 34816;
    scope_.session = 777;
    scope_.leaderStartTime = 5555;
    scope_.bootId.bytes[0] = 1;
  }
  void TearDown() override {
    if (!root_.empty()) test::RunProgram({"rm", "-rf", root_});
  }

  std::string Folder() const { return root_ + "/run/tolvan/timestamps"; }
  std::string File() const { return Folder() + "/" + std::to_string(scope_.uid); }
  bool Grants(uint64_t now) const { return TimestampGrants(rootFd_.get(), scope_, now); }
  void Remember(uint64_t now) const { RememberGrant(rootFd_.get(), scope_, now); }

  std::string root_;
  UniqueFd rootFd_;
  SessionScope scope_;
};

TEST_F(TimestampStore, RemembersPrivatelyForTheScopeAndForgets) {
  EXPECT_FALSE(Grants(10 * kSecond)) << "nothing remembered yet";
  Remember(10 * kSecond);
  EXPECT_TRUE(Grants(11 * kSecond));

  struct stat folder, file;
  ASSERT_EQ(lstat(Folder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0700u);
  EXPECT_EQ(folder.st_uid, 0u);
  EXPECT_EQ(folder.st_gid, 0u);
  ASSERT_EQ(lstat(File().c_str(), &file), 0);
  EXPECT_TRUE(S_ISREG(file.st_mode));
  EXPECT_EQ(file.st_mode & 077, 0u);
  EXPECT_EQ(file.st_uid, 0u);
  EXPECT_EQ(file.st_size, static_cast<off_t>(kTimestampRecordSize));

  SessionScope otherTerminal = scope_;
  otherTerminal.terminal += 1;
  EXPECT_FALSE(TimestampGrants(rootFd_.get(), otherTerminal, 11 * kSecond));
  Remember(12 * kSecond);
  EXPECT_EQ(lstat(File().c_str(), &file), 0);
  EXPECT_EQ(file.st_size, static_cast<off_t>(kTimestampRecordSize))
      << "a scope keeps one record, renewed in place";

  ForgetGrant(rootFd_.get(), scope_);
  EXPECT_FALSE(Grants(13 * kSecond));
}

TEST_F(TimestampStore, KeepsABoundedNumberOfRecordsPerUser) {
  for (unsigned i = 0; i < 3 * kTimestampRecordsPerUser; ++i) {
    scope_.session = static_cast<pid_t>(1000 + i);
    Remember((100 + i) * kSecond);
    EXPECT_TRUE(Grants((100 + i) * kSecond)) << i;
  }
  struct stat file;
  ASSERT_EQ(lstat(File().c_str(), &file), 0);
  EXPECT_EQ(file.st_size, static_cast<off_t>(kTimestampRecordsPerUser * kTimestampRecordSize));
}

TEST_F(TimestampStore, ADamagedFileGrantsNothingAndIsRewritten) {
  Remember(10 * kSecond);
  {
    std::ofstream grow(File(), std::ios::app | std::ios::binary);
    grow << 'x';
  }
  EXPECT_FALSE(Grants(11 * kSecond)) << "a file that is not whole records";
  Remember(12 * kSecond);
  EXPECT_TRUE(Grants(13 * kSecond));
  struct stat file;
  ASSERT_EQ(lstat(File().c_str(), &file), 0);
  EXPECT_EQ(file.st_size, static_cast<off_t>(kTimestampRecordSize));
}

TEST_F(TimestampStore, UntrustedFilesAndFoldersAreNeitherBelievedNorWritten) {
  struct Case {
    const char *what;
    void (*spoil)(const std::string &folder, const std::string &file);
  };
  const Case cases[] = {
      {"file owned by a user", [](const std::string &, const std::string &file) {
         ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
       }},
      {"file readable by others", [](const std::string &, const std::string &file) {
         ASSERT_EQ(chmod(file.c_str(), 0644), 0);
       }},
      {"file with a second link", [](const std::string &folder, const std::string &file) {
         ASSERT_EQ(link(file.c_str(), (folder + "/second").c_str()), 0);
       }},
      {"folder open to others", [](const std::string &folder, const std::string &) {
         ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
       }},
      {"folder owned by a user", [](const std::string &folder, const std::string &) {
         ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
       }},
  };
  for (const Case &c : cases) {
    test::RunProgram({"rm", "-rf", root_ + "/run"});
    Remember(10 * kSecond);
    ASSERT_TRUE(Grants(11 * kSecond)) << c.what;
    c.spoil(Folder(), File());
    EXPECT_FALSE(Grants(11 * kSecond)) << c.what;
    const std::string before = Content(File());
    Remember(20 * kSecond);
    EXPECT_EQ(Content(File()), before) << c.what << ": written to";
    EXPECT_FALSE(Grants(21 * kSecond)) << c.what;
  }
}

TEST_F(TimestampStore, APlantedLinkIsNotFollowed) {
  Remember(10 * kSecond);
  const std::string target = root_ + "/target";
  {
    std::ofstream file(target);
    file << "untouched";
  }
  ASSERT_EQ(unlink(File().c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), File().c_str()), 0);
  EXPECT_FALSE(Grants(11 * kSecond));
  Remember(12 * kSecond);
  EXPECT_EQ(Content(target), "untouched");
  struct stat link;
  ASSERT_EQ(lstat(File().c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));

  // A link in place of a folder of the chain.
  test::RunProgram({"rm", "-rf", root_ + "/run"});
  ASSERT_EQ(mkdir((root_ + "/elsewhere").c_str(), 0700), 0);
  ASSERT_EQ(symlink((root_ + "/elsewhere").c_str(), (root_ + "/run").c_str()), 0);
  Remember(13 * kSecond);
  EXPECT_FALSE(Grants(14 * kSecond));
  struct stat inside;
  EXPECT_NE(lstat((root_ + "/elsewhere/tolvan").c_str(), &inside), 0)
      << "the store followed a link";
}

}  // namespace
}  // namespace tolvan::auth
