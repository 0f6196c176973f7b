#include "sec/copy_folder_safety.hpp"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>

namespace tolvan {
namespace {

// statfs f_type values; the file manager reports group 99 on the same
// volumes (platform/files/catalog_info.cpp).
constexpr uint32_t kOwnerlessVolumes[] = {
    0x4d44,      // FAT (msdos, vfat)
    0x2011BAB0,  // exFAT
    0x5346544e,  // NTFS
    0x7366746e,  // NTFS (ntfs3)
    0x65735546,  // FUSE (fuse, fuseblk)
    0x9660,      // ISO 9660
    0x15013346,  // UDF
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x01021997,  // 9p
};

}  // namespace

bool VolumeKeepsNoOwnership(const struct statfs &volume) {
  const auto type = static_cast<uint32_t>(volume.f_type);
  for (const uint32_t ownerless : kOwnerlessVolumes) {
    if (type == ownerless) return true;
  }
  return false;
}

bool VolumeHonoursSetUID(const struct statfs &volume) {
  return (volume.f_flags & ST_NOSUID) == 0 && !VolumeKeepsNoOwnership(volume);
}

bool OthersCanReplaceIn(const struct stat &folder) {
  const bool root_and_sticky = folder.st_uid == 0 && (folder.st_mode & S_ISVTX) != 0;
  return (folder.st_mode & S_IWOTH) != 0 && !root_and_sticky;
}

bool OpenToGroupOrOthers(const struct stat &folder) {
  const bool owner_trusted = folder.st_uid == ::geteuid() || folder.st_uid == 0;
  return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 || !owner_trusted;
}

}  // namespace tolvan
