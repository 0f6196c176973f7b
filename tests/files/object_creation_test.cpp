// Creating by name and deleting: existing names are never reused or
// followed, and a folder swapped for a link is not worked in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/files/files_test_support.hpp"

namespace {

using files_test::ModeOf;
using files_test::ScopedUmask;
using files_test::Units;
using files_test::UnitsOf;
using volume_test::Entries;
using volume_test::Exists;
using volume_test::RefFor;
using volume_test::ScratchFolder;

OSStatus CreateFile(const FSRef &folder, const Units &name, FSRef *made = nullptr) {
  return FSCreateFileUnicode(&folder, name.size(), UnitsOf(name), kFSCatInfoNone, nullptr, made,
                             nullptr);
}

OSStatus CreateFolder(const FSRef &folder, const Units &name, FSRef *made = nullptr) {
  return FSCreateDirectoryUnicode(&folder, name.size(), UnitsOf(name), kFSCatInfoNone, nullptr,
                                  made, nullptr, nullptr);
}

TEST(ObjectCreation, NewObjectsGetTheirModesLessTheUmask) {
  ScratchFolder scratch;
  FSRef folder = RefFor(scratch.path());
  struct Case {
    mode_t umask;
    std::string file_mode;
    std::string folder_mode;
  } cases[] = {{022, "0644", "0755"}, {077, "0600", "0700"}, {0, "0644", "0755"}};
  int round = 0;
  for (const Case &c : cases) {
    ScopedUmask mask(c.umask);
    std::string n = std::to_string(round++);
    Units file = u"file" + Units(n.begin(), n.end());
    Units sub = u"folder" + Units(n.begin(), n.end());
    FSRef made{};
    ASSERT_EQ(CreateFile(folder, file, &made), noErr);
    EXPECT_EQ(std::string(made.path), scratch.path() + "/file" + n);
    EXPECT_EQ(ModeOf(made.path), c.file_mode);
    ASSERT_EQ(CreateFolder(folder, sub, &made), noErr);
    EXPECT_EQ(std::string(made.path), scratch.path() + "/folder" + n);
    EXPECT_EQ(ModeOf(made.path), c.folder_mode);
  }
  EXPECT_EQ(CreateFile(folder, u"no-ref"), noErr) << "the new reference is optional";
}

TEST(ObjectCreation, AnExistingNameIsADuplicateWhateverItIs) {
  ScratchFolder scratch;
  std::ofstream(scratch.path() + "/file") << "kept";
  scratch.Make("folder");
  ASSERT_EQ(::symlink("elsewhere", (scratch.path() + "/dangling").c_str()), 0);
  ASSERT_EQ(::symlink("file", (scratch.path() + "/link").c_str()), 0);
  FSRef folder = RefFor(scratch.path());
  for (const Units &name : {Units(u"file"), Units(u"folder"), Units(u"dangling"), Units(u"link")}) {
    EXPECT_EQ(CreateFile(folder, name), dupFNErr);
    EXPECT_EQ(CreateFolder(folder, name), dupFNErr);
  }
  EXPECT_FALSE(Exists(scratch.path() + "/elsewhere")) << "a dangling link was followed";
  std::string content;
  std::ifstream(scratch.path() + "/file") >> content;
  EXPECT_EQ(content, "kept");
}

TEST(ObjectCreation, UnsupportedArgumentsAreRefusedBeforeAnythingIsMade) {
  ScratchFolder scratch;
  FSRef folder = RefFor(scratch.path());
  FSCatalogInfo info{};
  UInt32 id = 0;
  auto *unwantedFSSpec = reinterpret_cast<FSSpec *>(&info);
  const UniChar *name = UnitsOf(u"x");
  EXPECT_EQ(FSCreateFileUnicode(&folder, 1, name, kFSCatInfoPermissions, &info, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSCreateFileUnicode(&folder, 1, name, kFSCatInfoNone, &info, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSCreateFileUnicode(&folder, 1, name, kFSCatInfoNone, nullptr, nullptr, unwantedFSSpec),
            paramErr);
  EXPECT_EQ(FSCreateFileUnicode(nullptr, 1, name, kFSCatInfoNone, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(
      FSCreateDirectoryUnicode(&folder, 1, name, kFSCatInfoNone, nullptr, nullptr, nullptr, &id),
      paramErr);
  EXPECT_EQ(FSCreateDirectoryUnicode(&folder, 1, name, kFSCatInfoPermissions, &info, nullptr,
                                     nullptr, nullptr),
            paramErr);
  EXPECT_TRUE(Entries(scratch.path()).empty());
}

// References made before a folder on their path was swapped for a link to
// another place: nothing is made, read, changed or removed over there.
TEST(ObjectCreation, AFolderReplacedByALinkIsNotWorkedIn) {
  ScratchFolder scratch;
  std::string parent = scratch.Make("parent");
  std::string elsewhere = scratch.Make("elsewhere");
  FSRef ref = RefFor(parent);
  FSRef below = RefFor(scratch.Make("parent/below"));
  std::ofstream(parent + "/below/file") << "x";
  FSRef file = RefFor(parent + "/below/file");
  std::filesystem::remove_all(parent);
  ASSERT_EQ(::symlink("elsewhere", parent.c_str()), 0);
  scratch.Make("elsewhere/below");
  std::ofstream(elsewhere + "/below/file") << "x";

  EXPECT_NE(CreateFile(ref, u"planted"), noErr);
  EXPECT_NE(CreateFolder(ref, u"planted"), noErr);
  EXPECT_NE(CreateFile(below, u"planted"), noErr) << "a link earlier on the path";
  EXPECT_NE(FSDeleteObject(&file), noErr);
  FSCatalogInfo info{};
  EXPECT_NE(FSGetCatalogInfo(&file, kFSCatInfoPermissions, &info, nullptr, nullptr, nullptr), noErr);
  info.permissions[0] = info.permissions[1] = 54321;
  EXPECT_NE(FSSetCatalogInfo(&file, kFSCatInfoPermissions, &info), noErr);

  EXPECT_EQ(Entries(elsewhere), std::set<std::string>{"below"});
  EXPECT_EQ(Entries(elsewhere + "/below"), std::set<std::string>{"file"});
  struct stat status {};
  ASSERT_EQ(::stat((elsewhere + "/below/file").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, ::geteuid());
}

TEST(ObjectDeletion, RemovesFilesEmptyFoldersAndLinksThemselves) {
  ScratchFolder scratch;
  std::ofstream(scratch.path() + "/file") << "x";
  scratch.Make("empty");
  scratch.Make("full/inside");
  scratch.Make("target");
  ASSERT_EQ(::symlink("target", (scratch.path() + "/link").c_str()), 0);
  FSRef folder = RefFor(scratch.path());
  struct Case {
    Units name;
    OSStatus status;
    bool remains;
  } cases[] = {
      {u"file", noErr, false},
      {u"empty", noErr, false},
      {u"full", ENOTEMPTY, true},
      {u"link", noErr, false},
  };
  for (const Case &c : cases) {
    FSRef ref{};
    ASSERT_EQ(
        FSMakeFSRefUnicode(&folder, c.name.size(), UnitsOf(c.name), kTextEncodingUnknown, &ref),
        noErr);
    EXPECT_EQ(FSDeleteObject(&ref), c.status) << ref.path;
    EXPECT_EQ(Exists(ref.path), c.remains) << ref.path;
    if (c.status == noErr) {
      EXPECT_EQ(FSDeleteObject(&ref), fnfErr) << "deleting it again";
    }
  }
  EXPECT_TRUE(Exists(scratch.path() + "/target")) << "the link's target stays";
  EXPECT_EQ(FSDeleteObject(nullptr), paramErr);
  FSRef root = RefFor("/");
  EXPECT_EQ(FSDeleteObject(&root), EBUSY);
}

}  // namespace
