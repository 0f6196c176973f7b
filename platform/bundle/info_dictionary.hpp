// Reading the Info.plist at the top of a bundle folder.
#ifndef TOLVAN_PLATFORM_BUNDLE_INFO_DICTIONARY_HPP
#define TOLVAN_PLATFORM_BUNDLE_INFO_DICTIONARY_HPP

#include <cstddef>

#include "platform/cf/cf_dictionary.h"

namespace tolvan::bundle {

// No bundle needs a larger Info.plist; a larger file is treated as absent, so
// a hostile folder cannot make us allocate without bound.
inline constexpr size_t kMaxInfoPlistSize = 1024 * 1024;

// The dictionary in folderPath/Info.plist, made with allocator. A file that
// is missing, not a regular file, too large, unreadable, malformed or not a
// dictionary gives an empty dictionary; null only when memory runs out.
CFDictionaryRef CreateInfoDictionary(CFAllocatorRef allocator, const char *folderPath);

}  // namespace tolvan::bundle

#endif
