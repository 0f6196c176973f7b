// Opening the folder a reference names (or the folder holding the object a
// reference names) so that work there is done relative to a descriptor,
// never again through the path.
#ifndef TOLVAN_PLATFORM_FILES_FOLDER_DESCRIPTOR_HPP
#define TOLVAN_PLATFORM_FILES_FOLDER_DESCRIPTOR_HPP

#include "platform/files/files.h"
#include "unix/unique_fd.hpp"

namespace tolvan::files {

// An O_PATH descriptor of the folder at the absolute path, refusing a
// symbolic link anywhere on the way (ELOOP, or ENOTDIR for a last
// component that is a link): a reference's path holds none, so one found
// there was put in since. errno tells why on failure.
UniqueFd OpenFolderWithoutLinks(const char *path);

// The folder holding the object of ref, opened as above, and the object's
// name in it ("." for the root itself). The name points into ref.
struct ObjectInFolder {
  UniqueFd folder;
  const char *name = nullptr;
};

// paramErr for a reference that is not an absolute path ending in a name;
// else the status of opening the folder.
OSStatus OpenObjectFolder(const FSRef &ref, ObjectInFolder *object);

}  // namespace tolvan::files

#endif
