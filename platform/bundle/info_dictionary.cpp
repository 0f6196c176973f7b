#include "platform/bundle/info_dictionary.hpp"

#include <limits.h>

#include <cerrno>
#include <cstdio>

#include "platform/cf/cf_property_list.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/url/url_resource.hpp"

namespace tolvan::bundle {
namespace {

enum class Outcome { kRead, kAbsent, kOutOfMemory };

CFDictionaryRef CreateEmptyDictionary(CFAllocatorRef allocator) {
  return CFDictionaryCreate(allocator, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                            &kCFTypeDictionaryValueCallBacks);
}

// A FIFO or anything else planted under the name, or a file too big, is no
// Info.plist; only running out of memory is a failure.
Outcome ReadInfoPlist(CFAllocatorRef allocator, const char *folderPath,
                      CFRef<CFDictionaryRef> *dictionary) {
  char path[PATH_MAX];
  int length = std::snprintf(path, sizeof path, "%s/Info.plist", folderPath);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return Outcome::kAbsent;
  CFRef<CFDataRef> data;
  const int error = url::ReadResource(path, allocator, kMaxInfoPlistSize, data.out());
  if (error != 0) return error == ENOMEM ? Outcome::kOutOfMemory : Outcome::kAbsent;
  CFRef<CFStringRef> reason;
  auto list = CFRef<CFPropertyListRef>::Adopt(CFPropertyListCreateFromXMLData(
      allocator, data.get(), kCFPropertyListImmutable, reason.out()));
  if (!list) {
    return TolvanPropertyListErrorIsOutOfMemory(reason.get()) ? Outcome::kOutOfMemory
                                                              : Outcome::kAbsent;
  }
  if (CFGetTypeID(list.get()) != CFDictionaryGetTypeID()) return Outcome::kAbsent;
  dictionary->reset(static_cast<CFDictionaryRef>(list.release()));
  return Outcome::kRead;
}

}  // namespace

CFDictionaryRef CreateInfoDictionary(CFAllocatorRef allocator, const char *folderPath) {
  CFRef<CFDictionaryRef> dictionary;
  switch (ReadInfoPlist(allocator, folderPath, &dictionary)) {
    case Outcome::kRead:
      return dictionary.release();
    case Outcome::kAbsent:
      return CreateEmptyDictionary(allocator);
    case Outcome::kOutOfMemory:
      break;
  }
  return nullptr;
}

}  // namespace tolvan::bundle
