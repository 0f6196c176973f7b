#include "plist/varn_loading.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/bundle/bundle_test_support.hpp"
#include "tests/plist/varn_test_support.hpp"

namespace {

using namespace bundle_test;
using varn_test::Text;

// A value the loaders must leave alone when they say they do not write.
const int kSentinelTarget = 0;
const CFPropertyListRef kUntouched = &kSentinelTarget;

struct Loaded {
  OSStatus status;
  CFPropertyListRef list;  // owned unless kUntouched or null
  ~Loaded() {
    if (list != nullptr && list != kUntouched) CFRelease(list);
  }
};

Loaded LoadByURL(const std::string &path, CFOptionFlags option = kCFPropertyListImmutable) {
  Loaded loaded{0, kUntouched};
  loaded.status =
      VarnPropertyListCreateFromXMLCFURL(URLFor(path, false).get(), option, &loaded.list);
  return loaded;
}

Loaded LoadByFSRef(const std::string &path, CFOptionFlags option = kCFPropertyListImmutable) {
  Loaded loaded{0, kUntouched};
  FSRef ref;
  if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr) != noErr) {
    loaded.status = -1;
    return loaded;
  }
  loaded.status = VarnPropertyListCreateFromXMLFSRef(&ref, option, &loaded.list);
  return loaded;
}

const std::string kDictionary = InfoPlist("<dict><key>a</key><integer>1</integer></dict>");

TEST(VarnPropertyListLoading, AnyTopLevelTypeLoadsByURLAndByReference) {
  struct Case {
    std::string content;
    const char *text;
  };
  const Case cases[] = {
      {kDictionary, "{a=#1}"},
      {InfoPlist("<array><string>x</string><true/></array>"), "[x,true]"},
      {InfoPlist("<string>alone</string>"), "alone"},
  };
  TemporaryFolder top;
  for (const Case &c : cases) {
    WriteFile(top / "list.plist", c.content);
    for (const Loaded &loaded : {LoadByURL(top / "list.plist"), LoadByFSRef(top / "list.plist")}) {
      EXPECT_EQ(loaded.status, noErr) << c.text;
      EXPECT_EQ(Text(loaded.list), c.text);
    }
  }
}

// The read's own code comes back unchanged and the out parameter is not
// written; data that does not parse is -4960 with a null result.
TEST(VarnPropertyListLoading, FailuresTellReadFromParse) {
  TemporaryFolder top;
  top.Folder("folder");
  WriteFile(top / "text", "this is not a property list");
  WriteFile(top / "empty", "");
  WriteFile(top / "truncated", kDictionary.substr(0, kDictionary.size() / 2));
  struct Case {
    const char *name;
    OSStatus status;
    bool written;
  };
  const Case cases[] = {
      {"missing", ENOENT, false},
      {"folder", EISDIR, false},
      {"text", coreFoundationUnknownErr, true},
      {"empty", coreFoundationUnknownErr, true},
      {"truncated", coreFoundationUnknownErr, true},
  };
  for (const Case &c : cases) {
    Loaded loaded = LoadByURL(top / c.name);
    EXPECT_EQ(loaded.status, c.status) << c.name;
    EXPECT_EQ(loaded.list, c.written ? nullptr : kUntouched) << c.name;
  }
}

// A reference no URL can be made for (its object gone, or a path that is no
// absolute path) is -4960 before any read, the out parameter not written.
TEST(VarnPropertyListLoading, AReferenceWithoutAURLIsRefused) {
  TemporaryFolder top;
  WriteFile(top / "gone.plist", kDictionary);
  FSRef removed;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>((top / "gone.plist").c_str()), &removed,
                          nullptr),
            noErr);
  std::filesystem::remove(top / "gone.plist");
  FSRef empty = {};
  FSRef relative = {};
  std::strcpy(relative.path, "gone.plist");
  for (const FSRef *ref : {&removed, &empty, &relative}) {
    CFPropertyListRef list = kUntouched;
    EXPECT_EQ(VarnPropertyListCreateFromXMLFSRef(ref, kCFPropertyListImmutable, &list),
              coreFoundationUnknownErr)
        << ref->path;
    EXPECT_EQ(list, kUntouched) << ref->path;
  }
}

TEST(VarnPropertyListLoading, MutableContainersCanBeChanged) {
  TemporaryFolder top;
  WriteFile(top / "list.plist", kDictionary);
  for (CFOptionFlags option :
       {kCFPropertyListMutableContainers, kCFPropertyListMutableContainersAndLeaves}) {
    Loaded loaded = LoadByFSRef(top / "list.plist", option);
    ASSERT_EQ(loaded.status, noErr);
    auto dictionary = static_cast<CFMutableDictionaryRef>(const_cast<void *>(loaded.list));
    EXPECT_TRUE(CFDictionarySetValue(dictionary, CFSTR("b"), kCFBooleanTrue));
    EXPECT_EQ(Text(dictionary), "{a=#1,b=true}");
  }
}

// Mutating an immutable dictionary aborts by design.
TEST(VarnPropertyListLoadingDeathTest, ImmutableIsImmutable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TemporaryFolder top;
  WriteFile(top / "list.plist", kDictionary);
  Loaded loaded = LoadByURL(top / "list.plist", kCFPropertyListImmutable);
  ASSERT_EQ(loaded.status, noErr);
  auto dictionary = static_cast<CFMutableDictionaryRef>(const_cast<void *>(loaded.list));
  EXPECT_DEATH(CFDictionarySetValue(dictionary, CFSTR("b"), kCFBooleanTrue), "immutable");
}

// Frameworks live in the system domain's folder under the test build's
// system root. Each test lays out its own, under a name no other test uses
// (tests of this program may run at the same time).
class FrameworksFolder {
 public:
  FrameworksFolder() {
    folder_ = std::string(TOLVAN_SYSTEM_ROOT) + "/usr/lib/frameworks";
    std::filesystem::create_directories(folder_);
  }
  ~FrameworksFolder() {
    std::error_code ignored;
    for (const std::string &name : made_)
      std::filesystem::remove_all(folder_ + "/" + name, ignored);
  }

  // A framework folder whose executable (named after it) holds content, or
  // the sample module when content is null.
  std::string Framework(const std::string &stem, const char *content) {
    std::string name = stem + "-" + std::to_string(::getpid()) + ".framework";
    made_.push_back(name);
    std::filesystem::create_directories(folder_ + "/" + name);
    std::string executable = folder_ + "/" + name + "/" + stem + "-" + std::to_string(::getpid());
    if (content == nullptr) {
      CopyModule(executable);
    } else {
      WriteFile(executable, content);
    }
    return name;
  }

 private:
  std::string folder_;
  std::vector<std::string> made_;
};

CFRef<CFStringRef> Name(const std::string &name) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, name.c_str(), kCFStringEncodingUTF8));
}

TEST(VarnBundleFromFrameworkName, FindsAndLoadsTheFramework) {
  FrameworksFolder frameworks;
  std::string name = frameworks.Framework("Sample", nullptr);
  auto framework_name = Name(name);
  // With another default in place, the loader's objects still come from the
  // system allocator.
  varn_test::LimitedDefaultAllocator other_default(-1);
  CFBundleRef bundle = reinterpret_cast<CFBundleRef>(const_cast<void *>(kUntouched));
  ASSERT_EQ(VarnBundleCreateFromFrameworkName(framework_name.get(), &bundle), noErr);
  auto owned = CFRef<CFBundleRef>::Adopt(bundle);
  ASSERT_NE(bundle, nullptr);
  EXPECT_TRUE(CFBundleIsExecutableLoaded(bundle));
  auto answer = reinterpret_cast<int (*)()>(
      CFBundleGetFunctionPointerForName(bundle, CFSTR("tolvan_sample_answer")));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), kModuleAnswer);
  EXPECT_EQ(CFGetAllocator(bundle), kCFAllocatorSystemDefault);
  auto url = CFRef<CFURLRef>::Adopt(CFBundleCopyBundleURL(bundle));
  EXPECT_EQ(CFGetAllocator(url.get()), kCFAllocatorSystemDefault);
  EXPECT_EQ(other_default.outstanding(), 0);
}

TEST(VarnBundleFromFrameworkName, MissingOrUnloadableIsRefusedWithNull) {
  FrameworksFolder frameworks;
  const std::string names[] = {
      "Absent.framework",
      frameworks.Framework("Text", kNotAProgram),
      frameworks.Framework("Empty", ""),
  };
  for (const std::string &name : names) {
    CFBundleRef bundle = reinterpret_cast<CFBundleRef>(const_cast<void *>(kUntouched));
    EXPECT_EQ(VarnBundleCreateFromFrameworkName(Name(name).get(), &bundle),
              coreFoundationUnknownErr)
        << name;
    EXPECT_EQ(bundle, nullptr) << name;
  }
}

// Every object the loaders make along the way is given back, whichever step
// runs out of memory.
TEST(VarnPropertyListLoading, RunningOutOfMemoryLeavesNothingBehind) {
  TemporaryFolder top;
  WriteFile(top / "list.plist", kDictionary);
  auto url = URLFor(top / "list.plist", false);
  for (long allowed = 0; allowed < 100; ++allowed) {
    varn_test::LimitedDefaultAllocator limited(allowed);
    CFPropertyListRef list = kUntouched;
    OSStatus status =
        VarnPropertyListCreateFromXMLCFURL(url.get(), kCFPropertyListImmutable, &list);
    if (status == noErr) CFRelease(list);
    EXPECT_EQ(limited.outstanding(), 0) << allowed;
    if (status == noErr) return;
    EXPECT_TRUE(list == kUntouched || list == nullptr) << allowed;
  }
  ADD_FAILURE() << "no list even with 100 allocations";
}

}  // namespace
