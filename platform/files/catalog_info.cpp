// Catalog information: the owner, group and mode of an object, read and
// (owner and group) written without following a symbolic link, neither at
// the object nor on the way to it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_status.hpp"
#include "platform/files/folder_descriptor.hpp"
#include "platform/files/ownerless_volumes.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::files {
namespace {

bool KeepsNoOwners(int fd) {
  struct statfs volume;
  return ::fstatfs(fd, &volume) == 0 && VolumeKeepsNoOwnership(volume);
}

}  // namespace
}  // namespace tolvan::files

using namespace tolvan::files;

OSStatus FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo,
                          FSCatalogInfo *catalogInfo, HFSUniStr255 *outName, FSSpec *fsSpec,
                          FSRef *parentRef) {
  if (ref == nullptr || (whichInfo & ~FSCatalogInfoBitmap{kFSCatInfoPermissions}) != 0 ||
      outName != nullptr || fsSpec != nullptr || parentRef != nullptr) {
    return paramErr;
  }
  if (whichInfo == kFSCatInfoNone) return noErr;
  if (catalogInfo == nullptr) return paramErr;
  // One descriptor for both questions, so the owner and the volume are those
  // of the same object.
  ObjectInFolder place;
  OSStatus opened = OpenObjectFolder(*ref, &place);
  if (opened != noErr) return opened;
  tolvan::UniqueFd object(
      ::openat(place.folder.get(), place.name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!object) return StatusOfErrno(errno);
  struct stat status;
  if (::fstat(object.get(), &status) != 0) return StatusOfErrno(errno);
  catalogInfo->permissions[0] = status.st_uid;
  catalogInfo->permissions[1] = KeepsNoOwners(object.get()) ? UInt32{kFSUnknownGroupID} : status.st_gid;
  catalogInfo->permissions[2] = status.st_mode;
  catalogInfo->permissions[3] = 0;
  return noErr;
}

OSStatus FSSetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo,
                          const FSCatalogInfo *catalogInfo) {
  if (ref == nullptr || (whichInfo & ~FSCatalogInfoBitmap{kFSCatInfoPermissions}) != 0) {
    return paramErr;
  }
  if (whichInfo == kFSCatInfoNone) return noErr;
  if (catalogInfo == nullptr) return paramErr;
  ObjectInFolder place;
  OSStatus opened = OpenObjectFolder(*ref, &place);
  if (opened != noErr) return opened;
  if (::fchownat(place.folder.get(), place.name, catalogInfo->permissions[0],
                 catalogInfo->permissions[1], AT_SYMLINK_NOFOLLOW) != 0) {
    return StatusOfErrno(errno);
  }
  return noErr;
}
