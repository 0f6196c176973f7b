#include "sec/folder_checks.h"

#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/cf/cf_ref.hpp"
#include "platform/cf/cf_string.h"
#include "plist/varn_shared.h"

namespace {

constexpr UInt32 kPathSize = kFSRefPathCapacity;
constexpr UInt32 kPermissionsUnknownGroupID = kFSUnknownGroupID;
constexpr UInt32 kPermissionsStaffGroupID = 20;
constexpr int kMaxNameAttempts = 999;

// A new name from the clock each time, so that two checks of one folder at
// once, or a leftover file, only cost another attempt.
OSStatus CreateTemporaryFile(const FSRef *folder, FSRef *file) {
  OSStatus status = dupFNErr;
  for (int attempt = 0; attempt < kMaxNameAttempts && status == dupFNErr; ++attempt) {
    const AbsoluteTime now = UpTime();
    const tolvan::CFRef<CFStringRef> name =
        tolvan::CFRef<CFStringRef>::Adopt(CFStringCreateWithFormat(
            nullptr, nullptr, CFSTR("TolvanSecIsFolderIgnoringOwnership Temp %lx%lx"),
            static_cast<unsigned long>(now.hi), static_cast<unsigned long>(now.lo)));
    status = VarnError(name.get());
    if (status != 0) return status;
    HFSUniStr255 units{};
    units.length = static_cast<UInt16>(CFStringGetLength(name.get()));
    CFStringGetCharacters(name.get(), CFRangeMake(0, units.length), units.unicode);
    status = FSCreateFileUnicode(folder, units.length, units.unicode, kFSCatInfoNone, nullptr, file,
                                 nullptr);
  }
  return status;
}

OSStatus ReadGroupAfterChangeToStaff(const FSRef *file, FSCatalogInfo *info, UInt32 *group) {
  info->permissions[1] = kPermissionsStaffGroupID;
  OSStatus status = FSSetCatalogInfo(file, kFSCatInfoPermissions, info);
  if (status != 0) return status;
  UInt8 path[kPathSize];
  status = FSRefMakePath(file, path, kPathSize);
  if (status != 0) return status;
  if (::chown(reinterpret_cast<const char *>(path), info->permissions[0],
              kPermissionsStaffGroupID) != 0) {
    return errno;
  }
  FSCatalogInfo reread{};
  status = FSGetCatalogInfo(file, kFSCatInfoPermissions, &reread, nullptr, nullptr, nullptr);
  if (status == 0) *group = reread.permissions[1];
  return status;
}

// A volume that keeps no ownership shows every file in the unknown group and
// drops a change of it; one that keeps ownership shows the real group.
OSStatus ProbeOwnership(const FSRef *file, Boolean *ignoresOwnership) {
  FSCatalogInfo info{};
  OSStatus status = FSGetCatalogInfo(file, kFSCatInfoPermissions, &info, nullptr, nullptr, nullptr);
  if (status != 0) return status;
  if (info.permissions[1] != kPermissionsUnknownGroupID) {
    *ignoresOwnership = false;
    return 0;
  }
  UInt32 group = 0;
  status = ReadGroupAfterChangeToStaff(file, &info, &group);
  if (status == 0) *ignoresOwnership = group != kPermissionsStaffGroupID;
  return status;
}

}  // namespace

OSStatus TolvanSecIsFolderIgnoringSetUID(const FSRef *folder, Boolean *ignoresSetUID) {
  UInt8 path[kPathSize];
  const OSStatus status = FSRefMakePath(folder, path, kPathSize);
  if (status != 0) return status;
  struct statfs volume {};
  if (::statfs(reinterpret_cast<const char *>(path), &volume) != 0) return errno;
  *ignoresSetUID = (volume.f_flags & ST_NOSUID) != 0;
  return 0;
}

OSStatus TolvanSecIsFolderIgnoringOwnership(const FSRef *folder, Boolean *ignoresOwnership) {
  FSRef file{};
  OSStatus status = CreateTemporaryFile(folder, &file);
  if (status != 0) return status;
  status = ProbeOwnership(&file, ignoresOwnership);
  (void)FSDeleteObject(&file);
  return status;
}
