// The public preference functions, in the test build's own system root:
// staging, saving, reading back, and the coordinates the store keeps.
#include "platform/prefs/preferences.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "tests/prefs/prefs_test_support.hpp"

namespace tolvan::prefs {
namespace {

using test::Exists;
using test::Integer;
using test::IntegerValue;
using test::ParseDictionaryFile;
using test::String;
using test::ValueOf;

// Makes sure the system root has a machine id (other tests may have made
// one; the first to link its file wins) and answers it.
std::string SystemHostID() {
  std::string etc = std::string(TOLVAN_SYSTEM_ROOT) + "/etc";
  std::filesystem::create_directories(etc);
  std::string path = etc + "/machine-id";
  std::string temporary = path + ".prefs-test." + std::to_string(::getpid());
  test::WriteFile(temporary, std::string(test::kTestHostID) + "\n");
  ::link(temporary.c_str(), path.c_str());
  ::unlink(temporary.c_str());
  std::string host_id;
  EXPECT_EQ(ReadHostID(TOLVAN_SYSTEM_ROOT, &host_id), 0);
  return host_id;
}

// Each test has a domain of its own, removed afterwards, so that test
// programs running at the same time never share a file.
class Preferences : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    app_id_text_ = std::string("org.tolvan.test.") + info->name() + "." +
                   std::to_string(::getpid());
    app_id_ = String(app_id_text_.c_str());
    path_ = ByHostFolderPath(TOLVAN_SYSTEM_ROOT) + "/" +
            DomainFileName(app_id_text_, SystemHostID());
  }
  void TearDown() override {
    ::unlink(path_.c_str());
    ::unlink((path_ + ".lock").c_str());
  }

  void Set(const char *key, CFTypeRef value) {
    CFPreferencesSetValue(String(key).get(), value, app_id_.get(), kCFPreferencesAnyUser,
                          kCFPreferencesCurrentHost);
  }
  bool Synchronize() {
    return CFPreferencesSynchronize(app_id_.get(), kCFPreferencesAnyUser,
                                    kCFPreferencesCurrentHost);
  }
  CFRef<CFPropertyListRef> Copy(const char *key) {
    return CFRef<CFPropertyListRef>::Adopt(CFPreferencesCopyValue(
        String(key).get(), app_id_.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
  }

  std::string app_id_text_;
  CFRef<CFStringRef> app_id_;
  std::string path_;
};

CFRef<CFTypeRef> Real(double value) {
  return CFRef<CFTypeRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value));
}

CFRef<CFTypeRef> Data(const std::string &bytes) {
  return CFRef<CFTypeRef>::Adopt(CFDataCreate(
      kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bytes.data()),
      static_cast<CFIndex>(bytes.size())));
}

CFRef<CFTypeRef> Nested() {
  auto array = CFRef<CFMutableArrayRef>::Adopt(
      CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
  CFArrayAppendValue(array.get(), String("\xf0\x9f\x8c\x8d astral").get());
  CFArrayAppendValue(array.get(), Integer(-1).get());
  CFArrayAppendValue(array.get(), kCFBooleanFalse);
  auto inner = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFDictionarySetValue(inner.get(), String("list").get(), array.get());
  CFDictionarySetValue(inner.get(), String("empty").get(),
                       CFRef<CFTypeRef>::Adopt(CFDictionaryCreate(
                           kCFAllocatorDefault, nullptr, nullptr, 0,
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks))
                           .get());
  return CFRef<CFTypeRef>::Adopt(inner.release());
}

TEST_F(Preferences, EveryValueTypeRoundTripsThroughTheFile) {
  struct Pair {
    const char *key;
    CFRef<CFTypeRef> value;
  };
  const Pair pairs[] = {
      {"string", CFRef<CFTypeRef>::Retain(String("Grüße <&> \"quoted\"").get())},
      {"empty string", CFRef<CFTypeRef>::Retain(String("").get())},
      {"integer max",
       CFRef<CFTypeRef>::Retain(Integer(std::numeric_limits<int64_t>::max()).get())},
      {"integer min",
       CFRef<CFTypeRef>::Retain(Integer(std::numeric_limits<int64_t>::min()).get())},
      {"real", Real(-0.1)},
      {"true", CFRef<CFTypeRef>::Retain(kCFBooleanTrue)},
      {"false", CFRef<CFTypeRef>::Retain(kCFBooleanFalse)},
      {"data", Data(std::string("\0\1\2\xff binary", 11))},
      {"empty data", Data("")},
      {"date", CFRef<CFTypeRef>::Adopt(CFDateCreate(kCFAllocatorDefault, 123456789.0))},
      {"nested", Nested()},
      {"ключ", CFRef<CFTypeRef>::Retain(String("значение").get())},
  };
  for (const Pair &pair : pairs) Set(pair.key, pair.value.get());
  ASSERT_TRUE(Synchronize());

  auto on_disk = ParseDictionaryFile(path_);
  ASSERT_TRUE(on_disk);
  EXPECT_EQ(CFDictionaryGetCount(on_disk.get()), static_cast<CFIndex>(std::size(pairs)));
  for (const Pair &pair : pairs) {
    SCOPED_TRACE(pair.key);
    EXPECT_TRUE(CFEqual(ValueOf(on_disk, pair.key), pair.value.get()));
    auto copied = Copy(pair.key);
    ASSERT_TRUE(copied);
    EXPECT_TRUE(CFEqual(copied.get(), pair.value.get()));
  }
  struct stat status{};
  ASSERT_EQ(::stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  EXPECT_EQ(status.st_uid, ::geteuid());
}

TEST_F(Preferences, ANullValueRemovesTheKey) {
  Set("kept", Integer(1).get());
  Set("removed", Integer(2).get());
  ASSERT_TRUE(Synchronize());

  Set("removed", nullptr);
  EXPECT_FALSE(Copy("removed")) << "a staged removal hides the saved value at once";
  ASSERT_TRUE(Synchronize());
  auto on_disk = ParseDictionaryFile(path_);
  EXPECT_EQ(CFDictionaryGetCount(on_disk.get()), 1);
  EXPECT_EQ(IntegerValue(ValueOf(on_disk, "kept")), 1);
  EXPECT_FALSE(Copy("removed"));

  // Removed, then set again before the save: the later change wins.
  Set("again", Integer(3).get());
  Set("again", nullptr);
  Set("again", Integer(4).get());
  ASSERT_TRUE(Synchronize());
  EXPECT_EQ(IntegerValue(Copy("again").get()), 4);
}

TEST_F(Preferences, StagedPairsAreSeenAtOnceAndSurviveAFailedSave) {
  Set("key", Integer(1).get());
  EXPECT_EQ(IntegerValue(Copy("key").get()), 1);
  EXPECT_FALSE(Exists(path_)) << "staging writes nothing";

  // A link planted at the file makes the save fail...
  std::string target = path_ + ".target";
  test::WriteFile(target, "precious");
  ASSERT_EQ(::symlink(target.c_str(), path_.c_str()), 0);
  EXPECT_FALSE(Synchronize());
  EXPECT_EQ(test::ReadFile(target), "precious");
  EXPECT_EQ(IntegerValue(Copy("key").get()), 1);

  // ...and once it is gone, a retry saves what was staged.
  ::unlink(path_.c_str());
  ::unlink(target.c_str());
  ASSERT_TRUE(Synchronize());
  EXPECT_EQ(IntegerValue(ValueOf(ParseDictionaryFile(path_), "key")), 1);
}

TEST_F(Preferences, ASynchronizeWithNothingStagedStillWritesTheFile) {
  ASSERT_TRUE(Synchronize());
  auto on_disk = ParseDictionaryFile(path_);
  ASSERT_TRUE(on_disk);
  EXPECT_EQ(CFDictionaryGetCount(on_disk.get()), 0);
}

TEST_F(Preferences, KeyListAndMultipleSeeSavedAndStagedPairs) {
  Set("saved", Integer(1).get());
  Set("gone", Integer(2).get());
  ASSERT_TRUE(Synchronize());
  Set("staged", Integer(3).get());
  Set("gone", nullptr);

  auto keys = CFRef<CFArrayRef>::Adopt(
      CFPreferencesCopyKeyList(app_id_.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
  ASSERT_TRUE(keys);
  ASSERT_EQ(CFArrayGetCount(keys.get()), 2);
  // Dictionaries enumerate string keys in ascending order.
  EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(keys.get(), 0), String("saved").get()));
  EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(keys.get(), 1), String("staged").get()));

  auto all = CFRef<CFDictionaryRef>::Adopt(CFPreferencesCopyMultiple(
      nullptr, app_id_.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
  ASSERT_TRUE(all);
  EXPECT_EQ(CFDictionaryGetCount(all.get()), 2);

  auto staged = String("staged");
  auto gone = String("gone");
  auto never = String("never");
  const void *wanted[] = {staged.get(), gone.get(), never.get(), kCFBooleanTrue};
  auto wanted_array = CFRef<CFArrayRef>::Adopt(
      CFArrayCreate(kCFAllocatorDefault, wanted, 4, &kCFTypeArrayCallBacks));
  auto some = CFRef<CFDictionaryRef>::Adopt(CFPreferencesCopyMultiple(
      wanted_array.get(), app_id_.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
  ASSERT_TRUE(some);
  EXPECT_EQ(CFDictionaryGetCount(some.get()), 1);
  EXPECT_EQ(IntegerValue(ValueOf(some, "staged")), 3);
}

TEST_F(Preferences, ADomainWithoutAFileReadsAsEmpty) {
  EXPECT_FALSE(Copy("anything"));
  auto keys = CFRef<CFArrayRef>::Adopt(
      CFPreferencesCopyKeyList(app_id_.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
  ASSERT_TRUE(keys);
  EXPECT_EQ(CFArrayGetCount(keys.get()), 0);
}

TEST_F(Preferences, CoordinatesTheStoreDoesNotKeepStageNothingAndNeverSave) {
  struct Coordinates {
    const char *name;
    CFStringRef app;
    CFStringRef user;
    CFStringRef host;
  };
  auto other_user = String("someone");
  auto other_host = String("0123456789abcdef0123456789abcdef");
  const Coordinates cases[] = {
      {"current user", app_id_.get(), kCFPreferencesCurrentUser, kCFPreferencesCurrentHost},
      {"any host", app_id_.get(), kCFPreferencesAnyUser, kCFPreferencesAnyHost},
      {"named user", app_id_.get(), other_user.get(), kCFPreferencesCurrentHost},
      {"named host", app_id_.get(), kCFPreferencesAnyUser, other_host.get()},
      {"no user", app_id_.get(), nullptr, kCFPreferencesCurrentHost},
      {"no host", app_id_.get(), kCFPreferencesAnyUser, nullptr},
      {"any application", kCFPreferencesAnyApplication, kCFPreferencesAnyUser,
       kCFPreferencesCurrentHost},
      {"no application", nullptr, kCFPreferencesAnyUser, kCFPreferencesCurrentHost},
  };
  for (const Coordinates &c : cases) {
    SCOPED_TRACE(c.name);
    CFPreferencesSetValue(String("key").get(), Integer(1).get(), c.app, c.user, c.host);
    EXPECT_FALSE(CFPreferencesCopyValue(String("key").get(), c.app, c.user, c.host));
    EXPECT_FALSE(CFPreferencesCopyKeyList(c.app, c.user, c.host));
    EXPECT_FALSE(CFPreferencesSynchronize(c.app, c.user, c.host));
  }
  // None of them leaked into the machine-wide domain.
  EXPECT_FALSE(Copy("key"));
}

TEST_F(Preferences, InvalidApplicationIDsAndKeysStageNothing) {
  for (const char *app_id : {"", ".", "..", "a/b", "../../etc", ".hidden", "a b", "caf\xc3\xa9"}) {
    SCOPED_TRACE(app_id);
    auto app = String(app_id);
    CFPreferencesSetValue(String("key").get(), Integer(1).get(), app.get(),
                          kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    EXPECT_FALSE(CFPreferencesSynchronize(app.get(), kCFPreferencesAnyUser,
                                          kCFPreferencesCurrentHost));
  }
  // A string with a NUL inside must not pass as its first part.
  const UniChar with_nul[] = {'o', 'r', 'g', 0, 'x'};
  auto nul_app = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCharacters(kCFAllocatorDefault, with_nul, 5));
  EXPECT_FALSE(CFPreferencesSynchronize(nul_app.get(), kCFPreferencesAnyUser,
                                        kCFPreferencesCurrentHost));

  // Keys must be strings.
  CFPreferencesSetValue(reinterpret_cast<CFStringRef>(Integer(5).get()), Integer(1).get(),
                        app_id_.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
  CFPreferencesSetValue(nullptr, Integer(1).get(), app_id_.get(), kCFPreferencesAnyUser,
                        kCFPreferencesCurrentHost);
  ASSERT_TRUE(Synchronize());
  EXPECT_EQ(CFDictionaryGetCount(ParseDictionaryFile(path_).get()), 0);
}

TEST_F(Preferences, CoordinatesCompareByContent) {
  auto any_user = String("kCFPreferencesAnyUser");
  auto current_host = String("kCFPreferencesCurrentHost");
  CFPreferencesSetValue(String("key").get(), Integer(9).get(), app_id_.get(), any_user.get(),
                        current_host.get());
  ASSERT_TRUE(Synchronize());
  EXPECT_EQ(IntegerValue(ValueOf(ParseDictionaryFile(path_), "key")), 9);
}

}  // namespace
}  // namespace tolvan::prefs
