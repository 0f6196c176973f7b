// Helpers for the file-manager tests: UTF-16 names, references of scratch
// paths, and an environment variable held unset for one test.
#ifndef TOLVAN_TESTS_FILES_FILES_TEST_SUPPORT_HPP
#define TOLVAN_TESTS_FILES_FILES_TEST_SUPPORT_HPP

#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/files/files.h"
#include "tests/sec/scratch_volumes.hpp"

namespace files_test {

using Units = std::u16string;

inline const UniChar *UnitsOf(const Units &name) {
  return reinterpret_cast<const UniChar *>(name.data());
}

inline std::string ModeOf(const std::string &path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "missing";
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  return text;
}

class ScopedUnset {
 public:
  explicit ScopedUnset(const char *name) : name_(name) {
    if (const char *old = std::getenv(name)) old_ = old;
    ::unsetenv(name);
  }
  ~ScopedUnset() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
  }
  ScopedUnset(const ScopedUnset &) = delete;
  ScopedUnset &operator=(const ScopedUnset &) = delete;

 private:
  const char *name_;
  std::optional<std::string> old_;
};

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }
  ScopedUmask(const ScopedUmask &) = delete;
  ScopedUmask &operator=(const ScopedUmask &) = delete;

 private:
  mode_t old_;
};

}  // namespace files_test

#endif
