// Replacing one domain's file so that a crash at any moment leaves either
// the old or the new file, and moving a corrupt file out of the way.
//
// Both work inside a trusted folder and expect the caller to hold the
// domain's lock: the stale temporary files they clear can then only be left
// over from savers that died.
#ifndef TOLVAN_PLATFORM_PREFS_PREFERENCE_FILE_WRITER_HPP
#define TOLVAN_PLATFORM_PREFS_PREFERENCE_FILE_WRITER_HPP

#include <string>
#include <string_view>

#include "platform/cf/cf_data.h"

namespace tolvan::prefs {

// The names that sit next to a domain's file: "<name>.tmp~<16 hex digits>"
// while a save writes, "<name>.corrupt~<16 hex digits>" for a file moved
// aside. '~' never occurs in an application id, so they cannot be taken for
// another domain's file.
std::string TemporaryFileName(std::string_view name, std::string_view suffix);
std::string AsideFileName(std::string_view name, std::string_view suffix);
bool IsTemporaryFileName(std::string_view candidate, std::string_view name);

// Writes bytes to a new temporary file in folder (mode 0644, root's when
// running as root), flushes it, renames it over name and flushes the
// folder. 0 or the errno of the failed step. Until the rename a failure
// removes the temporary file and leaves name as it was; a failure of the
// last flush leaves the new file in place (visible, maybe not yet durable)
// and is still reported.
int ReplaceFileDurably(int folder, const std::string &name, CFDataRef bytes);

// Renames name to a new aside name, never replacing an existing file. 0 or
// the errno of the rename (EINVAL where the file system cannot rename
// without replacing).
int MoveFileAside(int folder, const std::string &name);

// Removes the temporary files of name left by savers that were killed.
// Best effort: a failure here does not affect the save.
void RemoveStaleTemporaryFiles(int folder, std::string_view name);

}  // namespace tolvan::prefs

#endif
