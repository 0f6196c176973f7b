// Saving and reading the machine-wide (any user, current host) domains kept
// under one system root. The public functions use the compiled-in root;
// tests pass roots of their own.
#ifndef TOLVAN_PLATFORM_PREFS_PREFERENCE_STORE_HPP
#define TOLVAN_PLATFORM_PREFS_PREFERENCE_STORE_HPP

#include <string_view>

#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/prefs/staged_changes.hpp"

namespace tolvan::prefs {

// Under the domain's lock: re-reads the saved file (moving a corrupt one
// aside and starting from an empty dictionary), applies the changes and
// replaces the file durably. 0, or the errno of the step that failed
// (EINVAL for an invalid application id or machine id, ENOMEM when memory
// runs out or a value is not a property list, EFBIG for a result over
// kMaxPreferenceFileSize); the old file is then left as it was.
int SaveDomain(std::string_view root, std::string_view app_id, const StagedChanges &changes);

// The saved pairs of the domain: an empty dictionary when there is no file
// yet or it is corrupt (left where it is: a reader may be unprivileged). 0
// or the errno of the failure (an untrusted folder or file among them).
int CopySavedDomain(std::string_view root, std::string_view app_id,
                    CFRef<CFDictionaryRef> *saved);

}  // namespace tolvan::prefs

#endif
