// Reading small files whose content we do not control (/proc entries, the
// policy file, timestamp files) into a fixed buffer, never more.
#ifndef TOLVAN_PLATFORM_AUTH_BOUNDED_READ_HPP
#define TOLVAN_PLATFORM_AUTH_BOUNDED_READ_HPP

#include <cstddef>

namespace tolvan::auth {

// Reads fd from its current offset to its end into buffer. False when a read
// fails or the content does not fit in capacity bytes; *length is then
// undefined.
[[nodiscard]] bool ReadToEndBounded(int fd, char *buffer, size_t capacity, size_t *length) noexcept;

// The same for a file opened relative to dirFd (O_NOFOLLOW, close-on-exec).
[[nodiscard]] bool ReadFileBounded(int dirFd, const char *name, char *buffer, size_t capacity,
                                   size_t *length) noexcept;

}  // namespace tolvan::auth

#endif
