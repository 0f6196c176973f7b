// What makes a folder unfit to hold the set-user-ID copy of the helper tool,
// beyond what the folder checks find: who else may rename or replace files
// in it, and whether its volume can carry a root owner and the set-user-ID
// bit at all.
#ifndef TOLVAN_SEC_COPY_FOLDER_SAFETY_HPP
#define TOLVAN_SEC_COPY_FOLDER_SAFETY_HPP

#include <sys/stat.h>
#include <sys/vfs.h>

namespace tolvan {

// Whether the volume lets a root-owned set-user-ID file run as root.
bool VolumeHonoursSetUID(const struct statfs &volume);

// Others may rename or remove a copy in this folder: it is writable by
// others, unless it is root's and sticky (which keeps a root-owned copy in
// place).
bool OthersCanReplaceIn(const struct stat &folder);

// A folder the user installs into: anyone but its owner can write to it, or
// its owner is neither the caller nor root.
bool OpenToGroupOrOthers(const struct stat &folder);

}  // namespace tolvan

#endif
