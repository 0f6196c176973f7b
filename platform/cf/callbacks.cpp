// The standard callbacks of containers that hold property-list objects.
#include "platform/cf/callbacks.hpp"

namespace tolvan::cf {

const void *RetainType(CFAllocatorRef, const void *value) { return CFRetain(value); }

void ReleaseType(CFAllocatorRef, const void *value) { CFRelease(value); }

CFStringRef CopyTypeDescription(const void *value) { return CFCopyDescription(value); }

Boolean EqualTypes(const void *a, const void *b) { return CFEqual(a, b); }

CFHashCode HashType(const void *value) { return CFHash(value); }

}  // namespace tolvan::cf
