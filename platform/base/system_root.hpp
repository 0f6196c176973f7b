// The compile-time system root under which every machine-wide path lives
// (tests build with a root inside the build tree).
#ifndef TOLVAN_PLATFORM_BASE_SYSTEM_ROOT_HPP
#define TOLVAN_PLATFORM_BASE_SYSTEM_ROOT_HPP

#include <string>

namespace tolvan {

// The system root joined with relativePath ("etc/tolvan/authorization"),
// with exactly one '/' between them.
[[nodiscard]] std::string SystemPath(const char *relativePath);

}  // namespace tolvan

#endif
