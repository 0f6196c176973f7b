// Standard folders: where each domain's folders are, which missing ones are
// made, and the checks on the user's temporary folder.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/files/files_test_support.hpp"

namespace {

using files_test::ModeOf;
using files_test::ScopedUmask;
using files_test::ScopedUnset;
using volume_test::Exists;
using volume_test::IsRoot;
using volume_test::ScopedEnvironment;
using volume_test::ScratchFolder;

struct Found {
  OSStatus status;
  std::string path;
};

Found Find(SInt16 domain, OSType type, Boolean create) {
  FSRef ref{};
  OSStatus status = FSFindFolder(domain, type, create, &ref);
  return {status, status == noErr ? ref.path : ""};
}

std::string Root(const std::string &path) { return std::string(TOLVAN_SYSTEM_ROOT) + path; }

TEST(StandardFolders, EachDomainAndTypeHasItsFolder) {
  ScratchFolder scratch;
  std::string home = scratch.Make("home");
  ScopedEnvironment homeVariable("HOME", home);
  struct Case {
    SInt16 domain;
    OSType type;
    std::string path;
  } cases[] = {
      {kUserDomain, kApplicationSupportFolderType, home + "/.local/share"},
      {kLocalDomain, kApplicationSupportFolderType, Root("/usr/local/share")},
      {kNetworkDomain, kApplicationSupportFolderType, Root("/net/share")},
      {kSystemDomain, kApplicationSupportFolderType, Root("/usr/share")},
      {kOnAppropriateDisk, kApplicationSupportFolderType, Root("/usr/share")},
      {kUserDomain, kFrameworksFolderType, home + "/.local/lib/frameworks"},
      {kLocalDomain, kFrameworksFolderType, Root("/usr/local/lib/frameworks")},
      {kSystemDomain, kFrameworksFolderType, Root("/usr/lib/frameworks")},
      {kOnAppropriateDisk, kFrameworksFolderType, Root("/usr/lib/frameworks")},
  };
  for (const Case &c : cases) {
    std::filesystem::create_directories(c.path);
    Found found = Find(c.domain, c.type, kDontCreateFolder);
    EXPECT_EQ(found.status, noErr) << c.path;
    EXPECT_EQ(found.path, std::filesystem::canonical(c.path).string());
  }
}

TEST(StandardFolders, UnknownDomainsAndTypesAreMissing) {
  struct Case {
    SInt16 domain;
    OSType type;
  } cases[] = {
      {kNetworkDomain, kFrameworksFolderType},
      {kLocalDomain, kTemporaryFolderType},
      {kSystemDomain, kTemporaryFolderType},
      {kOnAppropriateDisk, kTemporaryFolderType},
      {kUserDomain, 0x64657363},  // 'desc'
      {-1, kApplicationSupportFolderType},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Find(c.domain, c.type, kCreateFolder).status, fnfErr) << c.domain << " " << c.type;
  }
  EXPECT_EQ(FSFindFolder(kUserDomain, kApplicationSupportFolderType, kDontCreateFolder, nullptr),
            paramErr);
}

TEST(StandardFolders, OnlyTheUsersMissingFoldersAreMadeAndOnlyWhenAsked) {
  ScratchFolder scratch;
  std::string home = scratch.path() + "/new/home";  // missing parents too
  ScopedEnvironment homeVariable("HOME", home);
  ScopedUmask mask(022);
  EXPECT_EQ(Find(kUserDomain, kFrameworksFolderType, kDontCreateFolder).status, fnfErr);
  EXPECT_FALSE(Exists(scratch.path() + "/new"));
  Found made = Find(kUserDomain, kFrameworksFolderType, kCreateFolder);
  ASSERT_EQ(made.status, noErr);
  EXPECT_EQ(made.path, home + "/.local/lib/frameworks");
  for (const std::string &folder : {scratch.path() + "/new", home, home + "/.local", made.path}) {
    EXPECT_EQ(ModeOf(folder), "0755") << folder;
  }

  std::string network = Root("/net/share");
  std::filesystem::remove(network);
  ASSERT_FALSE(Exists(network)) << "left over from something else";
  EXPECT_EQ(Find(kNetworkDomain, kApplicationSupportFolderType, kCreateFolder).status, fnfErr);
  EXPECT_FALSE(Exists(network));
}

TEST(StandardFolders, MakingFoldersDoesNotFollowALinkIntoAnotherPlace) {
  ScratchFolder scratch;
  std::string home = scratch.Make("home");
  ASSERT_EQ(::symlink("../elsewhere", (home + "/.local").c_str()), 0);
  ScopedEnvironment homeVariable("HOME", home);
  EXPECT_NE(Find(kUserDomain, kApplicationSupportFolderType, kCreateFolder).status, noErr);
  EXPECT_FALSE(Exists(scratch.path() + "/elsewhere"));
}

TEST(StandardFolders, HomeFallsBackToThePasswordDatabase) {
  const passwd *entry = ::getpwuid(::geteuid());
  if (entry == nullptr) GTEST_SKIP() << "no password entry for this user";
  std::string expected = std::string(entry->pw_dir) + "/.local/share";
  for (const char *value : {"", "relative/home"}) {
    ScopedEnvironment homeVariable("HOME", value);
    Found found = Find(kUserDomain, kApplicationSupportFolderType, kDontCreateFolder);
    if (Exists(expected)) {
      EXPECT_EQ(found.status, noErr) << "HOME=" << value;
      EXPECT_EQ(found.path, std::filesystem::canonical(expected).string());
    } else {
      EXPECT_EQ(found.status, fnfErr) << "HOME=" << value;
    }
  }
  ScopedUnset unset("HOME");
  EXPECT_EQ(Find(kUserDomain, kApplicationSupportFolderType, kDontCreateFolder).status,
            Exists(expected) ? noErr : fnfErr);
}

TEST(TemporaryFolder, MustBeTheUsersOwnPrivateFolder) {
  ScratchFolder scratch;
  std::string good = scratch.Make("good", 0700);
  std::string open = scratch.Make("open", 0755);
  std::string sticky = scratch.Make("sticky", 01700);
  ASSERT_EQ(::symlink("good", (scratch.path() + "/link").c_str()), 0);
  std::ofstream(scratch.path() + "/file") << "x";
  ::chmod((scratch.path() + "/file").c_str(), 0700);
  struct Case {
    std::string path;
    OSStatus status;
  } cases[] = {
      {good, noErr},
      {open, EPERM},
      {sticky, EPERM},
      {scratch.path() + "/link", EPERM},
      {scratch.path() + "/link/", EPERM},
      {good + "//", noErr},
      {scratch.path() + "/file", EPERM},
      {scratch.path() + "/missing", fnfErr},
  };
  for (const Case &c : cases) {
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", c.path);
    Found found = Find(kUserDomain, kTemporaryFolderType, kDontCreateFolder);
    EXPECT_EQ(found.status, c.status) << c.path;
    if (c.status == noErr) {
      EXPECT_EQ(found.path, good);
    }
  }
  EXPECT_FALSE(Exists(scratch.path() + "/missing"));
}

TEST(TemporaryFolder, OneOwnedByAnotherUserIsRefused) {
  if (!IsRoot()) GTEST_SKIP() << "giving a folder away needs root";
  ScratchFolder scratch;
  std::string theirs = scratch.Make("theirs", 0700);
  ASSERT_EQ(::chown(theirs.c_str(), 54321, 54321), 0);
  ScopedEnvironment runtime("XDG_RUNTIME_DIR", theirs);
  EXPECT_EQ(Find(kUserDomain, kTemporaryFolderType, kCreateFolder).status, EPERM);
  EXPECT_EQ(ModeOf(theirs), "0700") << "a refused folder is left as it was";
}

TEST(TemporaryFolder, IsMadePrivateWhenAskedWhateverTheUmask) {
  ScratchFolder scratch;
  for (mode_t umask : {mode_t{022}, mode_t{077}, mode_t{0277}}) {
    ScopedUmask mask(umask);
    std::string path = scratch.Make("run" + std::to_string(umask)) + "/user";
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", path);
    Found found = Find(kUserDomain, kTemporaryFolderType, kCreateFolder);
    ASSERT_EQ(found.status, noErr) << umask;
    EXPECT_EQ(found.path, path);
    EXPECT_EQ(ModeOf(path), "0700");
    EXPECT_EQ(Find(kUserDomain, kTemporaryFolderType, kDontCreateFolder).status, noErr);
  }
}

TEST(TemporaryFolder, WithoutARuntimeFolderItIsPerUserUnderTmp) {
  ScopedUnset unset("XDG_RUNTIME_DIR");
  std::string expected = "/tmp/tolvan-" + std::to_string(::geteuid());
  if (Exists(expected)) GTEST_SKIP() << expected << " exists already; not touching it";
  Found found = Find(kUserDomain, kTemporaryFolderType, kCreateFolder);
  EXPECT_EQ(found.status, noErr);
  EXPECT_EQ(found.path, expected);
  EXPECT_EQ(ModeOf(expected), "0700");
  ::rmdir(expected.c_str());
}

}  // namespace
