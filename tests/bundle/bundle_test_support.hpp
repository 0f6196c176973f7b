// Laying out bundle folders for the bundle and loader tests.
#ifndef TOLVAN_TESTS_BUNDLE_BUNDLE_TEST_SUPPORT_HPP
#define TOLVAN_TESTS_BUNDLE_BUNDLE_TEST_SUPPORT_HPP

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/bundle/bundle.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/url/url.h"

namespace bundle_test {

using tolvan::CFRef;

// The built module (tests/bundle/sample_module.c) and what its one function,
// tolvan_sample_answer, answers.
inline constexpr const char *kModulePath = TOLVAN_SAMPLE_MODULE_PATH;
inline constexpr int kModuleAnswer = 42;

inline const char *kNotAProgram = "#!/bin/sh\necho this is text, not a loadable object\n";

inline void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline void CopyModule(const std::string &path) {
  std::filesystem::copy_file(kModulePath, path, std::filesystem::copy_options::overwrite_existing);
}

inline std::string InfoPlist(const std::string &body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
         "\n</plist>\n";
}

inline std::string InfoNamingExecutable(const std::string &name) {
  return InfoPlist("<dict><key>CFBundleExecutable</key><string>" + name + "</string></dict>");
}

inline CFRef<CFURLRef> URLFor(const std::string &path, bool isDirectory) {
  return CFRef<CFURLRef>::Adopt(CFURLCreateFromFileSystemRepresentation(
      kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(path.data()),
      static_cast<CFIndex>(path.size()), isDirectory));
}

inline CFRef<CFBundleRef> BundleAt(const std::string &path) {
  auto url = URLFor(path, true);
  return CFRef<CFBundleRef>::Adopt(CFBundleCreate(kCFAllocatorDefault, url.get()));
}

// The resolved path of a URL, or "null".
inline std::string PathOf(CFURLRef url) {
  if (url == nullptr) return "null";
  char path[4096];
  if (!CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8 *>(path), sizeof path)) {
    return "?";
  }
  return path;
}

inline std::string PathOf(const CFRef<CFURLRef> &url) { return PathOf(url.get()); }

// A fresh folder under /tmp, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    char pattern[] = "/tmp/tolvan-bundle-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder &) = delete;
  TemporaryFolder &operator=(const TemporaryFolder &) = delete;

  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  // A sub-folder, returned as its path.
  std::string Folder(const std::string &name) const {
    std::string folder = *this / name;
    std::filesystem::create_directories(folder);
    return folder;
  }

 private:
  std::string path_;
};

}  // namespace bundle_test

#endif
