// References: made from a path (resolved, so none holds a symbolic link),
// or from a folder's reference and a name (taken as it is, link or not).
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/files/file_name.hpp"
#include "platform/files/file_status.hpp"

using namespace tolvan::files;

OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory) {
  if (path == nullptr || ref == nullptr) return paramErr;
  char resolved[PATH_MAX];
  if (::realpath(reinterpret_cast<const char *>(path), resolved) == nullptr) {
    return errno == ENAMETOOLONG ? paramErr : StatusOfErrno(errno);
  }
  size_t length = std::strlen(resolved);
  if (length >= sizeof ref->path) return paramErr;
  struct stat status;
  if (::stat(resolved, &status) != 0) return StatusOfErrno(errno);
  std::memcpy(ref->path, resolved, length + 1);
  if (isDirectory != nullptr) *isDirectory = S_ISDIR(status.st_mode);
  return noErr;
}

OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize) {
  if (ref == nullptr || path == nullptr) return paramErr;
  size_t length = strnlen(ref->path, sizeof ref->path);
  if (length == sizeof ref->path || length + 1 > maxPathSize) return paramErr;
  std::memcpy(path, ref->path, length + 1);
  return noErr;
}

OSStatus FSMakeFSRefUnicode(const FSRef *parent, UniCharCount nameLength, const UniChar *name,
                            TextEncoding, FSRef *newRef) {
  if (parent == nullptr || newRef == nullptr) return paramErr;
  FileName file_name;
  OSStatus status = MakeFileName(name, nameLength, &file_name);
  if (status != noErr) return status;
  FSRef child;
  status = JoinPath(*parent, file_name, &child);
  if (status != noErr) return status;
  struct stat info;
  if (::lstat(child.path, &info) != 0) return StatusOfErrno(errno);
  *newRef = child;
  return noErr;
}
