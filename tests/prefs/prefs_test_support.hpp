// Shared pieces of the preference-store tests: a scratch system root per
// test, small value makers, and file-system helpers.
#ifndef TOLVAN_TESTS_PREFS_PREFS_TEST_SUPPORT_HPP
#define TOLVAN_TESTS_PREFS_PREFS_TEST_SUPPORT_HPP

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/prefs/preference_location.hpp"
#include "tests/prefs/generation_content.hpp"

namespace tolvan::prefs::test {

inline constexpr char kTestHostID[] = "0123456789abcdef0123456789abcdef";

inline void WriteFile(const std::string &path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string &path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

inline std::set<std::string> ListFolder(const std::string &path) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator(path, ignored)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A system root of its own for one test, under the build folder (whose
// parents are root's and not writable by others, as the store demands),
// with a valid machine id. Removed with everything in it at the end.
class ScratchRoot {
 public:
  ScratchRoot() {
    std::string base = std::string(TOLVAN_BUILD_DIR) + "/prefs-test-roots";
    ::mkdir(base.c_str(), 0755);
    std::string pattern = base + "/root-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    ::chmod(path_.c_str(), 0755);
    ::mkdir((path_ + "/etc").c_str(), 0755);
    WriteMachineID(std::string(kTestHostID) + "\n");
  }
  ~ScratchRoot() {
    std::error_code ignored;
    // Tests may leave folders without write permission; give them back
    // first so that the removal goes through when not running as root.
    for (const auto &entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
      if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
        ::chmod(entry.path().c_str(), 0755);
      }
    }
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchRoot(const ScratchRoot &) = delete;
  ScratchRoot &operator=(const ScratchRoot &) = delete;

  const std::string &path() const { return path_; }
  void WriteMachineID(std::string_view content) const {
    WriteFile(path_ + "/etc/machine-id", content);
  }
  std::string Folder() const { return ByHostFolderPath(path_); }
  std::string FileName(std::string_view app_id = kTestAppID) const {
    return DomainFileName(app_id, kTestHostID);
  }
  std::string FilePath(std::string_view app_id = kTestAppID) const {
    return Folder() + "/" + FileName(app_id);
  }
  void MakeFolders() const {
    std::filesystem::create_directories(Folder());
  }

 private:
  std::string path_;
};

inline CFRef<CFStringRef> String(const char *utf8) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, utf8, kCFStringEncodingUTF8));
}

inline CFRef<CFNumberRef> Integer(int64_t value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
}

inline int64_t IntegerValue(CFTypeRef number) {
  int64_t value = -1;
  if (number == nullptr || CFGetTypeID(number) != CFNumberGetTypeID() ||
      !CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt64Type, &value)) {
    return -1;
  }
  return value;
}

// The dictionary a file holds, or null when it does not parse as one.
inline CFRef<CFDictionaryRef> ParseDictionaryFile(const std::string &path) {
  std::string bytes = ReadFile(path);
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(
      kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bytes.data()),
      static_cast<CFIndex>(bytes.size())));
  auto list = CFRef<CFPropertyListRef>::Adopt(
      CFPropertyListCreateFromXMLData(kCFAllocatorDefault, data.get(), kCFPropertyListImmutable,
                                      nullptr));
  if (!list || CFGetTypeID(list.get()) != CFDictionaryGetTypeID()) return {};
  return CFRef<CFDictionaryRef>::Adopt(static_cast<CFDictionaryRef>(list.release()));
}

inline CFTypeRef ValueOf(const CFRef<CFDictionaryRef> &dictionary, const char *key) {
  if (!dictionary) return nullptr;
  return CFDictionaryGetValue(dictionary.get(), String(key).get());
}

}  // namespace tolvan::prefs::test

#endif
