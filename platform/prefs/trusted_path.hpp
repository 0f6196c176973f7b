// Opening the store's folders and files without trusting their paths.
//
// A folder is reached by walking from "/" one component at a time with
// openat(O_NOFOLLOW), and each folder is checked on its open descriptor, so
// no component can be a symbolic link and nothing can be swapped between the
// check and the use. The store is machine-wide and written as root: a
// folder or file is trusted only when it belongs to root or to the
// effective user (who could write it anyway) and nobody else can write it.
#ifndef TOLVAN_PLATFORM_PREFS_TRUSTED_PATH_HPP
#define TOLVAN_PLATFORM_PREFS_TRUSTED_PATH_HPP

#include <sys/stat.h>

#include <string_view>

#include "unix/unique_fd.hpp"

namespace tolvan::prefs {

enum class MissingFolders { kFail, kCreate };

// Opens the folder at an absolute path. Every folder on the way must be
// trusted (see IsTrustedFolder); kCreate makes the missing ones with mode
// 0755 (owned by root when running as root). 0, or: ELOOP / ENOTDIR for a
// component that is a link or not a folder, EPERM for a folder that is not
// trusted, EINVAL for a relative path or a ".." component, ENOENT for a
// missing folder with kFail, or the errno of the failed call.
int OpenTrustedFolder(std::string_view path, MissingFolders missing, UniqueFd *folder);

// Owned by root or the effective user, and writable by nobody else. A
// folder higher up the path may also be a root-owned sticky folder (such as
// /tmp): others cannot rename or remove the trusted folder inside it.
bool IsTrustedFolder(const struct stat &status, bool is_last);

// A regular file with one link, owned by root or the effective user and
// writable by nobody else: what the store itself writes.
bool IsTrustedFile(const struct stat &status);

}  // namespace tolvan::prefs

#endif
