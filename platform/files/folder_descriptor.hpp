// Opening the folder a reference names so that work inside it is done
// relative to a descriptor, never again through the path.
#ifndef TOLVAN_PLATFORM_FILES_FOLDER_DESCRIPTOR_HPP
#define TOLVAN_PLATFORM_FILES_FOLDER_DESCRIPTOR_HPP

#include "unix/unique_fd.hpp"

namespace tolvan::files {

// An O_PATH descriptor of the folder at the absolute path, refusing a
// symbolic link anywhere on the way (ELOOP, or ENOTDIR for a last
// component that is a link): a reference's path holds none, so one found
// there was put in since. errno tells why on failure.
UniqueFd OpenFolderWithoutLinks(const char *path);

}  // namespace tolvan::files

#endif
