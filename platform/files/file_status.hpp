// The status a failing system call becomes: a missing object (or a path
// through something that is not a folder) is fnfErr, the rest its errno.
#ifndef TOLVAN_PLATFORM_FILES_FILE_STATUS_HPP
#define TOLVAN_PLATFORM_FILES_FILE_STATUS_HPP

#include <cerrno>

#include "platform/files/files.h"

namespace tolvan::files {

inline OSStatus StatusOfErrno(int error) {
  if (error == ENOENT || error == ENOTDIR) return fnfErr;
  return error;
}

}  // namespace tolvan::files

#endif
