#include "sec/folder_checks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <set>
#include <string>

#include "tests/sec/scratch_volumes.hpp"

namespace {

using volume_test::Entries;
using volume_test::IsRoot;
using volume_test::RefFor;
using volume_test::ScratchFolder;
using volume_test::ScratchMount;

constexpr Boolean kUnwritten = 7;

TEST(FolderChecksTest, OrdinaryFolderHonoursBothAndLeavesOnlyWhatWasThere) {
  ScratchFolder scratch;
  const std::string folder = scratch.Make("plain");
  // A name the check itself might have chosen: it must be left alone.
  const std::string bystander = folder + "/TolvanSecIsFolderIgnoringOwnership Temp 0";
  ASSERT_EQ(::close(::open(bystander.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644)), 0);
  const FSRef ref = RefFor(folder);

  Boolean ignores_setuid = kUnwritten;
  Boolean ignores_ownership = kUnwritten;
  EXPECT_EQ(TolvanSecIsFolderIgnoringSetUID(&ref, &ignores_setuid), 0);
  EXPECT_EQ(TolvanSecIsFolderIgnoringOwnership(&ref, &ignores_ownership), 0);
  EXPECT_FALSE(ignores_setuid);
  EXPECT_FALSE(ignores_ownership);
  EXPECT_EQ(Entries(folder), std::set<std::string>{"TolvanSecIsFolderIgnoringOwnership Temp 0"});
}

TEST(FolderChecksTest, NosuidVolumeIgnoresSetUIDButKeepsOwners) {
  if (!IsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
  ScratchFolder scratch;
  const std::string folder = scratch.Make("nosuid");
  const ScratchMount mount = ScratchMount::Tmpfs(folder, MS_NOSUID);
  ASSERT_TRUE(mount.mounted());
  const FSRef ref = RefFor(folder);

  Boolean ignores_setuid = false;
  Boolean ignores_ownership = true;
  EXPECT_EQ(TolvanSecIsFolderIgnoringSetUID(&ref, &ignores_setuid), 0);
  EXPECT_EQ(TolvanSecIsFolderIgnoringOwnership(&ref, &ignores_ownership), 0);
  EXPECT_TRUE(ignores_setuid);
  EXPECT_FALSE(ignores_ownership);
  EXPECT_TRUE(Entries(folder).empty());
}

// New files inherit the group of a set-group-ID folder: one of group 99 makes
// the check take its second step, the change to group 20, which sticks.
TEST(FolderChecksTest, UnknownGroupThatCanBeChangedMeansOwnersAreKept) {
  if (!IsRoot()) GTEST_SKIP() << "giving a folder group 99 needs root";
  ScratchFolder scratch;
  const std::string folder = scratch.Make("group-99", 02755);
  ASSERT_EQ(::chown(folder.c_str(), 0, 99), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 02755), 0);
  const FSRef ref = RefFor(folder);

  Boolean ignores_ownership = kUnwritten;
  EXPECT_EQ(TolvanSecIsFolderIgnoringOwnership(&ref, &ignores_ownership), 0);
  EXPECT_EQ(ignores_ownership, false);
  EXPECT_TRUE(Entries(folder).empty());
}

// A FAT volume cannot keep a root owner: the check must never answer that
// it does, whether the group change is dropped or refused outright.
TEST(FolderChecksTest, FatVolumeNeverPassesForOneThatKeepsOwners) {
  if (!IsRoot()) GTEST_SKIP() << "mounting a FAT image needs root";
  for (const bool via_fuse : {false, true}) {
    SCOPED_TRACE(via_fuse ? "fusefat" : "kernel vfat");
    ScratchFolder scratch;
    const std::string folder = scratch.Make("fat");
    const ScratchMount mount = ScratchMount::Fat(scratch.path() + "/fat.img", folder, via_fuse);
    if (!mount.mounted()) continue;
    const FSRef ref = RefFor(folder);

    Boolean ignores_ownership = false;
    const OSStatus status = TolvanSecIsFolderIgnoringOwnership(&ref, &ignores_ownership);
    EXPECT_TRUE(status != 0 || ignores_ownership) << status;
    EXPECT_TRUE(Entries(folder).empty());
  }
}

TEST(FolderChecksTest, UnwritableFolderGivesTheCreationStatusAndLeavesNothing) {
  ScratchFolder scratch;
  const std::string folder = scratch.Make("locked", 0555);
  std::optional<ScratchMount> mount;
  int expected = EACCES;
  if (IsRoot()) {  // root writes through any mode; a read-only volume stops it
    mount.emplace(ScratchMount::Tmpfs(folder, MS_RDONLY));
    ASSERT_TRUE(mount->mounted());
    expected = EROFS;
  }
  const FSRef ref = RefFor(folder);

  Boolean ignores_ownership = kUnwritten;
  EXPECT_EQ(TolvanSecIsFolderIgnoringOwnership(&ref, &ignores_ownership), expected);
  EXPECT_EQ(ignores_ownership, kUnwritten);
  EXPECT_TRUE(Entries(folder).empty());
}

TEST(FolderChecksTest, VanishedFolderGivesErrnoOfStatfs) {
  ScratchFolder scratch;
  const std::string folder = scratch.Make("gone");
  const FSRef ref = RefFor(folder);
  ASSERT_EQ(::rmdir(folder.c_str()), 0);

  Boolean ignores_setuid = kUnwritten;
  EXPECT_EQ(TolvanSecIsFolderIgnoringSetUID(&ref, &ignores_setuid), ENOENT);
  EXPECT_EQ(ignores_setuid, kUnwritten);
}

}  // namespace
