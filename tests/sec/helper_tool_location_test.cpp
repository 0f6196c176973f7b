#include "sec/helper_tool_location.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include "platform/cf/cf_string.h"
#include "tests/sec/scratch_volumes.hpp"

namespace {

using tolvan::CFRef;
using volume_test::Entries;
using volume_test::Exists;
using volume_test::FileURL;
using volume_test::IsRoot;
using volume_test::PathOf;
using volume_test::ScopedEnvironment;
using volume_test::ScratchFolder;
using volume_test::ScratchMount;

#define SKIP_UNLESS_ROOT() \
  if (!IsRoot()) GTEST_SKIP() << "valid copies are root-owned set-user-ID files: needs root"

constexpr char kToolName[] = "tool";
constexpr char kTemplateContent[] = "#!/bin/sh\necho stand-in for the helper tool\n";
constexpr timespec kTemplateAccess = {1600000000, 111};
constexpr timespec kTemplateModification = {1700000000, 250000000};
constexpr uid_t kNobody = 65534;

CFRef<CFStringRef> String(const std::string &utf8) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(utf8.data()),
                              static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct stat Lstat(const std::string &path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

// How a copy at a place differs from a valid one.
struct CopyShape {
  uid_t owner = 0;
  mode_t mode = 04555;
  size_t extra_bytes = 0;
  time_t later_seconds = 0;
  long nanoseconds = kTemplateModification.tv_nsec;
};

void MakeCopy(const std::string &path, const CopyShape &shape = {}) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      << kTemplateContent << std::string(shape.extra_bytes, 'x');
  // chown drops the set-user-ID bit, so the mode comes after it.
  ASSERT_EQ(::chown(path.c_str(), shape.owner, 0), 0);
  ASSERT_EQ(::chmod(path.c_str(), shape.mode), 0);
  const timespec times[2] = {
      kTemplateAccess, {kTemplateModification.tv_sec + shape.later_seconds, shape.nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class HelperToolLocationTest : public ::testing::Test {
 protected:
  HelperToolLocationTest()
      : home_(scratch_.Make("home")),
        runtime_(scratch_.Make("run", 0700)),
        home_variable_("HOME", home_),
        runtime_variable_("XDG_RUNTIME_DIR", runtime_),
        subfolder_("LocateTest-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name()) {
    const std::string template_path = scratch_.path() + "/template";
    std::ofstream(template_path, std::ios::binary) << kTemplateContent;
    ::chmod(template_path.c_str(), 0755);
    const timespec times[2] = {kTemplateAccess, kTemplateModification};
    ::utimensat(AT_FDCWD, template_path.c_str(), times, 0);
    template_ = FileURL(template_path);
  }
  ~HelperToolLocationTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(SystemRoot("usr/local/share/" + subfolder_), ignored);
  }

  static std::string SystemRoot(const std::string &relative) {
    return std::string(TOLVAN_SYSTEM_ROOT) + "/" + relative;
  }
  std::string UserFolder() const { return home_ + "/.local/share"; }
  std::string UserSubfolder() const { return UserFolder() + "/" + subfolder_; }
  std::string UserPlace() const { return UserSubfolder() + "/" + kToolName; }
  std::string LocalPlace() const {
    return SystemRoot("usr/local/share/" + subfolder_ + "/" + kToolName);
  }
  std::string TemporaryPlace() const { return runtime_ + "/" + subfolder_ + "/" + kToolName; }

  OSStatus Locate(CFURLRef *tool_url) {
    return TolvanSecCopyHelperToolURLAndCheck(template_.get(), kApplicationSupportFolderType,
                                              String(subfolder_).get(), String(kToolName).get(),
                                              tool_url);
  }
  std::string LocatedPath() {
    CFRef<CFURLRef> tool;
    const OSStatus status = Locate(tool.out());
    return status == 0 ? PathOf(tool.get()) : "status " + std::to_string(status);
  }
  TolvanHelperToolCopyVerdict VerdictFor(const std::string &path) {
    TolvanHelperToolCopyVerdict verdict = kTolvanHelperToolCopyValid;
    EXPECT_EQ(TolvanSecCheckHelperToolCopy(template_.get(), FileURL(path).get(), &verdict), 0);
    return verdict;
  }
  // A fresh copy of the template: its content and times, not set-user-ID.
  void ExpectFreshCopyAt(const std::string &path) {
    const struct stat info = Lstat(path);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & S_ISUID, 0u);
    EXPECT_EQ(info.st_mtim.tv_sec, kTemplateModification.tv_sec);
    EXPECT_EQ(ReadFile(path), kTemplateContent);
  }

  ScratchFolder scratch_;
  const std::string home_;
  const std::string runtime_;
  ScopedEnvironment home_variable_;
  ScopedEnvironment runtime_variable_;
  const std::string subfolder_;
  CFRef<CFURLRef> template_;
};

TEST_F(HelperToolLocationTest, SearchTakesTheFirstValidCopyInDomainOrder) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char *name;
    bool in_user, in_local, in_temporary, local_folder_open;
    enum { kUser, kLocal, kTemporary } expected;
  };
  const Case cases[] = {
      {"user and local", true, true, false, false, Case::kUser},
      {"local only", false, true, false, false, Case::kLocal},
      {"temporary folder only", false, false, true, false, Case::kTemporary},
      {"local and temporary", false, true, true, false, Case::kLocal},
      // Others could swap the local copy: it does not count, and the user
      // gets a fresh one.
      {"local in a folder others may write", false, true, false, true, Case::kUser},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    for (const std::string &place : {UserPlace(), LocalPlace(), TemporaryPlace()}) {
      std::filesystem::remove_all(std::filesystem::path(place).parent_path(), ignored);
    }
    if (c.in_user) MakeCopy(UserPlace());
    if (c.in_local) MakeCopy(LocalPlace());
    if (c.in_temporary) MakeCopy(TemporaryPlace());
    if (c.local_folder_open) {
      ::chmod(std::filesystem::path(LocalPlace()).parent_path().c_str(), 0777);
    }
    const std::string expected[] = {UserPlace(), LocalPlace(), TemporaryPlace()};
    EXPECT_EQ(LocatedPath(), expected[c.expected]);
  }
}

TEST_F(HelperToolLocationTest, InvalidCopyInTheUserFolderIsReplaced) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char *name;
    CopyShape shape;
  };
  const Case cases[] = {
      {"owned by a user", {.owner = kNobody}},
      {"mode 0755", {.mode = 0755}},
      {"set-user-ID but writable by its owner", {.mode = 04755}},
      {"one byte longer", {.extra_bytes = 1}},
      {"one second later", {.later_seconds = 1}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MakeCopy(UserPlace(), c.shape);
    MakeCopy(LocalPlace(), c.shape);
    EXPECT_EQ(LocatedPath(), UserPlace());
    ExpectFreshCopyAt(UserPlace());
    // Only the user's own place is ever rewritten.
    EXPECT_EQ(Lstat(LocalPlace()).st_size,
              static_cast<off_t>(sizeof kTemplateContent - 1 + c.shape.extra_bytes));
  }
}

TEST_F(HelperToolLocationTest, SubSecondDifferenceIsAcceptedAsIs) {
  SKIP_UNLESS_ROOT();
  MakeCopy(UserPlace(), {.nanoseconds = 999999999});
  const ino_t inode = Lstat(UserPlace()).st_ino;
  EXPECT_EQ(LocatedPath(), UserPlace());
  EXPECT_EQ(Lstat(UserPlace()).st_ino, inode);
  EXPECT_EQ(Lstat(UserPlace()).st_mode, static_cast<mode_t>(0104555));
}

TEST_F(HelperToolLocationTest, FolderInTheWayIsRemovedOnlyWhenEmpty) {
  std::filesystem::create_directories(UserPlace());
  EXPECT_EQ(LocatedPath(), UserPlace());
  ExpectFreshCopyAt(UserPlace());

  ASSERT_EQ(::unlink(UserPlace().c_str()), 0);
  std::filesystem::create_directories(UserPlace() + "/content");
  CFURLRef untouched = template_.get();
  EXPECT_EQ(Locate(&untouched), ENOTEMPTY);
  EXPECT_EQ(untouched, template_.get());
  EXPECT_TRUE(Exists(UserPlace() + "/content"));
}

TEST_F(HelperToolLocationTest, LinkInTheWayIsRemovedNotFollowed) {
  const std::string target = scratch_.path() + "/elsewhere";
  std::filesystem::create_directories(UserSubfolder());
  for (const bool dangling : {false, true}) {
    SCOPED_TRACE(dangling ? "dangling link" : "link to a file");
    if (!dangling) std::ofstream(target) << "not to be overwritten";
    ASSERT_EQ(::symlink(target.c_str(), UserPlace().c_str()), 0);
    EXPECT_EQ(LocatedPath(), UserPlace());
    ExpectFreshCopyAt(UserPlace());
    EXPECT_EQ(ReadFile(target), dangling ? "" : "not to be overwritten");
    ::unlink(UserPlace().c_str());
    ::unlink(target.c_str());
  }
}

// Until the copy has repaired itself it is the user's and not set-user-ID;
// each call puts a fresh one in place.
TEST_F(HelperToolLocationTest, FreshlyInstalledCopyIsInstalledAgain) {
  ASSERT_EQ(LocatedPath(), UserPlace());
  EXPECT_NE(VerdictFor(UserPlace()), kTolvanHelperToolCopyValid);
  const timespec stale[2] = {{1000, 0}, {UTIME_OMIT, UTIME_OMIT}};
  ASSERT_EQ(::utimensat(AT_FDCWD, UserPlace().c_str(), stale, 0), 0);

  EXPECT_EQ(LocatedPath(), UserPlace());
  // The copy's times are the template's, whose access time the first copy
  // may have moved.
  EXPECT_EQ(Lstat(UserPlace()).st_atim.tv_sec, Lstat(PathOf(template_.get())).st_atim.tv_sec);
}

TEST_F(HelperToolLocationTest, MissingTemplateIsAnErrorAtTheInstall) {
  ASSERT_EQ(::unlink(PathOf(template_.get()).c_str()), 0);
  EXPECT_EQ(LocatedPath(), "status " + std::to_string(ENOENT));
  EXPECT_FALSE(Exists(UserPlace()));
}

TEST_F(HelperToolLocationTest, VolumeThatCannotHoldTheToolIsRefusedBeforeAnythingIsCopied) {
  if (!IsRoot()) GTEST_SKIP() << "mounting volumes needs root";
  struct Case {
    const char *name;
    std::function<ScratchMount(const std::string &image, const std::string &folder)> mount;
  };
  const Case cases[] = {
      {"tmpfs mounted nosuid",
       [](const std::string &, const std::string &folder) {
         return ScratchMount::Tmpfs(folder, MS_NOSUID);
       }},
      {"kernel vfat",
       [](const std::string &image, const std::string &folder) {
         return ScratchMount::Fat(image, folder, false);
       }},
      {"fusefat", [](const std::string &image,
                     const std::string &folder) { return ScratchMount::Fat(image, folder, true); }},
  };
  std::filesystem::create_directories(UserFolder());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchMount mount = c.mount(scratch_.path() + "/volume.img", UserFolder());
    if (!mount.mounted()) continue;
    EXPECT_EQ(LocatedPath(), "status 5370");
    // No subfolder, no copy, and no temporary file of the ownership test.
    EXPECT_TRUE(Entries(UserFolder()).empty());
  }
}

TEST_F(HelperToolLocationTest, UserFolderOthersMayWriteToIsRefused) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char *name;
    std::function<void()> open_up;
  };
  const Case cases[] = {
      {"folder writable by its group", [this] { ::chmod(UserFolder().c_str(), 0775); }},
      {"folder writable by others", [this] { ::chmod(UserFolder().c_str(), 0757); }},
      {"folder of another user", [this] { ::chown(UserFolder().c_str(), kNobody, 0); }},
      {"subfolder writable by others",
       [this] {
         ::mkdir(UserSubfolder().c_str(), 0777);
         ::chmod(UserSubfolder().c_str(), 0777);
       }},
      {"subfolder a link to a folder",
       [this] { ::symlink(scratch_.Make("linked").c_str(), UserSubfolder().c_str()); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    std::filesystem::remove_all(UserFolder(), ignored);
    std::filesystem::create_directories(UserFolder());
    c.open_up();
    const auto before = Entries(UserFolder());
    EXPECT_EQ(LocatedPath(), "status 5370");
    EXPECT_EQ(Entries(UserFolder()), before);
    EXPECT_FALSE(Exists(UserPlace()));
  }
}

TEST_F(HelperToolLocationTest, VerdictNamesTheFirstRuleThatFails) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char *name;
    CopyShape shape;
    mode_t folder_mode;
    TolvanHelperToolCopyVerdict expected;
  };
  const Case cases[] = {
      {"valid", {}, 0755, kTolvanHelperToolCopyValid},
      {"owned by a user, mode 0755",
       {.owner = kNobody, .mode = 0755},
       0755,
       kTolvanHelperToolCopyNotOwnedByRoot},
      {"mode 0755, longer", {.mode = 0755, .extra_bytes = 3}, 0755, kTolvanHelperToolCopyWrongMode},
      {"longer, later",
       {.extra_bytes = 3, .later_seconds = 5},
       0755,
       kTolvanHelperToolCopyWrongSize},
      {"earlier", {.later_seconds = -1}, 0755, kTolvanHelperToolCopyWrongTime},
      {"folder others may write", {}, 0777, kTolvanHelperToolCopyUnsafeFolder},
      {"root's sticky folder", {}, 01777, kTolvanHelperToolCopyValid},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = scratch_.Make(std::string("verdict-") + c.name, c.folder_mode);
    MakeCopy(folder + "/tool", c.shape);
    EXPECT_EQ(VerdictFor(folder + "/tool"), c.expected);
  }
  EXPECT_EQ(VerdictFor(scratch_.path() + "/missing"), kTolvanHelperToolCopyMissing);

  const std::string valid = scratch_.Make("verdict-linked") + "/tool";
  MakeCopy(valid);
  ASSERT_EQ(::symlink(valid.c_str(), (scratch_.path() + "/link").c_str()), 0);
  EXPECT_EQ(VerdictFor(scratch_.path() + "/link"), kTolvanHelperToolCopyWrongMode);

  const std::string nosuid = scratch_.Make("verdict-nosuid");
  const ScratchMount mount = ScratchMount::Tmpfs(nosuid, MS_NOSUID);
  ASSERT_TRUE(mount.mounted());
  MakeCopy(nosuid + "/tool");
  EXPECT_EQ(VerdictFor(nosuid + "/tool"), kTolvanHelperToolCopyNoSetUID);
}

TEST_F(HelperToolLocationTest, StatusOperationsSearchAndNameThePlaceWithoutCreating) {
  std::filesystem::create_directories(UserFolder());
  const CFRef<CFStringRef> subfolder = String(subfolder_);
  const CFRef<CFStringRef> tool = String(kToolName);
  CFRef<CFURLRef> url;
  EXPECT_EQ(TolvanSecCopyValidHelperToolURL(template_.get(), kApplicationSupportFolderType,
                                            subfolder.get(), tool.get(), url.out()),
            fnfErr);
  EXPECT_EQ(TolvanSecCopyHelperToolInstallURL(kApplicationSupportFolderType, subfolder.get(),
                                              tool.get(), url.out()),
            0);
  EXPECT_EQ(PathOf(url.get()), UserPlace());
  EXPECT_TRUE(Entries(UserFolder()).empty());

  if (!IsRoot()) return;
  MakeCopy(LocalPlace());
  EXPECT_EQ(TolvanSecCopyValidHelperToolURL(template_.get(), kApplicationSupportFolderType,
                                            subfolder.get(), tool.get(), url.out()),
            0);
  EXPECT_EQ(PathOf(url.get()), LocalPlace());
}

TEST_F(HelperToolLocationTest, BadNamesAreRefusedBeforeAnythingIsCreated) {
  const std::string names[] = {"", std::string(256, 'a'), "a/b", std::string("a\0b", 3), ".", ".."};
  const CFRef<CFStringRef> good = String("good");
  for (const std::string &name : names) {
    SCOPED_TRACE("name of " + std::to_string(name.size()) + " bytes: " + name);
    const CFRef<CFStringRef> bad = String(name);
    ASSERT_TRUE(bad);
    for (const bool bad_subfolder : {true, false}) {
      CFStringRef subfolder = bad_subfolder ? bad.get() : good.get();
      CFStringRef tool = bad_subfolder ? good.get() : bad.get();
      CFURLRef url = nullptr;
      EXPECT_EQ(TolvanSecCopyHelperToolURLAndCheck(template_.get(), kApplicationSupportFolderType,
                                                   subfolder, tool, &url),
                paramErr);
      EXPECT_EQ(TolvanSecCopyValidHelperToolURL(template_.get(), kApplicationSupportFolderType,
                                                subfolder, tool, &url),
                paramErr);
      EXPECT_EQ(
          TolvanSecCopyHelperToolInstallURL(kApplicationSupportFolderType, subfolder, tool, &url),
          paramErr);
      EXPECT_EQ(url, nullptr);
    }
  }
  EXPECT_FALSE(Exists(home_ + "/.local"));
  // 255 units is still a name.
  CFRef<CFURLRef> url;
  EXPECT_EQ(TolvanSecCopyHelperToolURLAndCheck(template_.get(), kApplicationSupportFolderType,
                                               String(std::string(255, 'a')).get(), good.get(),
                                               url.out()),
            0);
}

TEST_F(HelperToolLocationTest, BundledTemplateIsTheBundlesAuxiliaryExecutable) {
  const std::string bundle_path = scratch_.Make("App.bundle");
  std::filesystem::copy_file(PathOf(template_.get()), bundle_path + "/shipped-tool");
  const CFRef<CFURLRef> bundle_url = CFRef<CFURLRef>::Adopt(CFURLCreateFromFileSystemRepresentation(
      nullptr, reinterpret_cast<const UInt8 *>(bundle_path.data()),
      static_cast<CFIndex>(bundle_path.size()), true));
  const CFRef<CFBundleRef> bundle =
      CFRef<CFBundleRef>::Adopt(CFBundleCreate(nullptr, bundle_url.get()));
  ASSERT_TRUE(bundle);
  CFRef<CFURLRef> url;
  EXPECT_EQ(TolvanSecCopyHelperToolURLAndCheckBundled(
                bundle.get(), String("absent").get(), kApplicationSupportFolderType,
                String(subfolder_).get(), String(kToolName).get(), url.out()),
            -4960);
  EXPECT_EQ(TolvanSecCopyHelperToolURLAndCheckBundled(
                bundle.get(), String("shipped-tool").get(), kApplicationSupportFolderType,
                String(subfolder_).get(), String(kToolName).get(), url.out()),
            0);
  EXPECT_EQ(PathOf(url.get()), UserPlace());
  EXPECT_EQ(ReadFile(UserPlace()), kTemplateContent);
}

}  // namespace
