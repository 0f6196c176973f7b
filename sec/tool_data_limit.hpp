// The data-size limit (RLIMIT_DATA) the helper tool sets for itself. On
// Linux it counts every private writable mapping: heap, anonymous mappings
// and the writable data of every loaded library. 6 MiB holds a 1 MiB
// request with its parsed form and the saved store.
//
// An AddressSanitizer build keeps its shadow memory and quarantine in such
// mappings, many times that size, and would fail every allocation under the
// limit; there, and only there, the limit is lifted.
#ifndef TOLVAN_SEC_TOOL_DATA_LIMIT_HPP
#define TOLVAN_SEC_TOOL_DATA_LIMIT_HPP

#include <sys/resource.h>

#include <cstdint>

namespace tolvan {

#if defined(__SANITIZE_ADDRESS__)
#define TOLVAN_ADDRESS_SANITIZER_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVAN_ADDRESS_SANITIZER_BUILD 1
#endif
#endif

#ifdef TOLVAN_ADDRESS_SANITIZER_BUILD
inline constexpr uint64_t kToolDataLimit = RLIM_INFINITY;
#else
inline constexpr uint64_t kToolDataLimit = 6291456;
#endif

}  // namespace tolvan

#endif
