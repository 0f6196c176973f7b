/* The four property-list helpers the rest of the library leans on: turning
 * the result of a Create or Copy call, or a Boolean, into a status, a
 * null-tolerant release, and the empty mutable array. */
#ifndef TOLVAN_PLIST_VARN_SHARED_H
#define TOLVAN_PLIST_VARN_SHARED_H

#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_array.h"
#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when value is not null, -4960 (coreFoundationUnknownErr) when it is.
 * Meant for the new object right after a Create or Copy call. */
OSStatus VarnError(const void *value);

/* 0 when flag is true (any non-zero value), -4960 when it is false. */
OSStatus VarnErrorBoolean(Boolean flag);

/* CFRelease of value; a null value is ignored. */
void VarnRelease(CFTypeRef value);

/* An empty mutable array (default allocator, no capacity limit,
 * kCFTypeArrayCallBacks). *array receives it in every case, null on
 * failure. 0, or -4960 when it was not created. The caller owns the
 * array. */
OSStatus VarnArrayCreateMutable(CFMutableArrayRef *array);

#ifdef __cplusplus
}
#endif

#endif
