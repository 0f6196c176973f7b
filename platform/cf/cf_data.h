/* Data: immutable and mutable byte buffers. */
#ifndef TOLVAN_PLATFORM_CF_CF_DATA_H
#define TOLVAN_PLATFORM_CF_CF_DATA_H

#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct TolvanCFData *CFDataRef;
typedef struct TolvanCFData *CFMutableDataRef;

CFTypeID CFDataGetTypeID(void);
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length);
/* Wraps the caller's bytes without copying them. The bytes are handed back
 * to bytesDeallocator when the object dies; kCFAllocatorNull means the
 * caller keeps them (and must keep them alive while the object lives). */
CFDataRef CFDataCreateWithBytesNoCopy(CFAllocatorRef allocator, const UInt8 *bytes,
                                      CFIndex length, CFAllocatorRef bytesDeallocator);
CFDataRef CFDataCreateCopy(CFAllocatorRef allocator, CFDataRef theData);
/* capacity 0 means no limit. */
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef allocator, CFIndex capacity);
CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                         CFDataRef theData);

CFIndex CFDataGetLength(CFDataRef theData);
const UInt8 *CFDataGetBytePtr(CFDataRef theData);
UInt8 *CFDataGetMutableBytePtr(CFMutableDataRef theData);
void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8 *buffer);

/* Growing a mutable data object can fail for want of memory; the object is
 * then unchanged and the call answers false. */
Boolean CFDataAppendBytes(CFMutableDataRef theData, const UInt8 *bytes, CFIndex length);
Boolean CFDataSetLength(CFMutableDataRef theData, CFIndex length);

#ifdef __cplusplus
}
#endif

#endif
