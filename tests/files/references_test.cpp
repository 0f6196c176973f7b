// References: made from paths (links resolved) and from names (taken as
// they are), and given back as paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "tests/files/files_test_support.hpp"

namespace {

using files_test::Units;
using files_test::UnitsOf;
using volume_test::RefFor;
using volume_test::ScratchFolder;

OSStatus MakeRef(const std::string &path, FSRef *ref, Boolean *isDirectory = nullptr) {
  return FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), ref, isDirectory);
}

TEST(FileReference, PathsAreResolved) {
  ScratchFolder scratch;
  std::string folder = scratch.Make("folder");
  std::ofstream(folder + "/file") << "x";
  ASSERT_EQ(::symlink("folder", (scratch.path() + "/to-folder").c_str()), 0);
  ASSERT_EQ(::symlink("missing", (scratch.path() + "/dangling").c_str()), 0);
  struct Case {
    std::string path;
    OSStatus status;
    std::string resolved;
    bool directory;
  } cases[] = {
      {folder, noErr, folder, true},
      {folder + "/file", noErr, folder + "/file", false},
      {scratch.path() + "/to-folder/file", noErr, folder + "/file", false},
      {scratch.path() + "/to-folder", noErr, folder, true},
      {folder + "/../folder/./file", noErr, folder + "/file", false},
      {scratch.path() + "/dangling", fnfErr, "", false},
      {scratch.path() + "/missing", fnfErr, "", false},
      {folder + "/file/below", fnfErr, "", false},
      {"", fnfErr, "", false},
  };
  for (const Case &c : cases) {
    FSRef ref{};
    Boolean directory = !c.directory;
    ASSERT_EQ(MakeRef(c.path, &ref, &directory), c.status) << c.path;
    if (c.status != noErr) continue;
    EXPECT_EQ(std::string(ref.path), c.resolved) << c.path;
    EXPECT_EQ(directory, c.directory) << c.path;
  }
  FSRef ref{};
  EXPECT_EQ(FSPathMakeRef(nullptr, &ref, nullptr), paramErr);
  EXPECT_EQ(MakeRef(folder, nullptr), paramErr);
}

TEST(FileReference, PathsLongerThanAReferenceAreRefused) {
  ScratchFolder scratch;
  std::string deep = scratch.path();
  while (deep.size() < kFSRefPathCapacity + 10) deep += "/" + std::string(200, 'd');
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  FSRef ref{};
  EXPECT_EQ(MakeRef(deep, &ref), paramErr);
  EXPECT_EQ(MakeRef("/" + std::string(5000, 'n'), &ref), paramErr) << "longer than any path";

  std::string fits = scratch.path();
  while (fits.size() < kFSRefPathCapacity - 1) {
    fits += "/" + std::string(std::min<size_t>(200, kFSRefPathCapacity - 2 - fits.size()), 'f');
  }
  ASSERT_TRUE(std::filesystem::create_directories(fits));
  ASSERT_EQ(MakeRef(fits, &ref), noErr);
  EXPECT_EQ(std::string(ref.path), fits);

  FSRef child{};
  EXPECT_EQ(FSMakeFSRefUnicode(&ref, 1, UnitsOf(u"x"), kTextEncodingUnknown, &child), paramErr);
}

TEST(FileReference, PathBackFitsOrIsRefused) {
  ScratchFolder scratch;
  FSRef ref = RefFor(scratch.path());
  std::string buffer(2048, '\x7f');
  auto *bytes = reinterpret_cast<UInt8 *>(buffer.data());
  auto size = static_cast<UInt32>(scratch.path().size());
  EXPECT_EQ(FSRefMakePath(&ref, bytes, size), paramErr) << "no room for the NUL";
  ASSERT_EQ(FSRefMakePath(&ref, bytes, size + 1), noErr);
  EXPECT_EQ(std::string(buffer.c_str()), scratch.path());
  EXPECT_EQ(FSRefMakePath(nullptr, bytes, 100), paramErr);
  EXPECT_EQ(FSRefMakePath(&ref, nullptr, 100), paramErr);
}

TEST(FileReference, ANameIsNotFollowed) {
  ScratchFolder scratch;
  scratch.Make("target");
  ASSERT_EQ(::symlink("target", (scratch.path() + "/link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (scratch.path() + "/dangling").c_str()), 0);
  FSRef folder = RefFor(scratch.path());
  struct Case {
    Units name;
    OSStatus status;
    std::string path;
  } cases[] = {
      {u"target", noErr, "/target"},
      {u"link", noErr, "/link"},
      {u"dangling", noErr, "/dangling"},
      {u"missing", fnfErr, ""},
  };
  for (const Case &c : cases) {
    FSRef child{};
    ASSERT_EQ(
        FSMakeFSRefUnicode(&folder, c.name.size(), UnitsOf(c.name), kTextEncodingUnknown, &child),
        c.status);
    if (c.status == noErr) {
      EXPECT_EQ(std::string(child.path), scratch.path() + c.path);
    }
  }
}

}  // namespace
