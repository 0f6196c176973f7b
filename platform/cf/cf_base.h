/* Property-list objects: the base types every object family shares.
 *
 * Objects are reference counted and live behind opaque handles. The rule of
 * ownership: a function whose name contains Create or Copy hands the caller a
 * reference it owns and must release with CFRelease; a Get function hands out
 * a borrowed reference, valid while its owner lives. Constants made with
 * CFSTR and the two booleans are never freed.
 *
 * Allocation failures never abort: a Create or Copy function answers null.
 * Mutating an immutable object is a programming error and aborts loudly. */
#ifndef TOLVAN_PLATFORM_CF_CF_BASE_H
#define TOLVAN_PLATFORM_CF_CF_BASE_H

#include <stddef.h>
#include <stdint.h>

#include "platform/base/tolvan_status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char Boolean;
typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef uint16_t UniChar;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef const void *CFTypeRef;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
  CFRange range;
  range.location = location;
  range.length = length;
  return range;
}

enum { kCFNotFound = -1 };

typedef CFIndex CFComparisonResult;
enum {
  kCFCompareLessThan = -1,
  kCFCompareEqualTo = 0,
  kCFCompareGreaterThan = 1
};

typedef const struct TolvanCFString *CFStringRef;
typedef struct TolvanCFString *CFMutableStringRef;
typedef const struct TolvanCFAllocator *CFAllocatorRef;
typedef CFTypeRef CFPropertyListRef;

/* ---- allocators ---------------------------------------------------------
 * kCFAllocatorDefault (null) means "the current default allocator", which is
 * the system allocator unless CFAllocatorSetDefault replaced it (tests use a
 * failing allocator to reach the out-of-memory paths). kCFAllocatorNull
 * allocates nothing and frees nothing: it is the deallocator for bytes an
 * object must not free. */
#define kCFAllocatorDefault ((CFAllocatorRef)0)
extern const CFAllocatorRef kCFAllocatorSystemDefault;
extern const CFAllocatorRef kCFAllocatorMalloc;
extern const CFAllocatorRef kCFAllocatorNull;

typedef const void *(*CFAllocatorRetainCallBack)(const void *info);
typedef void (*CFAllocatorReleaseCallBack)(const void *info);
typedef CFStringRef (*CFAllocatorCopyDescriptionCallBack)(const void *info);
typedef void *(*CFAllocatorAllocateCallBack)(CFIndex size, CFOptionFlags hint, void *info);
typedef void *(*CFAllocatorReallocateCallBack)(void *ptr, CFIndex newsize, CFOptionFlags hint,
                                               void *info);
typedef void (*CFAllocatorDeallocateCallBack)(void *ptr, void *info);
typedef CFIndex (*CFAllocatorPreferredSizeCallBack)(CFIndex size, CFOptionFlags hint, void *info);

typedef struct {
  CFIndex version;
  void *info;
  CFAllocatorRetainCallBack retain;
  CFAllocatorReleaseCallBack release;
  CFAllocatorCopyDescriptionCallBack copyDescription;
  CFAllocatorAllocateCallBack allocate;
  CFAllocatorReallocateCallBack reallocate;
  CFAllocatorDeallocateCallBack deallocate;
  CFAllocatorPreferredSizeCallBack preferredSize;
} CFAllocatorContext;

CFTypeID CFAllocatorGetTypeID(void);
/* A new allocator built from the context's callbacks; allocate and
 * deallocate are required. The result is owned by the caller. */
CFAllocatorRef CFAllocatorCreate(CFAllocatorRef allocator, CFAllocatorContext *context);
CFAllocatorRef CFAllocatorGetDefault(void);
/* Replaces the default allocator of the process (retained; null restores the
 * system allocator). Objects remember the allocator they came from. */
void CFAllocatorSetDefault(CFAllocatorRef allocator);
/* Null when size is not positive or the allocator has no memory. */
void *CFAllocatorAllocate(CFAllocatorRef allocator, CFIndex size, CFOptionFlags hint);
void *CFAllocatorReallocate(CFAllocatorRef allocator, void *ptr, CFIndex newsize,
                            CFOptionFlags hint);
void CFAllocatorDeallocate(CFAllocatorRef allocator, void *ptr);

/* ---- every object -------------------------------------------------------- */
CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);
CFTypeID CFGetTypeID(CFTypeRef object);
CFAllocatorRef CFGetAllocator(CFTypeRef object);
/* Equality by content: numbers compare by value across their types,
 * booleans are not numbers, strings compare by UTF-16 units, containers
 * element by element. Equal objects have equal hashes. */
Boolean CFEqual(CFTypeRef a, CFTypeRef b);
CFHashCode CFHash(CFTypeRef object);
/* A readable, single-line-per-leaf description of any object, for programs
 * that show values to a person. Owned by the caller; null on failure. */
CFStringRef CFCopyDescription(CFTypeRef object);
/* The name of a type, for example "CFString". Owned by the caller. */
CFStringRef CFCopyTypeIDDescription(CFTypeID type_id);

#ifdef __cplusplus
}
#endif

#endif
