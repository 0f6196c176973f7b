// The URL object shared by the files of this folder.
//
// A URL keeps one NUL-terminated absolute path: the resolved path. For a URL
// made from a relative path, the first relative_offset bytes are the base
// (the current folder when it was made, with its separating '/'), and the
// path as given starts there; an absolute URL has relative_offset 0. Paths
// never end in '/' except the root itself.
#ifndef TOLVAN_PLATFORM_URL_URL_OBJECT_HPP
#define TOLVAN_PLATFORM_URL_URL_OBJECT_HPP

#include <cstddef>
#include <string>

#include "platform/cf/object.hpp"
#include "platform/url/url.h"

struct TolvanCFURL {
  tolvan::cf::Object header;
  char *resolved;  // from the URL's allocator
  size_t length;   // of resolved, without the NUL
  size_t relative_offset;
  bool directory;
};

namespace tolvan::url {

const TolvanCFURL *CheckedURL(CFURLRef url, const char *function);

// A URL whose resolved path is the length bytes of resolved (absolute, no
// NUL inside); trailing '/' are dropped. Null when memory runs out.
CFURLRef CreateResolvedURL(CFAllocatorRef allocator, const char *resolved, size_t length,
                           size_t relative_offset, bool directory);

// The string's UTF-8 bytes; false when memory runs out or the string holds
// a unit UTF-8 cannot carry.
bool UTF8Of(CFStringRef string, std::string *bytes) noexcept;

}  // namespace tolvan::url

#endif
