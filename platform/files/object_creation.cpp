// Creating files and folders by name inside a folder, and deleting objects.
// Everything happens relative to a descriptor of the folder, and a name that
// exists already (a link included) is never followed or reused.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_name.hpp"
#include "platform/files/file_status.hpp"
#include "platform/files/folder_descriptor.hpp"

namespace tolvan::files {
namespace {

struct Creation {
  tolvan::UniqueFd folder;
  FileName name;
  FSRef ref;
};

// Checks the arguments and the name before anything is touched, then opens
// the parent folder.
OSStatus PrepareCreation(const FSRef *parent, UniCharCount length, const UniChar *name,
                         FSCatalogInfoBitmap whichInfo, const FSCatalogInfo *catalogInfo,
                         const FSSpec *newSpec, Creation *creation) {
  if (parent == nullptr || whichInfo != kFSCatInfoNone || catalogInfo != nullptr ||
      newSpec != nullptr) {
    return paramErr;
  }
  OSStatus status = MakeFileName(name, length, &creation->name);
  if (status == noErr) status = JoinPath(*parent, creation->name, &creation->ref);
  if (status != noErr) return status;
  creation->folder = OpenFolderWithoutLinks(parent->path);
  return creation->folder ? noErr : StatusOfErrno(errno);
}

OSStatus CreationStatus(int error) { return error == EEXIST ? dupFNErr : StatusOfErrno(error); }

}  // namespace
}  // namespace tolvan::files

using namespace tolvan::files;

OSStatus FSCreateFileUnicode(const FSRef *parent, UniCharCount nameLength, const UniChar *name,
                             FSCatalogInfoBitmap whichInfo, const FSCatalogInfo *catalogInfo,
                             FSRef *newRef, FSSpec *newSpec) {
  Creation creation;
  OSStatus status =
      PrepareCreation(parent, nameLength, name, whichInfo, catalogInfo, newSpec, &creation);
  if (status != noErr) return status;
  tolvan::UniqueFd file(::openat(creation.folder.get(), creation.name.bytes,
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                                 0644));
  if (!file) return CreationStatus(errno);
  if (newRef != nullptr) *newRef = creation.ref;
  return noErr;
}

OSStatus FSCreateDirectoryUnicode(const FSRef *parent, UniCharCount nameLength, const UniChar *name,
                                  FSCatalogInfoBitmap whichInfo, const FSCatalogInfo *catalogInfo,
                                  FSRef *newRef, FSSpec *newSpec, UInt32 *newDirID) {
  if (newDirID != nullptr) return paramErr;
  Creation creation;
  OSStatus status =
      PrepareCreation(parent, nameLength, name, whichInfo, catalogInfo, newSpec, &creation);
  if (status != noErr) return status;
  if (::mkdirat(creation.folder.get(), creation.name.bytes, 0755) != 0) {
    return CreationStatus(errno);
  }
  if (newRef != nullptr) *newRef = creation.ref;
  return noErr;
}

OSStatus FSDeleteObject(const FSRef *ref) {
  if (ref == nullptr) return paramErr;
  ObjectInFolder object;
  OSStatus status = OpenObjectFolder(*ref, &object);
  if (status != noErr) return status;
  if (object.name[0] == '.' && object.name[1] == '\0') return EBUSY;  // the root
  struct stat info;
  if (::fstatat(object.folder.get(), object.name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return StatusOfErrno(errno);
  }
  int flags = S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0;
  if (::unlinkat(object.folder.get(), object.name, flags) != 0) return StatusOfErrno(errno);
  return noErr;
}
