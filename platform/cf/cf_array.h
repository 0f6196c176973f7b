/* Arrays: ordered sequences of values, immutable or mutable.
 *
 * The callbacks say how the array keeps its values: kCFTypeArrayCallBacks
 * retains and releases them and compares with CFEqual; null callbacks keep
 * raw pointers compared by identity. The callbacks structure is copied. */
#ifndef TOLVAN_PLATFORM_CF_CF_ARRAY_H
#define TOLVAN_PLATFORM_CF_CF_ARRAY_H

#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct TolvanCFArray *CFArrayRef;
typedef struct TolvanCFArray *CFMutableArrayRef;

typedef const void *(*CFArrayRetainCallBack)(CFAllocatorRef allocator, const void *value);
typedef void (*CFArrayReleaseCallBack)(CFAllocatorRef allocator, const void *value);
typedef CFStringRef (*CFArrayCopyDescriptionCallBack)(const void *value);
typedef Boolean (*CFArrayEqualCallBack)(const void *value1, const void *value2);

typedef struct {
  CFIndex version;
  CFArrayRetainCallBack retain;
  CFArrayReleaseCallBack release;
  CFArrayCopyDescriptionCallBack copyDescription;
  CFArrayEqualCallBack equal;
} CFArrayCallBacks;

extern const CFArrayCallBacks kCFTypeArrayCallBacks;

typedef void (*CFArrayApplierFunction)(const void *value, void *context);

CFTypeID CFArrayGetTypeID(void);
CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void **values, CFIndex numValues,
                         const CFArrayCallBacks *callBacks);
CFArrayRef CFArrayCreateCopy(CFAllocatorRef allocator, CFArrayRef theArray);
/* capacity 0 means no limit; otherwise the array never grows past it. */
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                       const CFArrayCallBacks *callBacks);
CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                           CFArrayRef theArray);

CFIndex CFArrayGetCount(CFArrayRef theArray);
const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);
void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void **values);
Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void *value);
CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void *value);
void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                          void *context);

/* Growing can fail for want of memory (or past a fixed capacity): the array
 * is then unchanged and the call answers false. */
Boolean CFArrayAppendValue(CFMutableArrayRef theArray, const void *value);
Boolean CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value);
Boolean CFArrayAppendArray(CFMutableArrayRef theArray, CFArrayRef otherArray, CFRange otherRange);
void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value);
void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx);
void CFArrayRemoveAllValues(CFMutableArrayRef theArray);

#ifdef __cplusplus
}
#endif

#endif
