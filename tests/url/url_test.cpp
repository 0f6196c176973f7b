// File URLs: paths resolved against the folder current when they were made,
// component editing, identity, and reading a file's content.
#include "platform/url/url.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/cf/cf_ref.hpp"
#include "tests/plist/varn_test_support.hpp"
#include "tests/sec/scratch_volumes.hpp"

namespace {

using tolvan::CFRef;
using volume_test::FileURL;
using volume_test::PathOf;
using volume_test::ScratchFolder;

CFRef<CFURLRef> URLOf(const std::string &path, bool directory) {
  return CFRef<CFURLRef>::Adopt(
      CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8 *>(path.data()),
                                              static_cast<CFIndex>(path.size()), directory));
}

std::string UnresolvedPathOf(CFURLRef url) {
  char path[4096];
  if (!CFURLGetFileSystemRepresentation(url, false, reinterpret_cast<UInt8 *>(path), sizeof path)) {
    return "no path";
  }
  return path;
}

std::string TextOf(CFStringRef string) {
  if (string == nullptr) return "null";
  char text[4096];
  if (!CFStringGetCString(string, text, sizeof text, kCFStringEncodingUTF8)) return "unconvertible";
  return text;
}

std::string TextOf(const CFRef<CFStringRef> &string) { return TextOf(string.get()); }

CFRef<CFStringRef> StringOf(const std::string &text) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(text.data()),
                              static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

std::string CurrentFolder() {
  char path[4096];
  return ::getcwd(path, sizeof path) != nullptr ? path : "";
}

// Runs the test from another folder and goes back afterwards.
class InFolder {
 public:
  explicit InFolder(const std::string &folder) : previous_(CurrentFolder()) {
    EXPECT_EQ(::chdir(folder.c_str()), 0) << folder;
  }
  ~InFolder() { EXPECT_EQ(::chdir(previous_.c_str()), 0); }

 private:
  std::string previous_;
};

TEST(URLPath, AbsolutePathsDropTrailingSlashesButNotTheRoot) {
  struct Case {
    std::string path;
    bool directory;
    std::string expected;
  } cases[] = {
      {"/a/b", false, "/a/b"}, {"/a/b/", true, "/a/b"}, {"/a//", true, "/a"},
      {"/", true, "/"},        {"//", true, "/"},       {"/a b/\xc3\xa9", false, "/a b/\xc3\xa9"},
  };
  for (const Case &c : cases) {
    auto url = URLOf(c.path, c.directory);
    ASSERT_TRUE(url) << c.path;
    EXPECT_EQ(PathOf(url.get()), c.expected) << c.path;
    EXPECT_EQ(UnresolvedPathOf(url.get()), c.expected) << c.path;
    EXPECT_EQ(
        TextOf(CFRef<CFStringRef>::Adopt(CFURLCopyFileSystemPath(url.get(), kCFURLPOSIXPathStyle))),
        c.expected);
    EXPECT_EQ(CFURLHasDirectoryPath(url.get()), c.directory) << c.path;
  }
}

TEST(URLPath, RefusesEmptyPathsAndPathsHoldingNUL) {
  EXPECT_FALSE(URLOf("", false));
  EXPECT_FALSE(URLOf(std::string("/a\0b", 4), false));
  EXPECT_FALSE(CFURLCreateFromFileSystemRepresentation(nullptr, nullptr, 3, false));
  EXPECT_FALSE(CFURLCreateWithFileSystemPath(nullptr, StringOf(std::string("a\0b", 3)).get(),
                                             kCFURLPOSIXPathStyle, false));
  EXPECT_FALSE(
      CFURLCreateWithFileSystemPath(nullptr, StringOf("").get(), kCFURLPOSIXPathStyle, false));
}

// A lone surrogate cannot become UTF-8; the text before it names another
// path ("/a/b", or ".." as a component) and must not be used in its place.
TEST(URLPath, RefusesTextThatIsNotAPath) {
  const UniChar path[] = {'/', 'a', '/', 'b', 0xD800, '/', 'c'};
  const UniChar dots[] = {'.', '.', 0xD800};
  auto pathString = CFRef<CFStringRef>::Adopt(CFStringCreateWithCharacters(nullptr, path, 7));
  auto dotsString = CFRef<CFStringRef>::Adopt(CFStringCreateWithCharacters(nullptr, dots, 3));
  ASSERT_TRUE(pathString && dotsString);
  EXPECT_FALSE(
      CFURLCreateWithFileSystemPath(nullptr, pathString.get(), kCFURLPOSIXPathStyle, false));
  auto base = URLOf("/a", true);
  EXPECT_FALSE(CFURLCreateCopyAppendingPathComponent(nullptr, base.get(), dotsString.get(), true));
}

TEST(URLPath, RelativePathKeepsTheFolderCurrentWhenItWasMade) {
  ScratchFolder scratch;
  std::string first = scratch.Make("first");
  std::string second = scratch.Make("second");
  CFRef<CFURLRef> url;
  {
    InFolder in(first);
    url = CFRef<CFURLRef>::Adopt(
        CFURLCreateWithFileSystemPath(nullptr, StringOf("x/y").get(), kCFURLPOSIXPathStyle, false));
  }
  InFolder in(second);
  ASSERT_TRUE(url);
  EXPECT_EQ(PathOf(url.get()), first + "/x/y");
  EXPECT_EQ(UnresolvedPathOf(url.get()), "x/y");
  EXPECT_TRUE(CFEqual(url.get(), URLOf(first + "/x/y", false).get()));
}

TEST(URLPath, RelativePathInTheRootFolder) {
  InFolder in("/");
  auto url = URLOf("etc", true);
  ASSERT_TRUE(url);
  EXPECT_EQ(PathOf(url.get()), "/etc");
  EXPECT_EQ(UnresolvedPathOf(url.get()), "etc");
}

TEST(URLPath, RepresentationMustFitTheBuffer) {
  std::string path = "/" + std::string(1100, 'a');
  auto url = URLOf(path, false);
  ASSERT_TRUE(url);
  std::string buffer(2048, '\x7f');
  auto *bytes = reinterpret_cast<UInt8 *>(buffer.data());
  EXPECT_FALSE(CFURLGetFileSystemRepresentation(url.get(), true, bytes, 1024));
  EXPECT_FALSE(
      CFURLGetFileSystemRepresentation(url.get(), true, bytes, static_cast<CFIndex>(path.size())));
  EXPECT_EQ(buffer[0], '\x7f') << "a refused buffer is left alone";
  ASSERT_TRUE(CFURLGetFileSystemRepresentation(url.get(), true, bytes,
                                               static_cast<CFIndex>(path.size() + 1)));
  EXPECT_EQ(std::string(buffer.c_str()), path);
  EXPECT_FALSE(CFURLGetFileSystemRepresentation(url.get(), true, bytes, 0));
}

TEST(URLComponents, Appending) {
  struct Case {
    std::string base;
    std::string component;
    std::string expected;  // "null": refused
  } cases[] = {
      {"/a", "b", "/a/b"},     {"/", "b", "/b"},   {"/a/", "b/", "/a/b"},
      {"/a", "b/c", "/a/b/c"}, {"/a", "", "null"}, {"/a", std::string("b\0c", 3), "null"},
  };
  for (const Case &c : cases) {
    auto base = URLOf(c.base, true);
    auto appended = CFRef<CFURLRef>::Adopt(CFURLCreateCopyAppendingPathComponent(
        nullptr, base.get(), StringOf(c.component).get(), true));
    EXPECT_EQ(PathOf(appended.get()), c.expected) << c.base << " + " << c.component;
    if (appended) {
      EXPECT_TRUE(CFURLHasDirectoryPath(appended.get()));
    }
  }
}

TEST(URLComponents, AppendingToARelativeURLKeepsItRelative) {
  ScratchFolder scratch;
  InFolder in(scratch.path());
  auto url = URLOf("x", true);
  auto appended = CFRef<CFURLRef>::Adopt(
      CFURLCreateCopyAppendingPathComponent(nullptr, url.get(), StringOf("y").get(), false));
  EXPECT_EQ(UnresolvedPathOf(appended.get()), "x/y");
  EXPECT_EQ(PathOf(appended.get()), scratch.path() + "/x/y");
  EXPECT_FALSE(CFURLHasDirectoryPath(appended.get()));
}

TEST(URLComponents, LastComponentAndParent) {
  struct Case {
    std::string path;
    std::string last;
    std::string parent;
  } cases[] = {
      {"/a/b", "b", "/a"},
      {"/a/b/", "b", "/a"},
      {"/a", "a", "/"},
      {"/", "/", "/"},
  };
  for (const Case &c : cases) {
    auto url = URLOf(c.path, false);
    EXPECT_EQ(TextOf(CFRef<CFStringRef>::Adopt(CFURLCopyLastPathComponent(url.get()))), c.last)
        << c.path;
    auto parent =
        CFRef<CFURLRef>::Adopt(CFURLCreateCopyDeletingLastPathComponent(nullptr, url.get()));
    EXPECT_EQ(PathOf(parent.get()), c.parent) << c.path;
    EXPECT_TRUE(CFURLHasDirectoryPath(parent.get())) << c.path;
  }
}

TEST(URLComponents, ParentOfARelativeURL) {
  ScratchFolder scratch;
  InFolder in(scratch.path());
  auto nested = CFRef<CFURLRef>::Adopt(
      CFURLCreateCopyDeletingLastPathComponent(nullptr, URLOf("x/y", false).get()));
  EXPECT_EQ(UnresolvedPathOf(nested.get()), "x");
  // Without a component of its own left, the parent is the base folder.
  auto single = CFRef<CFURLRef>::Adopt(
      CFURLCreateCopyDeletingLastPathComponent(nullptr, URLOf("x", false).get()));
  EXPECT_EQ(UnresolvedPathOf(single.get()), scratch.path());
  EXPECT_EQ(PathOf(single.get()), scratch.path());
}

TEST(URLIdentity, EqualByResolvedPathAndDirectoryFlag) {
  auto url = URLOf("/a/b", false);
  EXPECT_EQ(CFGetTypeID(url.get()), CFURLGetTypeID());
  EXPECT_NE(CFURLGetTypeID(), CFStringGetTypeID());
  auto same = URLOf("/a/b/", false);
  EXPECT_TRUE(CFEqual(url.get(), same.get()));
  EXPECT_EQ(CFHash(url.get()), CFHash(same.get()));
  EXPECT_FALSE(CFEqual(url.get(), URLOf("/a/b", true).get()));
  EXPECT_FALSE(CFEqual(url.get(), URLOf("/a/c", false).get()));
  EXPECT_FALSE(CFEqual(url.get(), StringOf("/a/b").get()));
  auto description = CFRef<CFStringRef>::Adopt(CFCopyDescription(URLOf("/a/b", true).get()));
  EXPECT_EQ(TextOf(description), "file:///a/b/");
  CFRetain(url.get());
  CFRelease(url.get());
  EXPECT_EQ(PathOf(url.get()), "/a/b");
}

void WriteFile(const std::string &path, const std::string &content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  ::close(fd);
}

TEST(URLReferences, BetweenURLsAndReferences) {
  ScratchFolder scratch;
  std::string folder = scratch.Make("folder");
  WriteFile(folder + "/file", "x");
  ASSERT_EQ(::symlink("folder/file", (scratch.path() + "/link").c_str()), 0);

  FSRef ref{};
  ASSERT_TRUE(CFURLGetFSRef(FileURL(scratch.path() + "/link").get(), &ref));
  EXPECT_EQ(std::string(ref.path), folder + "/file") << "a reference holds no link";
  auto fileURL = CFRef<CFURLRef>::Adopt(CFURLCreateFromFSRef(nullptr, &ref));
  EXPECT_EQ(PathOf(fileURL.get()), folder + "/file");
  EXPECT_FALSE(CFURLHasDirectoryPath(fileURL.get()));

  ASSERT_TRUE(CFURLGetFSRef(FileURL(folder).get(), &ref));
  auto folderURL = CFRef<CFURLRef>::Adopt(CFURLCreateFromFSRef(nullptr, &ref));
  EXPECT_TRUE(CFURLHasDirectoryPath(folderURL.get()));

  EXPECT_FALSE(CFURLGetFSRef(FileURL(folder + "/missing").get(), &ref));
  EXPECT_FALSE(CFURLCreateFromFSRef(nullptr, nullptr));
}

struct Read {
  bool ok;
  SInt32 error;
  CFRef<CFDataRef> data;
};

Read ReadResource(const std::string &path) {
  Read read{false, -1, {}};
  read.ok = CFURLCreateDataAndPropertiesFromResource(nullptr, FileURL(path).get(), read.data.out(),
                                                     nullptr, nullptr, &read.error);
  return read;
}

TEST(URLResource, ReadsTheWholeRegularFile) {
  ScratchFolder scratch;
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  struct Case {
    std::string name;
    std::string content;
  } cases[] = {
      {"empty", ""}, {"small", "hello\n"}, {"binary", std::string("a\0b", 3)}, {"big", big}};
  for (const Case &c : cases) {
    WriteFile(scratch.path() + "/" + c.name, c.content);
    Read read = ReadResource(scratch.path() + "/" + c.name);
    ASSERT_TRUE(read.ok) << c.name;
    EXPECT_EQ(read.error, 0);
    ASSERT_TRUE(read.data);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(read.data.get())),
                          static_cast<size_t>(CFDataGetLength(read.data.get()))),
              c.content)
        << c.name;
  }
  ASSERT_EQ(::symlink("small", (scratch.path() + "/link").c_str()), 0);
  Read through = ReadResource(scratch.path() + "/link");
  EXPECT_TRUE(through.ok) << "a data file named through a link is read";
  EXPECT_EQ(CFDataGetLength(through.data.get()), 6);
}

TEST(URLResource, FailuresReportTheErrnoAndNoData) {
  ScratchFolder scratch;
  std::string folder = scratch.Make("folder");
  ASSERT_EQ(::mkfifo((scratch.path() + "/fifo").c_str(), 0600), 0);
  int fd = ::open((scratch.path() + "/huge").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, (off_t{64} << 20) + 1), 0);  // sparse: no disk needed
  ::close(fd);
  WriteFile(scratch.path() + "/limit", "");
  struct Case {
    std::string name;
    SInt32 error;
  } cases[] = {
      {"missing", ENOENT}, {"folder", EISDIR},   {"fifo", EINVAL},
      {"huge", EFBIG},     {"limit/x", ENOTDIR},
  };
  for (const Case &c : cases) {
    Read read = ReadResource(scratch.path() + "/" + c.name);
    EXPECT_FALSE(read.ok) << c.name;
    EXPECT_EQ(read.error, c.error) << c.name;
    EXPECT_FALSE(read.data) << c.name;
  }
}

TEST(URLResource, OnlyTheDataCanBeAskedFor) {
  ScratchFolder scratch;
  WriteFile(scratch.path() + "/file", "x");
  auto url = FileURL(scratch.path() + "/file");
  CFDataRef data = reinterpret_cast<CFDataRef>(1);
  CFDictionaryRef properties = nullptr;
  SInt32 error = 0;
  EXPECT_FALSE(CFURLCreateDataAndPropertiesFromResource(nullptr, url.get(), &data, &properties,
                                                        nullptr, &error));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(error, EINVAL);
  EXPECT_FALSE(CFURLCreateDataAndPropertiesFromResource(nullptr, url.get(), nullptr, nullptr,
                                                        nullptr, &error));
}

// Every allocation that can fail is given the chance to: each call then
// answers null (or false with ENOMEM) and leaves nothing allocated behind.
TEST(URLMemory, RunningOutOfMemoryLosesNothing) {
  ScratchFolder scratch;
  WriteFile(scratch.path() + "/file", "content");
  auto component = StringOf("y");
  InFolder in(scratch.path());
  bool all_made = false;
  for (long allowed = 0; !all_made && allowed < 32; ++allowed) {
    varn_test::LimitedDefaultAllocator limit(allowed);
    {
      auto url = URLOf("file", false);
      CFRef<CFURLRef> appended, parent;
      Read read{false, 0, {}};
      if (url) {
        appended = CFRef<CFURLRef>::Adopt(
            CFURLCreateCopyAppendingPathComponent(nullptr, url.get(), component.get(), false));
        parent = CFRef<CFURLRef>::Adopt(CFURLCreateCopyDeletingLastPathComponent(nullptr, url.get()));
        read.ok = CFURLCreateDataAndPropertiesFromResource(nullptr, url.get(), read.data.out(),
                                                           nullptr, nullptr, &read.error);
        EXPECT_EQ(read.ok, read.error == 0) << allowed;
        EXPECT_EQ(read.ok, static_cast<bool>(read.data)) << allowed;
        EXPECT_TRUE(read.ok || read.error == ENOMEM) << allowed << ": " << read.error;
      }
      all_made = url && appended && parent && read.ok;
    }
    EXPECT_EQ(limit.outstanding(), 0) << "after " << allowed << " allocations";
  }
  EXPECT_TRUE(all_made);
}

}  // namespace
