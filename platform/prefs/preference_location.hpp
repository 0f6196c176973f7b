// Where the machine-wide preferences live and how a domain's files are
// named. Every name is built from a checked application id and a checked
// host id, so nothing the caller passes can reach outside the folder.
#ifndef TOLVAN_PLATFORM_PREFS_PREFERENCE_LOCATION_HPP
#define TOLVAN_PLATFORM_PREFS_PREFERENCE_LOCATION_HPP

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/cf/cf_string.h"

namespace tolvan::prefs {

// Keeps every name derived from an application id (file, lock, temporary
// and moved-aside names, at most 64 bytes longer) well under NAME_MAX.
inline constexpr size_t kMaxApplicationIDLength = 128;

// Letters, digits, '.', '-' and '_', not empty, not starting with '.' (so
// never ".", "..", a hidden name or anything with a '/').
bool IsValidApplicationID(std::string_view id);

// The application id as a C string, or an empty string when the object is
// not a string or not a valid id.
std::string ApplicationIDFromString(CFStringRef id);

// Reads the 32 lower-case hexadecimal digits of <root>/etc/machine-id (a
// trailing newline is allowed, nothing else). 0, the errno of the failed
// open or read, or EINVAL when the content is not such an id.
int ReadHostID(std::string_view root, std::string *host_id);

// <root>/var/lib/tolvan/preferences/ByHost: the folder of the machine-wide
// (any user, current host) domains.
std::string ByHostFolderPath(std::string_view root);

// "<app id>.<host id>.plist", the file of one domain inside that folder.
std::string DomainFileName(std::string_view app_id, std::string_view host_id);

}  // namespace tolvan::prefs

#endif
