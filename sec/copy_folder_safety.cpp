#include "sec/copy_folder_safety.hpp"

#include <linux/magic.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tolvan {
namespace {

// Not all of these are in every kernel's linux/magic.h.
constexpr unsigned long kExfatMagic = 0x2011BAB0;
constexpr unsigned long kNtfsMagic = 0x5346544E;
constexpr unsigned long kNtfs3Magic = 0x7366746E;
constexpr unsigned long kFuseMagic = 0x65735546;
constexpr unsigned long kCifsMagic = 0xFF534D42;
constexpr unsigned long kSmb2Magic = 0xFE534D42;

constexpr unsigned long kOwnerlessVolumes[] = {MSDOS_SUPER_MAGIC, kExfatMagic,    kNtfsMagic,
                                               kNtfs3Magic,       kFuseMagic,     kCifsMagic,
                                               kSmb2Magic,        SMB_SUPER_MAGIC};

}  // namespace

bool VolumeKeepsNoOwnership(const struct statfs &volume) {
  const auto type = static_cast<unsigned long>(volume.f_type);
  for (const unsigned long ownerless : kOwnerlessVolumes) {
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
