// Catalog permissions: the owner, group and mode of an object as stat gives
// them, the owner and group written without following links, and the
// made-up group of volumes that keep no owners.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/files/files_test_support.hpp"

namespace {

using volume_test::IsRoot;
using volume_test::RefFor;
using volume_test::ScratchFolder;
using volume_test::ScratchMount;

constexpr UInt32 kUnknownGroup = 99;

struct stat StatusOf(const std::string &path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

OSStatus Permissions(const FSRef &ref, FSCatalogInfo *info) {
  return FSGetCatalogInfo(&ref, kFSCatInfoPermissions, info, nullptr, nullptr, nullptr);
}

// A file "file" (mode 0640) and a link "link" to it; the reference of the
// link itself.
FSRef FileAndLink(const ScratchFolder &scratch) {
  std::ofstream(scratch.path() + "/file") << "x";
  ::chmod((scratch.path() + "/file").c_str(), 0640);
  EXPECT_EQ(::symlink("file", (scratch.path() + "/link").c_str()), 0);
  FSRef folder = RefFor(scratch.path());
  FSRef link{};
  EXPECT_EQ(FSMakeFSRefUnicode(&folder, 4, reinterpret_cast<const UniChar *>(u"link"),
                               kTextEncodingUnknown, &link),
            noErr);
  return link;
}

TEST(CatalogInfo, PermissionsAreWhatStatSays) {
  ScratchFolder scratch;
  FSRef link = FileAndLink(scratch);
  for (const FSRef &ref : {RefFor(scratch.path()), RefFor(scratch.path() + "/file"), link}) {
    std::string path = ref.path;
    FSCatalogInfo info{};
    info.permissions[3] = 7;
    ASSERT_EQ(Permissions(ref, &info), noErr) << path;
    struct stat expected = StatusOf(path);  // of the link itself for the link
    EXPECT_EQ(info.permissions[0], expected.st_uid) << path;
    EXPECT_EQ(info.permissions[1], expected.st_gid) << path;
    EXPECT_EQ(info.permissions[2], expected.st_mode) << path;
    EXPECT_EQ(info.permissions[3], 0u) << path;
  }
}

TEST(CatalogInfo, UnsupportedRequestsAreParameterErrors) {
  ScratchFolder scratch;
  FSRef ref = RefFor(scratch.path());
  FSCatalogInfo info{};
  HFSUniStr255 name{};
  FSRef parent{};
  auto *unwantedFSSpec = reinterpret_cast<FSSpec *>(&info);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions | 1, &info, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, &info, &name, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, &info, nullptr, unwantedFSSpec, nullptr), paramErr);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, &info, nullptr, nullptr, &parent),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, nullptr, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfo(nullptr, kFSCatInfoPermissions, &info, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoPermissions | 2, &info), paramErr);
  EXPECT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoPermissions, nullptr), paramErr);
  FSRef gone = RefFor(scratch.Make("gone"));
  ASSERT_EQ(::rmdir(gone.path), 0);
  EXPECT_EQ(Permissions(gone, &info), fnfErr);
}

TEST(CatalogInfo, SettingWritesOwnerAndGroupOfTheLinkNotItsTarget) {
  if (!IsRoot()) GTEST_SKIP() << "changing owners needs root";
  ScratchFolder scratch;
  FSRef link = FileAndLink(scratch);
  FSCatalogInfo wanted{};
  wanted.permissions[0] = 54321;
  wanted.permissions[1] = 54322;
  wanted.permissions[2] = 0777;  // read-only: must not be applied
  ASSERT_EQ(FSSetCatalogInfo(&link, kFSCatInfoPermissions, &wanted), noErr);
  EXPECT_EQ(StatusOf(link.path).st_uid, 54321u);
  EXPECT_EQ(StatusOf(link.path).st_gid, 54322u);
  EXPECT_EQ(StatusOf(scratch.path() + "/file").st_uid, 0u);
  FSRef file = RefFor(scratch.path() + "/file");
  mode_t before = StatusOf(file.path).st_mode;
  ASSERT_EQ(FSSetCatalogInfo(&file, kFSCatInfoPermissions, &wanted), noErr);
  FSCatalogInfo read{};
  ASSERT_EQ(Permissions(file, &read), noErr);
  EXPECT_EQ(read.permissions[0], 54321u);
  EXPECT_EQ(read.permissions[1], 54322u);
  EXPECT_EQ(read.permissions[2], before);
  EXPECT_EQ(FSSetCatalogInfo(&file, kFSCatInfoNone, nullptr), noErr);
}

// By the kernel when it has vfat, else through FUSE (also a volume that
// keeps no owners).
ScratchMount MountFat(const std::string &image, const std::string &folder) {
  ScratchMount kernel = ScratchMount::Fat(image, folder, false);
  if (kernel.mounted()) return kernel;
  return ScratchMount::Fat(image, folder, true);
}

TEST(CatalogInfo, AVolumeWithoutOwnersReportsTheUnknownGroup) {
  if (!IsRoot()) GTEST_SKIP() << "mounting a FAT image needs root";
  ScratchFolder scratch;
  std::string mountPoint = scratch.Make("fat");
  ScratchMount fat = MountFat(scratch.path() + "/fat.img", mountPoint);
  if (!fat.mounted()) GTEST_SKIP() << "this machine cannot mount a FAT image";
  std::ofstream(mountPoint + "/file") << "x";
  for (const std::string &path : {mountPoint, mountPoint + "/file"}) {
    FSCatalogInfo info{};
    ASSERT_EQ(Permissions(RefFor(path), &info), noErr) << path;
    EXPECT_EQ(info.permissions[1], kUnknownGroup) << path;
    EXPECT_EQ(info.permissions[0], StatusOf(path).st_uid) << path;
  }
  FSCatalogInfo outside{};
  ASSERT_EQ(Permissions(RefFor(scratch.path()), &outside), noErr);
  EXPECT_EQ(outside.permissions[1], StatusOf(scratch.path()).st_gid);
}

}  // namespace
