#include "sec/copy_folder_safety.hpp"

#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/files/ownerless_volumes.hpp"

namespace tolvan {

bool VolumeHonoursSetUID(const struct statfs &volume) {
  return (volume.f_flags & ST_NOSUID) == 0 && !files::VolumeKeepsNoOwnership(volume);
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
