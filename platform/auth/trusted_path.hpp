// Opening the machine-wide files the judgement relies on so that no one but
// root can have put or changed them: every component is opened relative to
// the one before without following links, and the open object (never the
// path) is checked to be of the right kind, owned by root and writable by no
// one else.
#ifndef TOLVAN_PLATFORM_AUTH_TRUSTED_PATH_HPP
#define TOLVAN_PLATFORM_AUTH_TRUSTED_PATH_HPP

#include <sys/types.h>

#include "platform/auth/root_privilege.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::auth {

enum class EntryKind { kFolder, kFile };

constexpr mode_t kWritableByOthers = 022;
// Root-only records and their folders: no access at all for anyone else.
constexpr mode_t kPrivate = 077;

// Opens name in folder. flags are added to O_NOFOLLOW | O_CLOEXEC (and
// O_DIRECTORY for a folder). forbiddenModeBits must all be clear. On failure
// *error is ENOENT (missing), ELOOP (a link), EPERM (wrong owner, kind, mode
// or a second hard link) or another errno value.
[[nodiscard]] UniqueFd OpenTrusted(int folder, const char *name, EntryKind kind, int flags,
                                   mode_t forbiddenModeBits, int *error) noexcept;

// Opens the compile-time system root, which must itself be trusted.
[[nodiscard]] UniqueFd OpenSystemRoot(int *error) noexcept;

// Runs work(root descriptor) as root with the system root open. False when
// root is not at hand, the root cannot be opened, or work did not finish.
template <typename Work>
[[nodiscard]] bool AsRootAtSystemRoot(Work &&work) noexcept {
  bool opened = false;
  const bool ran = AsRoot([&] {
    int error = 0;
    UniqueFd root = OpenSystemRoot(&error);
    opened = static_cast<bool>(root);
    if (opened) work(root.get());
  });
  return ran && opened;
}

// Walks relativePath ("etc/tolvan/authorization") from root, every folder
// and the final entry trusted; the final entry is opened read-only.
[[nodiscard]] UniqueFd OpenTrustedPath(int root, const char *relativePath, EntryKind finalKind,
                                       int *error) noexcept;

// Opens the trusted folder name in folder, making it (owned by root, with
// mode) when it does not exist.
[[nodiscard]] UniqueFd OpenOrMakeTrustedFolder(int folder, const char *name, mode_t mode,
                                               mode_t forbiddenModeBits, int *error) noexcept;

// Opens <root>/run/tolvan/<name>, the root-only (0700) folder of one kind
// of record, with run and tolvan root's and writable by no one else. With
// create, missing folders are made on the way; otherwise a missing part
// means there are no records (invalid result, *error ENOENT).
[[nodiscard]] UniqueFd OpenRecordFolder(int root, const char *name, bool create,
                                        int *error) noexcept;

}  // namespace tolvan::auth

#endif
