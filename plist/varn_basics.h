/* Basic property-list utilities: null-tolerant retain, a raw block
 * allocator, the empty mutable dictionary, string to C string, numbers in
 * dictionaries, a dictionary's keys or values as an array, a dictionary
 * from parallel arrays, and merging dictionaries.
 *
 * Containers made here use the default allocator, no capacity limit and the
 * CFType callbacks, so they retain what they hold. A Create or Copy result
 * belongs to the caller. Statuses: 0, -108 (memFullErr), -50 (paramErr),
 * -4960 (coreFoundationUnknownErr: an object was not created) and 5401
 * (kVarnBadValueErr: the encoding cannot represent the string). */
#ifndef TOLVAN_PLIST_VARN_BASICS_H
#define TOLVAN_PLIST_VARN_BASICS_H

#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_array.h"
#include "platform/cf/cf_base.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_string.h"

#ifdef __cplusplus
extern "C" {
#endif

/* CFRetain of value when it is not null; returns value in every case. */
CFTypeRef VarnRetain(CFTypeRef value);

/* A block of size bytes from the default CoreFoundation allocator; a size
 * of 0 asks for 1 byte, so success always yields a usable pointer. *block
 * receives the block in every case, null on failure. 0, or -108 (also for
 * a negative size, which no allocator serves). Give the block back with
 * VarnDeallocate while the same default allocator is in place. */
OSStatus VarnAllocate(CFIndex size, void **block);

/* Returns a block from VarnAllocate to the default allocator; null is
 * ignored. */
void VarnDeallocate(void *block);

/* An empty mutable dictionary with the CFType key and value callbacks.
 * *dictionary receives it in every case, null on failure. 0, or -4960. */
OSStatus VarnDictionaryCreateMutable(CFMutableDictionaryRef *dictionary);

/* The whole string as a NUL-terminated C string in encoding, without a
 * byte-order mark and without replacing any character. The string comes
 * from malloc; the caller frees it with free. On failure *cString is null:
 * -108 when the buffer was not allocated, 5401 when some character cannot
 * be represented in the encoding (no partial string is handed out). */
OSStatus VarnStringCopyCString(CFStringRef string, CFStringEncoding encoding, char **cString);

/* Stores value as a number of kCFNumberLongType under key, replacing
 * whatever an equal key held. -4960 when the number was not created, -108
 * when the dictionary could not grow to take a new key; the dictionary is
 * unchanged on both. */
OSStatus VarnDictionarySetNumber(CFMutableDictionaryRef dictionary, CFTypeRef key, long value);

/* A new immutable array of the dictionary's keys (or values), in the
 * dictionary's enumeration order. -108 when the temporary buffer was not
 * allocated (*array not written); -4960 when the array was not created
 * (*array null). */
OSStatus VarnArrayCreateWithDictionaryKeys(CFDictionaryRef dictionary, CFArrayRef *array);
OSStatus VarnArrayCreateWithDictionaryValues(CFDictionaryRef dictionary, CFArrayRef *array);

/* A new immutable dictionary pairing keys[i] with values[i]; of equal keys
 * the later pair wins. -50 when the arrays differ in count and -108 when a
 * temporary buffer was not allocated (*dictionary not written on both);
 * -4960 when the dictionary was not created (*dictionary null). */
OSStatus VarnDictionaryCreateWithArrayOfKeysAndValues(CFArrayRef keys, CFArrayRef values,
                                                      CFDictionaryRef *dictionary);

/* Stores every pair of source into destination, replacing the values of
 * keys both hold; keys only in destination stay. 0, or -108 when
 * destination could not grow to take some new key: then the other pairs
 * are stored and that one is missing. source is not changed. */
OSStatus VarnDictionaryMerge(CFMutableDictionaryRef destination, CFDictionaryRef source);

#ifdef __cplusplus
}
#endif

#endif
