// Throwaway folders and volumes for the tests of where a set-user-ID copy may
// live: a scratch folder under the build tree, tmpfs mounts with chosen
// flags, FAT images mounted by the kernel or through FUSE, and a scoped
// environment variable for HOME and XDG_RUNTIME_DIR.
#ifndef TOLVAN_TESTS_SEC_SCRATCH_VOLUMES_HPP
#define TOLVAN_TESTS_SEC_SCRATCH_VOLUMES_HPP

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/cf/cf_ref.hpp"
#include "platform/files/files.h"
#include "platform/url/url.h"

namespace volume_test {

using tolvan::CFRef;

inline bool IsRoot() { return ::geteuid() == 0; }

inline std::set<std::string> Entries(const std::string &folder) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator(folder, ignored)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

inline bool Exists(const std::string &path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

inline FSRef RefFor(const std::string &path) {
  FSRef ref{};
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), 0) << path;
  return ref;
}

inline CFRef<CFURLRef> FileURL(const std::string &path) {
  return CFRef<CFURLRef>::Adopt(
      CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8 *>(path.data()),
                                              static_cast<CFIndex>(path.size()), false));
}

inline std::string PathOf(CFURLRef url) {
  if (url == nullptr) return "null";
  char path[1024];
  if (!CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8 *>(path), sizeof path)) {
    return "no path";
  }
  return path;
}

// A folder of its own for one test, 0755 so that other users can reach into
// it, removed with everything in it (mounts are the ScratchMount's job).
class ScratchFolder {
 public:
  ScratchFolder() {
    const std::string base = std::string(TOLVAN_BUILD_DIR) + "/volume-tests";
    ::mkdir(base.c_str(), 0755);
    std::string pattern = base + "/scratch-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    ::chmod(path_.c_str(), 0755);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;

  const std::string &path() const { return path_; }
  std::string Make(const std::string &relative, mode_t mode = 0755) const {
    const std::string folder = path_ + "/" + relative;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    ::chmod(folder.c_str(), mode);
    return folder;
  }

 private:
  std::string path_;
};

inline bool RunQuietly(const std::string &command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A volume mounted on a folder for the life of the object; mounted() is
// false when this machine cannot make it (the test then skips).
class ScratchMount {
 public:
  static ScratchMount Tmpfs(const std::string &folder, unsigned long flags) {
    ScratchMount mount(folder);
    mount.mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", flags, "size=1m,mode=0755") == 0;
    return mount;
  }
  // A FAT image: by the kernel when it has vfat, else through fusefat.
  static ScratchMount Fat(const std::string &image, const std::string &folder, bool viaFuse) {
    ScratchMount mount(folder);
    if (!RunQuietly("truncate -s 4M '" + image + "'") || !RunQuietly("mkfs.vfat '" + image + "'")) {
      return mount;
    }
    mount.mounted_ = viaFuse ? RunQuietly("fusefat -o rw+ '" + image + "' '" + folder + "'")
                             : RunQuietly("mount -o loop '" + image + "' '" + folder + "'");
    return mount;
  }

  ScratchMount(ScratchMount &&other) noexcept
      : folder_(std::move(other.folder_)), mounted_(std::exchange(other.mounted_, false)) {}
  ScratchMount &operator=(ScratchMount &&) = delete;
  ~ScratchMount() {
    if (mounted_ && ::umount2(folder_.c_str(), 0) != 0) ::umount2(folder_.c_str(), MNT_DETACH);
  }

  bool mounted() const { return mounted_; }

 private:
  explicit ScratchMount(std::string folder) : folder_(std::move(folder)) {}
  std::string folder_;
  bool mounted_ = false;
};

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char *name, const std::string &value) : name_(name) {
    if (const char *old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment &) = delete;
  ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

 private:
  const char *name_;
  std::optional<std::string> old_;
};

}  // namespace volume_test

#endif
