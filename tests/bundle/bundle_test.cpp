#include "platform/bundle/bundle.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/bundle/info_dictionary.hpp"
#include "tests/bundle/bundle_test_support.hpp"
#include "tests/plist/varn_test_support.hpp"

namespace {

using namespace bundle_test;

TEST(BundleCreate, OnlyAnExistingFolderMakesABundle) {
  TemporaryFolder top;
  WriteFile(top / "file", "x");
  for (const std::string &path : {top / "missing", top / "file"}) {
    EXPECT_FALSE(BundleAt(path)) << path;
  }
  auto bundle = BundleAt(top.Folder("Tool.bundle") + "/");
  ASSERT_TRUE(bundle);
  EXPECT_EQ(CFGetTypeID(bundle.get()), CFBundleGetTypeID());
  EXPECT_NE(CFBundleGetTypeID(), CFDictionaryGetTypeID());
  auto url = CFRef<CFURLRef>::Adopt(CFBundleCopyBundleURL(bundle.get()));
  EXPECT_EQ(PathOf(url), top / "Tool.bundle");
  EXPECT_TRUE(CFURLHasDirectoryPath(url.get()));
}

TEST(BundleCreate, RunningOutOfMemoryAtAnyStepLeavesNothingBehind) {
  TemporaryFolder top;
  std::string folder = top.Folder("Tool.bundle");
  WriteFile(folder + "/Info.plist", InfoNamingExecutable("Tool"));
  auto url = URLFor(folder, true);
  for (long allowed = 0; allowed < 100; ++allowed) {
    varn_test::LimitedDefaultAllocator limited(allowed);
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url.get());
    if (bundle != nullptr) {
      EXPECT_EQ(CFDictionaryGetCount(CFBundleGetInfoDictionary(bundle)), 1);
      CFRelease(bundle);
    }
    EXPECT_EQ(limited.outstanding(), 0) << allowed;
    if (bundle != nullptr) return;
  }
  ADD_FAILURE() << "no bundle even with 100 allocations";
}

// Whatever is at Info.plist, the bundle has a dictionary; only a dictionary
// file contributes keys.
TEST(BundleInfoDictionary, AnythingButADictionaryFileGivesAnEmptyOne) {
  struct Case {
    const char *name;
    std::string content;  // empty: no file
    CFIndex count;
  };
  const std::string large =
      InfoPlist("<dict><key>k</key><string>" + std::string(tolvan::bundle::kMaxInfoPlistSize, 'a') +
                "</string></dict>");
  const Case cases[] = {
      {"absent", "", 0},
      {"a dictionary", InfoPlist("<dict><key>a</key><true/><key>b</key><false/></dict>"), 2},
      {"an array", InfoPlist("<array><string>a</string></array>"), 0},
      {"malformed", InfoPlist("<dict><key>a</key>"), 0},
      {"not XML", "CFBundleExecutable = Tool", 0},
      {"larger than the limit", large, 0},
  };
  for (const Case &c : cases) {
    TemporaryFolder top;
    std::string folder = top.Folder("B.bundle");
    if (!c.content.empty()) WriteFile(folder + "/Info.plist", c.content);
    auto bundle = BundleAt(folder);
    ASSERT_TRUE(bundle) << c.name;
    CFDictionaryRef info = CFBundleGetInfoDictionary(bundle.get());
    ASSERT_NE(info, nullptr) << c.name;
    EXPECT_EQ(CFDictionaryGetCount(info), c.count) << c.name;
  }
}

// A FIFO must not hang the creation, nor a folder be read as the file.
TEST(BundleInfoDictionary, NonRegularInfoPlistIsIgnored) {
  TemporaryFolder top;
  std::string fifo_bundle = top.Folder("Fifo.bundle");
  ASSERT_EQ(::mkfifo((fifo_bundle + "/Info.plist").c_str(), 0600), 0);
  std::string folder_bundle = top.Folder("Folder.bundle");
  top.Folder("Folder.bundle/Info.plist");
  for (const std::string &path : {fifo_bundle, folder_bundle}) {
    auto bundle = BundleAt(path);
    ASSERT_TRUE(bundle) << path;
    EXPECT_EQ(CFDictionaryGetCount(CFBundleGetInfoDictionary(bundle.get())), 0) << path;
  }
}

TEST(BundleExecutable, NamedByInfoPlistOrByTheFolder) {
  struct Case {
    const char *folder;
    std::string info;      // empty: no Info.plist
    const char *file;      // the regular file laid out in the bundle, or null
    const char *expected;  // the executable's name, or null for none
  };
  const Case cases[] = {
      {"Tool.bundle", "", "Tool", "Tool"},
      {"Plain", "", "Plain", "Plain"},
      {"a.b.framework", "", "a.b", "a.b"},
      {".hidden", "", ".hidden", ".hidden"},
      {"Tool.bundle", InfoNamingExecutable("Other"), "Other", "Other"},
      {"Tool.bundle", InfoNamingExecutable("Other"), "Tool", nullptr},
      {"Tool.bundle", "", nullptr, nullptr},
      {"Tool.bundle", InfoPlist("<dict><key>CFBundleExecutable</key><integer>1</integer></dict>"),
       "Tool", "Tool"},
      // Names that would leave the folder are no names, not a fall-back.
      {"Tool.bundle", InfoNamingExecutable("../outside"), "Tool", nullptr},
      {"Tool.bundle", InfoNamingExecutable("sub/Tool"), "Tool", nullptr},
      {"Tool.bundle", InfoNamingExecutable(".."), "Tool", nullptr},
      {"Tool.bundle", InfoNamingExecutable(""), "Tool", nullptr},
  };
  for (const Case &c : cases) {
    TemporaryFolder top;
    WriteFile(top / "outside", "x");
    std::string folder = top.Folder(c.folder);
    top.Folder(std::string(c.folder) + "/sub");
    WriteFile(folder + "/sub/Tool", "x");
    if (!c.info.empty()) WriteFile(folder + "/Info.plist", c.info);
    if (c.file != nullptr) WriteFile(folder + "/" + c.file, "x");
    auto bundle = BundleAt(folder);
    ASSERT_TRUE(bundle) << c.folder;
    auto url = CFRef<CFURLRef>::Adopt(CFBundleCopyExecutableURL(bundle.get()));
    std::string expected = c.expected != nullptr ? folder + "/" + c.expected : "null";
    EXPECT_EQ(PathOf(url), expected) << c.folder << " " << c.info;
    if (url) {
      EXPECT_FALSE(CFURLHasDirectoryPath(url.get()));
    }
  }
}

TEST(BundleExecutable, AFolderIsNoExecutable) {
  TemporaryFolder top;
  std::string folder = top.Folder("Tool.bundle");
  top.Folder("Tool.bundle/Tool");
  auto bundle = BundleAt(folder);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(CFBundleCopyExecutableURL(bundle.get()), nullptr);
  EXPECT_FALSE(CFBundleLoadExecutable(bundle.get()));
}

TEST(BundleAuxiliaryExecutable, OneNameOfARegularFileAtTheTop) {
  TemporaryFolder top;
  WriteFile(top / "outside", "x");
  std::string folder = top.Folder("Tool.bundle");
  WriteFile(folder + "/helper", "x");
  top.Folder("Tool.bundle/folder");
  WriteFile(folder + "/folder/inner", "x");
  std::filesystem::create_symlink(folder + "/helper", folder + "/link");
  auto bundle = BundleAt(folder);
  ASSERT_TRUE(bundle);
  struct Case {
    CFStringRef name;
    const char *expected;  // null: no URL
  };
  const Case cases[] = {
      {CFSTR("helper"), "helper"},
      {CFSTR("link"), "link"},  // a link is followed to the regular file it names
      {CFSTR("missing"), nullptr},
      {CFSTR("folder"), nullptr},
      {CFSTR("folder/inner"), nullptr},
      {CFSTR("../outside"), nullptr},
      {CFSTR("/etc/passwd"), nullptr},
      {CFSTR("."), nullptr},
      {CFSTR(".."), nullptr},
      {CFSTR(""), nullptr},
  };
  for (const Case &c : cases) {
    auto url = CFRef<CFURLRef>::Adopt(CFBundleCopyAuxiliaryExecutableURL(bundle.get(), c.name));
    std::string expected = c.expected != nullptr ? folder + "/" + c.expected : "null";
    EXPECT_EQ(PathOf(url), expected);
  }
  // A NUL would otherwise cut "helper\0junk" down to "helper".
  const UniChar with_nul[] = {'h', 'e', 'l', 'p', 'e', 'r', 0, 'x'};
  auto nul_name =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCharacters(kCFAllocatorDefault, with_nul, 8));
  EXPECT_EQ(CFBundleCopyAuxiliaryExecutableURL(bundle.get(), nul_name.get()), nullptr);
  EXPECT_EQ(CFBundleCopyAuxiliaryExecutableURL(bundle.get(), nullptr), nullptr);
}

using AnswerFunction = int (*)();

// True while the module at path is mapped into this process.
bool IsMapped(const std::string &path) {
  void *handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

// A bundle whose executable is the sample module.
class SampleBundle : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string folder = top.Folder("Sample.bundle");
    executable = folder + "/Sample";
    CopyModule(executable);
    bundle = BundleAt(folder);
    ASSERT_TRUE(bundle);
  }

  TemporaryFolder top;
  std::string executable;
  CFRef<CFBundleRef> bundle;
};

TEST_F(SampleBundle, LoadsLooksUpAndUnloads) {
  EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle.get()));
  EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle.get(), CFSTR("tolvan_sample_answer")),
            nullptr);

  ASSERT_TRUE(CFBundleLoadExecutable(bundle.get()));
  EXPECT_TRUE(CFBundleLoadExecutable(bundle.get()));
  EXPECT_TRUE(CFBundleIsExecutableLoaded(bundle.get()));
  auto answer = reinterpret_cast<AnswerFunction>(
      CFBundleGetFunctionPointerForName(bundle.get(), CFSTR("tolvan_sample_answer")));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), kModuleAnswer);
  EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle.get(), CFSTR("no_such_function")), nullptr);

  // Loading twice took one reference on the module, so one unload maps it out.
  CFBundleUnloadExecutable(bundle.get());
  EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle.get()));
  EXPECT_FALSE(IsMapped(executable));
  EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle.get(), CFSTR("tolvan_sample_answer")),
            nullptr);
  CFBundleUnloadExecutable(bundle.get());
  ASSERT_TRUE(CFBundleLoadExecutable(bundle.get()));
}

TEST_F(SampleBundle, ReleasingTheLastReferenceUnloads) {
  ASSERT_TRUE(CFBundleLoadExecutable(bundle.get()));
  auto second = bundle;  // a second reference keeps it loaded
  bundle.reset();
  EXPECT_TRUE(IsMapped(executable));
  second.reset();
  EXPECT_FALSE(IsMapped(executable));
}

TEST(BundleLoad, WhatCannotBeLoadedIsRefused) {
  struct Case {
    const char *what;
    const char *content;  // null: no executable file
  };
  const Case cases[] = {{"a text file", kNotAProgram}, {"an empty file", ""}, {"missing", nullptr}};
  for (const Case &c : cases) {
    TemporaryFolder top;
    std::string folder = top.Folder("Broken.bundle");
    if (c.content != nullptr) WriteFile(folder + "/Broken", c.content);
    auto bundle = BundleAt(folder);
    ASSERT_TRUE(bundle) << c.what;
    EXPECT_FALSE(CFBundleLoadExecutable(bundle.get())) << c.what;
    EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle.get())) << c.what;
  }
}

TEST_F(SampleBundle, ConcurrentLoadsKeepOneReference) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] { EXPECT_TRUE(CFBundleLoadExecutable(bundle.get())); });
  }
  for (std::thread &thread : threads) thread.join();
  CFBundleUnloadExecutable(bundle.get());
  EXPECT_FALSE(IsMapped(executable));
}

TEST(BundleMain, IsTheFolderOfTheRunningExecutable) {
  std::vector<CFBundleRef> seen(4);
  std::vector<std::thread> threads;
  for (CFBundleRef &slot : seen) {
    threads.emplace_back([&slot] { slot = CFBundleGetMainBundle(); });
  }
  for (std::thread &thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (CFBundleRef bundle : seen) EXPECT_EQ(bundle, seen[0]);
  auto url = CFRef<CFURLRef>::Adopt(CFBundleCopyBundleURL(seen[0]));
  std::filesystem::path executable = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(PathOf(url), executable.parent_path().string());
  auto main_executable = CFRef<CFURLRef>::Adopt(CFBundleCopyAuxiliaryExecutableURL(
      seen[0], CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(kCFAllocatorDefault,
                                                                   executable.filename().c_str(),
                                                                   kCFStringEncodingUTF8))
                   .get()));
  EXPECT_EQ(PathOf(main_executable), executable.string());
}

}  // namespace
