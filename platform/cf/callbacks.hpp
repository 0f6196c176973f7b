// The standard container callbacks (retain, release, describe, compare and
// hash property-list objects) and helpers the containers share.
#ifndef TOLVAN_PLATFORM_CF_CALLBACKS_HPP
#define TOLVAN_PLATFORM_CF_CALLBACKS_HPP

#include <cstring>
#include <functional>

#include "platform/cf/cf_base.h"
#include "platform/cf/object.hpp"

namespace tolvan::cf {

const void *RetainType(CFAllocatorRef allocator, const void *value);
void ReleaseType(CFAllocatorRef allocator, const void *value);
CFStringRef CopyTypeDescription(const void *value);
Boolean EqualTypes(const void *a, const void *b);
CFHashCode HashType(const void *value);

// Callback structures are plain function pointers without padding.
template <typename CallBacks>
bool SameCallBacks(const CallBacks *a, const CallBacks *b) {
  return std::memcmp(a, b, sizeof(CallBacks)) == 0;
}

inline int CompareAddresses(const void *a, const void *b) {
  return a == b ? 0 : (std::less<const void *>()(a, b) ? -1 : 1);
}

// Four spaces a level.
void AppendIndent(StringBuilder &out, int depth);
// A container member: property-list objects describe themselves, other
// values through the container's describe callback or as an address.
void DescribeMember(StringBuilder &out, const void *value, bool typed,
                    CFStringRef (*copy_description)(const void *), int depth);

}  // namespace tolvan::cf

#endif
