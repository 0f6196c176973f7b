// The save and the read of one domain under a scratch system root: what
// lands on disk, and what the store refuses to touch.
#include "platform/prefs/preference_store.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/prefs/preference_file_reader.hpp"
#include "platform/prefs/preference_file_writer.hpp"
#include "tests/prefs/prefs_test_support.hpp"

namespace tolvan::prefs {
namespace {

using test::Exists;
using test::IntegerValue;
using test::ListFolder;
using test::ParseDictionaryFile;
using test::ReadFile;
using test::ScratchRoot;
using test::String;
using test::ValueOf;
using test::WriteFile;

StagedChanges ChangesSetting(const char *key, int64_t value) {
  StagedChanges changes;
  EXPECT_TRUE(changes.Stage(String(key).get(), test::Integer(value).get()));
  return changes;
}

int Save(const ScratchRoot &root, const char *key, int64_t value) {
  return SaveDomain(root.path(), test::kTestAppID, ChangesSetting(key, value));
}

bool IsRoot() { return ::geteuid() == 0; }

// A user id nobody on this machine has.
uid_t UnusedUserID() {
  uid_t uid = 61000;
  while (::getpwuid(uid) != nullptr) ++uid;
  return uid;
}

mode_t ModeOf(const std::string &path) {
  struct stat status{};
  ::lstat(path.c_str(), &status);
  return status.st_mode & 07777;
}

TEST(PreferenceStore, SaveCreatesRootOwnedFoldersAndFileWhateverTheUmask) {
  ScratchRoot root;
  mode_t old_umask = ::umask(077);
  int error = Save(root, "answer", 42);
  ::umask(old_umask);
  ASSERT_EQ(error, 0);

  for (const char *folder : {"/var", "/var/lib", "/var/lib/tolvan", "/var/lib/tolvan/preferences",
                             "/var/lib/tolvan/preferences/ByHost"}) {
    EXPECT_EQ(ModeOf(root.path() + folder), 0755u) << folder;
  }
  struct stat status{};
  ASSERT_EQ(::lstat(root.FilePath().c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  EXPECT_EQ(status.st_uid, ::geteuid());
  if (IsRoot()) {
    EXPECT_EQ(status.st_gid, 0u);
  }
  // Only the store's writers may take the lock.
  EXPECT_EQ(ModeOf(root.FilePath() + ".lock"), 0600u);
  EXPECT_EQ(IntegerValue(ValueOf(ParseDictionaryFile(root.FilePath()), "answer")), 42);
  // Nothing else is left next to the file.
  EXPECT_EQ(ListFolder(root.Folder()),
            (std::set<std::string>{root.FileName(), root.FileName() + ".lock"}));
}

TEST(PreferenceStore, SaveMergesWithWhatIsAlreadySaved) {
  ScratchRoot root;
  ASSERT_EQ(Save(root, "first", 1), 0);
  ASSERT_EQ(Save(root, "second", 2), 0);
  StagedChanges removal;
  ASSERT_TRUE(removal.Stage(String("first").get(), nullptr));
  ASSERT_EQ(SaveDomain(root.path(), test::kTestAppID, removal), 0);

  CFRef<CFDictionaryRef> saved;
  ASSERT_EQ(CopySavedDomain(root.path(), test::kTestAppID, &saved), 0);
  EXPECT_EQ(CFDictionaryGetCount(saved.get()), 1);
  EXPECT_EQ(IntegerValue(ValueOf(saved, "second")), 2);
}

TEST(PreferenceStore, ReadingAMissingStoreGivesAnEmptyDictionaryAndCreatesNothing) {
  ScratchRoot root;
  CFRef<CFDictionaryRef> saved;
  ASSERT_EQ(CopySavedDomain(root.path(), test::kTestAppID, &saved), 0);
  EXPECT_EQ(CFDictionaryGetCount(saved.get()), 0);
  EXPECT_FALSE(Exists(root.path() + "/var"));
}

struct MachineIDCase {
  const char *name;
  const char *content;  // null: no file
  int expected;
};

TEST(PreferenceStore, MachineIDMustBeThirtyTwoLowerCaseHexDigits) {
  const MachineIDCase cases[] = {
      {"missing", nullptr, ENOENT},
      {"empty", "", EINVAL},
      {"uninitialized", "uninitialized\n", EINVAL},
      {"one digit short", "0123456789abcdef0123456789abcde\n", EINVAL},
      {"one digit long", "0123456789abcdef0123456789abcdef0\n", EINVAL},
      {"upper case", "0123456789ABCDEF0123456789ABCDEF\n", EINVAL},
      {"a path in it", "../../../../etc/passwd/0123456789a\n", EINVAL},
      {"second line", "0123456789abcdef0123456789abcdef\nx", EINVAL},
      {"two newlines", "0123456789abcdef0123456789abcdef\n\n", EINVAL},
      {"no newline", "0123456789abcdef0123456789abcdef", 0},
      {"newline", "0123456789abcdef0123456789abcdef\n", 0},
  };
  for (const MachineIDCase &c : cases) {
    SCOPED_TRACE(c.name);
    ScratchRoot root;
    if (c.content == nullptr) {
      ::unlink((root.path() + "/etc/machine-id").c_str());
    } else {
      root.WriteMachineID(c.content);
    }
    EXPECT_EQ(Save(root, "key", 1), c.expected);
    // A save that cannot name its file makes no folders either.
    if (c.expected != 0) {
      EXPECT_FALSE(Exists(root.path() + "/var"));
    }
  }
}

TEST(PreferenceStore, InvalidApplicationIDsAreRefusedBeforeAnythingIsTouched) {
  ScratchRoot root;
  for (const char *app_id : {"", ".", "..", ".hidden", "a/b", "../x", "a b", "a~b", "a\\b"}) {
    SCOPED_TRACE(app_id);
    EXPECT_EQ(SaveDomain(root.path(), app_id, ChangesSetting("k", 1)), EINVAL);
    CFRef<CFDictionaryRef> saved;
    EXPECT_EQ(CopySavedDomain(root.path(), app_id, &saved), EINVAL);
  }
  EXPECT_EQ(SaveDomain(root.path(), std::string(kMaxApplicationIDLength + 1, 'a'),
                       ChangesSetting("k", 1)),
            EINVAL);
  EXPECT_FALSE(Exists(root.path() + "/var"));
  EXPECT_EQ(SaveDomain(root.path(), std::string(kMaxApplicationIDLength, 'a'),
                       ChangesSetting("k", 1)),
            0);
}

// ---- links and untrusted files ------------------------------------------

struct PlantedLink {
  const char *name;
  std::string at;      // where the link is planted, relative to the root
  bool target_folder;  // the link leads to a folder (else to a file)
};

TEST(PreferenceStore, NothingIsWrittenThroughAPlantedSymbolicLink) {
  ScratchRoot probe;
  const std::string file = "/var/lib/tolvan/preferences/ByHost/" + probe.FileName();
  const PlantedLink cases[] = {
      {"at the file", file, false},
      {"at the lock file", file + ".lock", false},
      {"at the folder", "/var/lib/tolvan/preferences/ByHost", true},
      {"at a parent folder", "/var/lib/tolvan", true},
      {"at the top folder", "/var", true},
  };
  for (const PlantedLink &c : cases) {
    SCOPED_TRACE(c.name);
    ScratchRoot root;
    root.MakeFolders();
    // The target is what an attacker wants overwritten: a file or a folder
    // elsewhere, with content that must survive.
    std::string target = root.path() + "/target";
    if (c.target_folder) {
      ::mkdir(target.c_str(), 0755);
      WriteFile(target + "/precious", "precious");
    } else {
      WriteFile(target, "precious");
    }
    std::filesystem::remove_all(root.path() + c.at);
    ASSERT_EQ(::symlink(target.c_str(), (root.path() + c.at).c_str()), 0);

    EXPECT_NE(Save(root, "key", 1), 0);
    if (c.target_folder) {
      EXPECT_EQ(ListFolder(target), std::set<std::string>{"precious"});
      EXPECT_EQ(ReadFile(target + "/precious"), "precious");
    } else {
      EXPECT_EQ(ReadFile(target), "precious");
    }
    // A dangling link is no better: nothing may be created through it.
    std::filesystem::remove_all(target);
    EXPECT_NE(Save(root, "key", 1), 0);
    EXPECT_FALSE(Exists(target));
  }
}

TEST(PreferenceStore, ReaderRefusesLinksToo) {
  ScratchRoot root;
  root.MakeFolders();
  std::string target = root.path() + "/target.plist";
  ASSERT_EQ(Save(root, "key", 1), 0);
  ASSERT_EQ(::rename(root.FilePath().c_str(), target.c_str()), 0);
  ASSERT_EQ(::symlink(target.c_str(), root.FilePath().c_str()), 0);
  CFRef<CFDictionaryRef> saved;
  EXPECT_NE(CopySavedDomain(root.path(), test::kTestAppID, &saved), 0);
}

TEST(PreferenceStore, AHardLinkedOrNonRegularFileIsRefusedAndLeftAlone) {
  {
    SCOPED_TRACE("hard link");
    ScratchRoot root;
    ASSERT_EQ(Save(root, "key", 1), 0);
    std::string other = root.path() + "/other-name";
    ASSERT_EQ(::link(root.FilePath().c_str(), other.c_str()), 0);
    std::string before = ReadFile(other);
    EXPECT_EQ(Save(root, "key", 2), EPERM);
    EXPECT_EQ(ReadFile(other), before);
  }
  {
    SCOPED_TRACE("FIFO: refused without waiting for a writer");
    ScratchRoot root;
    root.MakeFolders();
    ASSERT_EQ(::mkfifo(root.FilePath().c_str(), 0644), 0);
    EXPECT_EQ(Save(root, "key", 1), EPERM);
  }
  {
    SCOPED_TRACE("folder");
    ScratchRoot root;
    root.MakeFolders();
    ASSERT_EQ(::mkdir(root.FilePath().c_str(), 0755), 0);
    EXPECT_NE(Save(root, "key", 1), 0);
  }
  {
    SCOPED_TRACE("file writable by others");
    ScratchRoot root;
    ASSERT_EQ(Save(root, "key", 1), 0);
    ASSERT_EQ(::chmod(root.FilePath().c_str(), 0666), 0);
    EXPECT_EQ(Save(root, "key", 2), EPERM);
    EXPECT_EQ(IntegerValue(ValueOf(ParseDictionaryFile(root.FilePath()), "key")), 1);
  }
}

struct FolderCase {
  const char *name;
  const char *folder;  // relative to the root
  mode_t mode;
  bool foreign_owner;
  bool accepted;
};

TEST(PreferenceStore, FoldersMustBelongToRootAndBeWritableByNobodyElse) {
  const char *by_host = "/var/lib/tolvan/preferences/ByHost";
  const FolderCase cases[] = {
      {"group-writable folder", by_host, 0775, false, false},
      {"folder writable by others", by_host, 0757, false, false},
      {"sticky folder writable by all", by_host, 01777, false, false},
      {"parent writable by others", "/var/lib", 0757, false, false},
      {"sticky parent writable by all", "/var/lib", 01777, false, true},
      {"folder of another user", by_host, 0755, true, false},
      {"parent of another user", "/var/lib/tolvan", 0755, true, false},
      {"sticky parent of another user", "/var", 01777, true, false},
  };
  for (const FolderCase &c : cases) {
    SCOPED_TRACE(c.name);
    // Root-owned sticky folders and foreign owners can only be set up by root.
    bool needs_root = c.foreign_owner || (c.mode & S_ISVTX) != 0;
    if (needs_root && !IsRoot()) continue;
    ScratchRoot root;
    ASSERT_EQ(Save(root, "key", 1), 0);
    std::string folder = root.path() + c.folder;
    ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
    if (c.foreign_owner) {
      ASSERT_EQ(::chown(folder.c_str(), UnusedUserID(), 0), 0);
    }

    int error = Save(root, "key", 2);
    CFRef<CFDictionaryRef> saved;
    int read_error = CopySavedDomain(root.path(), test::kTestAppID, &saved);
    if (c.accepted) {
      EXPECT_EQ(error, 0);
      EXPECT_EQ(read_error, 0);
    } else {
      EXPECT_EQ(error, EPERM);
      EXPECT_EQ(read_error, EPERM);
      EXPECT_EQ(IntegerValue(ValueOf(ParseDictionaryFile(root.FilePath()), "key")), 1);
    }
    if (c.foreign_owner) ::chown(folder.c_str(), 0, 0);
  }
  if (!IsRoot()) GTEST_SKIP() << "foreign owners and root-owned sticky folders need root";
}

TEST(PreferenceStore, AFileOfAnotherUserIsRefused) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to give the file away";
  ScratchRoot root;
  ASSERT_EQ(Save(root, "key", 1), 0);
  ASSERT_EQ(::chown(root.FilePath().c_str(), UnusedUserID(), 0), 0);
  EXPECT_EQ(Save(root, "key", 2), EPERM);
  CFRef<CFDictionaryRef> saved;
  EXPECT_EQ(CopySavedDomain(root.path(), test::kTestAppID, &saved), EPERM);
  EXPECT_EQ(IntegerValue(ValueOf(ParseDictionaryFile(root.FilePath()), "key")), 1);
}

TEST(PreferenceStore, ALockFileOfAnotherUserIsRefused) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to give the file away";
  ScratchRoot root;
  ASSERT_EQ(Save(root, "key", 1), 0);
  ASSERT_EQ(::chown((root.FilePath() + ".lock").c_str(), UnusedUserID(), 0), 0);
  EXPECT_EQ(Save(root, "key", 2), EPERM);
}

// ---- corrupt files ---------------------------------------------------------

struct CorruptCase {
  const char *name;
  std::string content;
};

std::vector<std::string> AsideFiles(const ScratchRoot &root) {
  std::vector<std::string> names;
  for (const std::string &name : ListFolder(root.Folder())) {
    if (name.rfind(root.FileName() + ".corrupt~", 0) == 0) names.push_back(name);
  }
  return names;
}

std::string SavedDocumentOf(const char *key) {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
             "\t<key>") +
         key + "</key>\n\t<integer>7</integer>\n</dict>\n</plist>\n";
}

TEST(PreferenceStore, ACorruptFileIsMovedAsideAndKeptAndTheSaveGoesOn) {
  const std::string valid = SavedDocumentOf("old");
  const CorruptCase cases[] = {
      {"garbage", "\x01\x02 not a property list \xff"},
      {"empty file", ""},
      {"cut short", valid.substr(0, valid.size() / 2)},
      {"an array, not a dictionary",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n"
       "\t<integer>1</integer>\n</array>\n</plist>\n"},
      {"a string, not a dictionary", "<plist version=\"1.0\"><string>x</string></plist>"},
      {"trailing garbage", valid + "<dict/>"},
  };
  for (const CorruptCase &c : cases) {
    SCOPED_TRACE(c.name);
    ScratchRoot root;
    root.MakeFolders();
    WriteFile(root.FilePath(), c.content);

    // The reader, perhaps unprivileged, sees nothing and moves nothing.
    CFRef<CFDictionaryRef> saved;
    ASSERT_EQ(CopySavedDomain(root.path(), test::kTestAppID, &saved), 0);
    EXPECT_EQ(CFDictionaryGetCount(saved.get()), 0);
    EXPECT_TRUE(AsideFiles(root).empty());

    ASSERT_EQ(Save(root, "new", 1), 0);
    std::vector<std::string> aside = AsideFiles(root);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFile(root.Folder() + "/" + aside[0]), c.content);
    auto now = ParseDictionaryFile(root.FilePath());
    ASSERT_TRUE(now);
    EXPECT_EQ(CFDictionaryGetCount(now.get()), 1);
    EXPECT_EQ(IntegerValue(ValueOf(now, "new")), 1);
  }
}

TEST(PreferenceStore, AValidFileIsNeverMovedAside) {
  ScratchRoot root;
  root.MakeFolders();
  WriteFile(root.FilePath(), SavedDocumentOf("old"));
  ASSERT_EQ(Save(root, "new", 1), 0);
  EXPECT_TRUE(AsideFiles(root).empty());
  auto now = ParseDictionaryFile(root.FilePath());
  EXPECT_EQ(IntegerValue(ValueOf(now, "old")), 7);
  EXPECT_EQ(IntegerValue(ValueOf(now, "new")), 1);
}

TEST(PreferenceStore, AFileOverTheSizeLimitIsCorruptAndNeverWritten) {
  ScratchRoot root;
  root.MakeFolders();
  {
    // Sparse: costs no disk space.
    WriteFile(root.FilePath(), "");
    ASSERT_EQ(::truncate(root.FilePath().c_str(), kMaxPreferenceFileSize + 1), 0);
    ASSERT_EQ(Save(root, "key", 1), 0);
    ASSERT_EQ(AsideFiles(root).size(), 1u);
  }
  // A save whose result would pass the limit fails and leaves the file.
  std::string big(kMaxPreferenceFileSize, 'x');
  auto value = CFRef<CFDataRef>::Adopt(CFDataCreate(
      kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(big.data()),
      static_cast<CFIndex>(big.size())));
  StagedChanges changes;
  ASSERT_TRUE(changes.Stage(String("big").get(), value.get()));
  std::string before = ReadFile(root.FilePath());
  EXPECT_EQ(SaveDomain(root.path(), test::kTestAppID, changes), EFBIG);
  EXPECT_EQ(ReadFile(root.FilePath()), before);
}

// ---- memory ---------------------------------------------------------------

// The default allocator while a test runs: it fails every allocation once
// its budget is spent.
long allocation_budget = 0;

void *BudgetAllocate(CFIndex size, CFOptionFlags, void *) {
  if (allocation_budget-- <= 0) return nullptr;
  return std::malloc(static_cast<size_t>(size));
}
void *BudgetReallocate(void *pointer, CFIndex size, CFOptionFlags, void *) {
  if (allocation_budget-- <= 0) return nullptr;
  return std::realloc(pointer, static_cast<size_t>(size));
}
void BudgetDeallocate(void *pointer, void *) { std::free(pointer); }

TEST(PreferenceStore, RunningOutOfMemoryFailsTheSaveAndNeverMovesGoodPreferencesAside) {
  ScratchRoot root;
  StagedChanges many;
  for (int i = 0; i < 20; ++i) {
    std::string key = "saved" + std::to_string(i);
    ASSERT_TRUE(many.Stage(String(key.c_str()).get(), String("some value").get()));
  }
  ASSERT_EQ(SaveDomain(root.path(), test::kTestAppID, many), 0);
  const std::string before = ReadFile(root.FilePath());
  StagedChanges change = ChangesSetting("new", 1);

  CFAllocatorContext context{};
  context.allocate = BudgetAllocate;
  context.reallocate = BudgetReallocate;
  context.deallocate = BudgetDeallocate;
  auto budgeted = CFRef<CFAllocatorRef>::Adopt(CFAllocatorCreate(kCFAllocatorSystemDefault, &context));
  ASSERT_TRUE(budgeted);
  int error = ENOMEM;
  long budget = 0;
  for (; budget < 100000 && error != 0; ++budget) {
    allocation_budget = budget;
    CFAllocatorSetDefault(budgeted.get());
    error = SaveDomain(root.path(), test::kTestAppID, change);
    CFAllocatorSetDefault(nullptr);
    if (error != 0) {
      ASSERT_EQ(error, ENOMEM) << "budget " << budget;
      ASSERT_EQ(ReadFile(root.FilePath()), before) << "budget " << budget;
      ASSERT_TRUE(AsideFiles(root).empty()) << "budget " << budget;
    }
  }
  ASSERT_EQ(error, 0);
  RecordProperty("allocations_of_a_save", budget);
  auto now = ParseDictionaryFile(root.FilePath());
  EXPECT_EQ(CFDictionaryGetCount(now.get()), 21);
  EXPECT_EQ(IntegerValue(ValueOf(now, "new")), 1);
}

// A small tmpfs mounted over a folder for one test, unmounted at the end.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string &at, const char *size) : at_(at) {
    std::filesystem::create_directories(at_);
    std::string options = std::string("size=") + size + ",mode=0755";
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

// Fills the file system holding folder until a write fails for want of
// space.
void FillUp(const std::string &folder) {
  int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  EXPECT_EQ(errno, ENOSPC);
  ::close(fd);
}

TEST(PreferenceStore, AFullFileSystemFailsTheSaveAndKeepsTheOldFile) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to mount a small file system";
  ScratchRoot root;
  SmallFileSystem small(root.path() + "/var", "256k");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  constexpr size_t kPayload = 16 * 1024;
  StagedChanges first;
  ASSERT_TRUE(test::StageGeneration(1, kPayload, &first));
  ASSERT_EQ(SaveDomain(root.path(), test::kTestAppID, first), 0);
  FillUp(root.Folder());

  StagedChanges second;
  ASSERT_TRUE(test::StageGeneration(2, kPayload, &second));
  EXPECT_EQ(SaveDomain(root.path(), test::kTestAppID, second), ENOSPC);
  EXPECT_EQ(test::GenerationIn(ParseDictionaryFile(root.FilePath()).get(), kPayload), 1);
  EXPECT_EQ(ListFolder(root.Folder()),
            (std::set<std::string>{root.FileName(), root.FileName() + ".lock", "filler"}));

  // With room again, the same changes save.
  ::unlink((root.Folder() + "/filler").c_str());
  EXPECT_EQ(SaveDomain(root.path(), test::kTestAppID, second), 0);
  EXPECT_EQ(test::GenerationIn(ParseDictionaryFile(root.FilePath()).get(), kPayload), 2);
}

// ---- temporary files -------------------------------------------------------

TEST(PreferenceStore, TemporaryFilesOfKilledSaversAreRemovedByTheNextSave) {
  ScratchRoot root;
  ASSERT_EQ(Save(root, "key", 1), 0);
  const std::string stale = TemporaryFileName(root.FileName(), "0123456789abcdef");
  // Names that only look alike belong to someone else and stay.
  const std::vector<std::string> kept = {
      TemporaryFileName(root.FileName(), "0123456789ABCDEF"),
      TemporaryFileName(root.FileName(), "0123456789abcde"),
      TemporaryFileName(root.FileName(), "0123456789abcdef0"),
      TemporaryFileName(root.FileName("org.tolvan.other"), "0123456789abcdef"),
      AsideFileName(root.FileName(), "0123456789abcdef"),
  };
  WriteFile(root.Folder() + "/" + stale, "half a save");
  for (const std::string &name : kept) WriteFile(root.Folder() + "/" + name, "x");

  ASSERT_EQ(Save(root, "key", 2), 0);
  EXPECT_FALSE(Exists(root.Folder() + "/" + stale));
  for (const std::string &name : kept) EXPECT_TRUE(Exists(root.Folder() + "/" + name)) << name;
}

}  // namespace
}  // namespace tolvan::prefs
