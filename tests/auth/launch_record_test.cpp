// Launch records: their layout, and the privileged reference a process gets
// from one. The store is the test system root's, written here as root for
// the test process itself, so every field of a record can be made wrong.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/auth/authorization.h"
#include "platform/auth/launch_record.hpp"
#include "platform/auth/launch_record_store.hpp"
#include "platform/auth/process_identity.hpp"
#include "platform/auth/trusted_path.hpp"
#include "tests/support/authorization_accounts.hpp"
#include "tests/support/child_process.hpp"

namespace tolvan::auth {
namespace {

LaunchRecord SampleRecord() {
  LaunchRecord record;
  record.pid = 4242;
  record.uid = 1001;
  record.startTime = 0x0102030405060708;
  record.device = 0x1122334455667788;
  record.inode = 0x99aabbccddeeff00;
  return record;
}

TEST(LaunchRecordLayout, DecodesWhatWasEncodedAndNothingElse) {
  unsigned char good[kLaunchRecordSize];
  EncodeLaunchRecord(SampleRecord(), good);
  LaunchRecord decoded;
  ASSERT_TRUE(DecodeLaunchRecord(good, sizeof good, &decoded));
  EXPECT_TRUE(SameLaunch(decoded, SampleRecord()));

  struct Case {
    const char *name;
    size_t offset;
    unsigned char value;
    size_t length;
  };
  const Case cases[] = {
      {"short by one", 0, 'T', kLaunchRecordSize - 1},
      {"long by one", 0, 'T', kLaunchRecordSize + 1},
      {"magic", 2, 'X', kLaunchRecordSize},
      {"version", 4, 2, kLaunchRecordSize},
      {"reserved", 7, 1, kLaunchRecordSize},
      {"pid above INT32_MAX", 11, 0x80, kLaunchRecordSize},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char bytes[kLaunchRecordSize + 1] = {};
    std::memcpy(bytes, good, sizeof good);
    bytes[c.offset] = c.value;
    EXPECT_FALSE(DecodeLaunchRecord(bytes, c.length, &decoded));
  }
  LaunchRecord noPid = SampleRecord();
  noPid.pid = 0;
  unsigned char bytes[kLaunchRecordSize];
  EncodeLaunchRecord(noPid, bytes);
  EXPECT_FALSE(DecodeLaunchRecord(bytes, sizeof bytes, &decoded));
}

TEST(LaunchRecordLayout, EveryFieldTellsLaunchesApart) {
  const LaunchRecord base = SampleRecord();
  const std::function<void(LaunchRecord *)> changes[] = {
      [](LaunchRecord *r) { r->pid += 1; },    [](LaunchRecord *r) { r->uid += 1; },
      [](LaunchRecord *r) { r->startTime += 1; }, [](LaunchRecord *r) { r->device ^= 1; },
      [](LaunchRecord *r) { r->inode ^= 1; },
  };
  for (const auto &change : changes) {
    LaunchRecord other = base;
    change(&other);
    EXPECT_FALSE(SameLaunch(other, base));
  }
}

// The record a trampoline would have left for the calling process.
LaunchRecord RecordForThisProcess() {
  LaunchRecord record;
  ProcStat self;
  struct stat executable;
  EXPECT_TRUE(ReadSelfStat(&self));
  EXPECT_EQ(stat("/proc/self/exe", &executable), 0);
  record.pid = self.pid;
  record.uid = getuid();
  record.startTime = self.startTime;
  record.device = executable.st_dev;
  record.inode = executable.st_ino;
  return record;
}

bool Store(const LaunchRecord &record) {
  int error = 0;
  UniqueFd root = OpenSystemRoot(&error);
  return root && StoreLaunchRecord(root.get(), record);
}

std::string RecordPath(pid_t pid) {
  return test::SystemRootPath("run/tolvan/launches/" + std::to_string(pid));
}

OSStatus AskForReference() {
  AuthorizationRef reference = nullptr;
  OSStatus status = AuthorizationCopyPrivilegedReference(&reference, kAuthorizationFlagDefaults);
  if ((status == 0) != (reference != nullptr)) return 12345;
  if (reference != nullptr) AuthorizationFree(reference, kAuthorizationFlagDefaults);
  return status;
}

class PrivilegedReferenceFromRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: writes the root-only launch records";
    // Made the way the store makes them, before a planted file's folders
    // could be made any other way.
    ASSERT_TRUE(test::MakeRootOwnedFolders(TOLVAN_SYSTEM_ROOT));
    int error = 0;
    UniqueFd root = OpenSystemRoot(&error);
    ASSERT_TRUE(root);
    ASSERT_TRUE(OpenRecordFolder(root.get(), "launches", true, &error));
  }
  void TearDown() override { unlink(RecordPath(getpid()).c_str()); }
};

TEST_F(PrivilegedReferenceFromRecord, TheRecordOfThisLaunchGrantsOnce) {
  ASSERT_TRUE(Store(RecordForThisProcess()));
  EXPECT_EQ(AskForReference(), errAuthorizationSuccess);
  EXPECT_EQ(AskForReference(), errAuthorizationInvalidRef);
  EXPECT_NE(access(RecordPath(getpid()).c_str(), F_OK), 0);
}

TEST_F(PrivilegedReferenceFromRecord, ARecordOfAnotherLaunchIsUsedUpWithoutGranting) {
  struct Case {
    const char *name;
    std::function<void(LaunchRecord *)> change;
  };
  const Case cases[] = {
      {"a dead process that had this pid", [](LaunchRecord *r) { r->startTime -= 1; }},
      {"another user", [](LaunchRecord *r) { r->uid = 65534; }},
      {"another program on the same device", [](LaunchRecord *r) { r->inode += 1; }},
      {"the same inode on another device", [](LaunchRecord *r) { r->device += 1; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    LaunchRecord record = RecordForThisProcess();
    c.change(&record);
    ASSERT_TRUE(Store(record));
    EXPECT_EQ(AskForReference(), errAuthorizationInvalidRef);
    EXPECT_NE(access(RecordPath(getpid()).c_str(), F_OK), 0) << "the record was not used up";
  }
}

TEST_F(PrivilegedReferenceFromRecord, ARecordFileThatRootMayNotHaveWrittenIsNotBelieved) {
  const std::string path = RecordPath(getpid());
  unsigned char bytes[kLaunchRecordSize];
  EncodeLaunchRecord(RecordForThisProcess(), bytes);
  const std::string content(reinterpret_cast<char *>(bytes), sizeof bytes);
  struct Case {
    const char *name;
    std::function<bool()> plant;
  };
  const Case cases[] = {
      {"readable by others", [&] { return test::WriteRootOwnedFile(path, content, 0644); }},
      {"owned by another user",
       [&] { return test::WriteRootOwnedFile(path, content, 0600) && chown(path.c_str(), 65534, 0) == 0; }},
      {"a second hard link",
       [&] {
         return test::WriteRootOwnedFile(path, content, 0600) &&
                link(path.c_str(), (path + ".second").c_str()) == 0;
       }},
      {"a symbolic link to a good record",
       [&] {
         const std::string target = path + ".target";
         unlink(path.c_str());
         return test::WriteRootOwnedFile(target, content, 0600) && symlink(target.c_str(), path.c_str()) == 0;
       }},
      {"one byte too many", [&] { return test::WriteRootOwnedFile(path, content + "x", 0600); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.plant());
    EXPECT_EQ(AskForReference(), errAuthorizationInvalidRef);
    unlink(path.c_str());
    unlink((path + ".second").c_str());
    unlink((path + ".target").c_str());
  }
}

// Reading the record needs root at hand; a process that gave up root for
// good gets nothing, even from a record that names it exactly.
TEST_F(PrivilegedReferenceFromRecord, OnlyAProcessWithRootAtHandCanTakeItsRecord) {
  struct Case {
    const char *name;
    uid_t saved;
    OSStatus expected;
  };
  const Case cases[] = {
      {"saved set-user-ID root", 0, errAuthorizationSuccess},
      {"root given up for good", 65534, errAuthorizationInvalidRef},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // The child reports its pid, so that a record it could not take is
    // removed here.
    test::ChildOutcome outcome = test::RunInChild(
        [&] {
          if (setresuid(65534, 0, 0) != 0 || !Store(RecordForThisProcess()) ||
              setresuid(65534, 65534, c.saved) != 0) {
            return std::string("no record for a child of user 65534");
          }
          return std::to_string(getpid()) + " " + std::to_string(AskForReference());
        },
        30, [] {});
    ASSERT_TRUE(outcome.finished) << outcome.failure;
    const size_t space = outcome.report.find(' ');
    ASSERT_NE(space, std::string::npos) << outcome.report;
    unlink(RecordPath(std::stoi(outcome.report.substr(0, space))).c_str());
    EXPECT_EQ(outcome.report.substr(space + 1), std::to_string(c.expected));
  }
}

}  // namespace
}  // namespace tolvan::auth
