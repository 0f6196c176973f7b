// Reading one domain's saved file from a trusted folder.
#ifndef TOLVAN_PLATFORM_PREFS_PREFERENCE_FILE_READER_HPP
#define TOLVAN_PLATFORM_PREFS_PREFERENCE_FILE_READER_HPP

#include <cstddef>

#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan::prefs {

// No file the store writes is larger: a save that would produce a larger
// one fails, so a larger file was not written by the store and is corrupt.
inline constexpr size_t kMaxPreferenceFileSize = 16 * 1024 * 1024;

enum class FileState {
  kAbsent,   // no file of that name
  kValid,    // *dictionary holds its content
  kCorrupt,  // a trusted file that is too large, does not parse or is not a dictionary
  kFailed,   // not trusted (a link, not a regular file, a foreign owner), or a read failed
};

// Opens name in folder without following a link, checks the file on its
// descriptor (IsTrustedFile) and parses it. *error receives the errno of a
// kFailed result (EPERM for an untrusted file, ENOMEM when memory ran out).
FileState ReadPreferenceFile(int folder, const char *name, CFRef<CFDictionaryRef> *dictionary,
                             int *error);

}  // namespace tolvan::prefs

#endif
