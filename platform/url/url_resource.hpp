// Reading a file's whole content, for the URL layer and for the few places
// that read a small file of known kind (a bundle's Info.plist).
#ifndef TOLVAN_PLATFORM_URL_URL_RESOURCE_HPP
#define TOLVAN_PLATFORM_URL_URL_RESOURCE_HPP

#include <cstddef>

#include "platform/cf/cf_data.h"

namespace tolvan::url {

// The content of the regular file at path (a final symbolic link is
// followed), in *data, owned by the caller. 0, or an errno value: EISDIR for
// a folder, EINVAL for anything else that is not a regular file, EFBIG past
// maxBytes (also for a file that grows past it while read), ENOMEM.
int ReadResource(const char *path, CFAllocatorRef allocator, size_t maxBytes, CFDataRef *data);

}  // namespace tolvan::url

#endif
