// Volumes whose owners and modes come from mount options or a user-space
// server rather than from each file: FAT, exFAT, NTFS, FUSE, ISO 9660, UDF,
// SMB, 9p. The file manager reports the unknown group on them, and the
// application side never installs a set-user-ID copy there.
#ifndef TOLVAN_PLATFORM_FILES_OWNERLESS_VOLUMES_HPP
#define TOLVAN_PLATFORM_FILES_OWNERLESS_VOLUMES_HPP

#include <sys/vfs.h>

namespace tolvan::files {

[[nodiscard]] bool VolumeKeepsNoOwnership(const struct statfs &volume) noexcept;

}  // namespace tolvan::files

#endif
