// The bundle of the running program: the folder that holds its executable.
#include <limits.h>

#include <cstring>

#include "platform/bundle/bundle.h"
#include "platform/cf/cf_ref.hpp"
#include "unix/executable_path.h"

namespace {

CFBundleRef CreateMainBundle() {
  char path[PATH_MAX];
  uint32_t size = sizeof path;
  if (TolvanGetExecutablePath(path, &size) != 0) return nullptr;
  char *last_slash = std::strrchr(path, '/');
  if (last_slash == nullptr) return nullptr;
  // An executable at the root of the file system lives in "/".
  size_t folder_length = last_slash == path ? 1 : static_cast<size_t>(last_slash - path);
  auto folder = tolvan::CFRef<CFURLRef>::Adopt(CFURLCreateFromFileSystemRepresentation(
      kCFAllocatorSystemDefault, reinterpret_cast<const UInt8 *>(path),
      static_cast<CFIndex>(folder_length), true));
  if (!folder) return nullptr;
  return CFBundleCreate(kCFAllocatorSystemDefault, folder.get());
}

}  // namespace

// Made once, on first use, and kept for the life of the process; a failure
// is not retried, so every caller sees the same answer.
CFBundleRef CFBundleGetMainBundle(void) {
  static const CFBundleRef main_bundle = CreateMainBundle();
  return main_bundle;
}
