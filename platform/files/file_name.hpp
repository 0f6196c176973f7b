// Names handed in as UTF-16 units, checked and turned into UTF-8 for the
// system calls, and the paths of references joined from them.
#ifndef TOLVAN_PLATFORM_FILES_FILE_NAME_HPP
#define TOLVAN_PLATFORM_FILES_FILE_NAME_HPP

#include <cstddef>

#include "platform/files/files.h"

namespace tolvan::files {

constexpr UniCharCount kMaxNameUnits = 255;

struct FileName {
  char bytes[kMaxNameUnits * 3 + 1];  // a unit never takes more than 3 UTF-8 bytes
  size_t length;
};

// paramErr for a null, empty or over-long name, one holding '/' or U+0000,
// "." or "..", or one that is not valid UTF-16 (a lone surrogate).
OSStatus MakeFileName(const UniChar *name, UniCharCount length, FileName *out);

// parent's path, '/', the name; paramErr when it does not fit a reference.
OSStatus JoinPath(const FSRef &parent, const FileName &name, FSRef *child);

}  // namespace tolvan::files

#endif
