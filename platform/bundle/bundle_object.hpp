// The bundle object shared by the files of this folder.
//
// A bundle remembers its folder as an absolute path (as its URL resolved
// when it was made) and the Info.plist dictionary read then. The handle of
// its loaded executable is swapped atomically, so that a load racing an
// unload never leaks a handle or closes one twice.
#ifndef TOLVAN_PLATFORM_BUNDLE_BUNDLE_OBJECT_HPP
#define TOLVAN_PLATFORM_BUNDLE_BUNDLE_OBJECT_HPP

#include <atomic>
#include <cstddef>

#include "platform/bundle/bundle.h"
#include "platform/cf/object.hpp"

struct TolvanCFBundle {
  tolvan::cf::Object header;
  CFURLRef url;  // a directory URL of path
  CFDictionaryRef info;
  char *path;  // NUL-terminated, from the bundle's allocator
  std::atomic<void *> library;  // dlopen handle of the main executable, or null
};

namespace tolvan::bundle {

const TolvanCFBundle *CheckedBundle(CFBundleRef bundle, const char *function);

// Closes the loaded executable, if any.
void UnloadLibrary(TolvanCFBundle *bundle);

}  // namespace tolvan::bundle

#endif
