/* Dictionaries: maps from keys to values, immutable or mutable.
 *
 * Enumeration order (CFDictionaryGetKeysAndValues, CFDictionaryApplyFunction)
 * is stable for a given content, whatever the order of insertion: keys are
 * listed in a canonical order, by type and then by value; string keys in
 * ascending order of their UTF-16 units.
 *
 * kCFTypeDictionaryKeyCallBacks and kCFTypeDictionaryValueCallBacks retain
 * and release and compare with CFEqual / CFHash; null callbacks keep raw
 * pointers compared by identity. */
#ifndef TOLVAN_PLATFORM_CF_CF_DICTIONARY_H
#define TOLVAN_PLATFORM_CF_CF_DICTIONARY_H

#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct TolvanCFDictionary *CFDictionaryRef;
typedef struct TolvanCFDictionary *CFMutableDictionaryRef;

typedef const void *(*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void *value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void *value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void *value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void *value1, const void *value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void *value);

typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
  CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;

typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;

extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

typedef void (*CFDictionaryApplierFunction)(const void *key, const void *value, void *context);

CFTypeID CFDictionaryGetTypeID(void);
/* Pairs key i with value i; a later duplicate key replaces an earlier one. */
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void **keys,
                                   const void **values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks);
CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef allocator, CFDictionaryRef theDict);
/* capacity 0 means no limit; otherwise the dictionary never grows past it. */
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks *keyCallBacks,
                                                 const CFDictionaryValueCallBacks *valueCallBacks);
/* A one-level copy: the new dictionary shares the values, it does not copy
 * them. */
CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                                     CFDictionaryRef theDict);

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict);
CFIndex CFDictionaryGetCountOfKey(CFDictionaryRef theDict, const void *key);
Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void *key);
Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void *value);
const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key);
Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void *key,
                                      const void **value);
/* Either array may be null; both are filled in enumeration order. */
void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys,
                                  const void **values);
void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                               void *context);

/* Set adds the pair or replaces the value under an equal key; Add only adds;
 * Replace only replaces. Growing can fail for want of memory (or past a
 * fixed capacity): the dictionary is then unchanged and the call answers
 * false. */
Boolean CFDictionarySetValue(CFMutableDictionaryRef theDict, const void *key, const void *value);
Boolean CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void *key, const void *value);
void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void *key, const void *value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void *key);
void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict);

#ifdef __cplusplus
}
#endif

#endif
