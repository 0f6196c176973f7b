/* Values at key paths in nested dictionaries.
 *
 * A path is n keys, outermost first: key 0 is looked up in the given
 * dictionary, key i in the dictionary key i-1 led to, and the last key names
 * the target entry (its value may be of any type). Keys match by the
 * dictionaries' own key equality. Arrays on the way are not indexed into:
 * every value before the last key must be a dictionary. A path comes either
 * as a C array of keys and a count, or as an array whose elements are the
 * keys.
 *
 * Statuses: 0; 5400 (kVarnNoSuchKeyErr) when a key is not present where it
 * is looked up; 5401 (kVarnBadValueErr) when a value before the last key is
 * not a dictionary; -4960 when a mutable copy was not made; -108 when memory
 * ran out (the array form's temporary key list, or a dictionary that could
 * not take a new entry); -50 (paramErr) for a path of no keys (a count of 0
 * or less, or an empty path array), on which nothing is looked up or
 * changed.
 *
 * Setting and removing copy on write: every dictionary between the top level
 * and the target is replaced in its parent by a new mutable one-level copy,
 * on every call, even when it already was mutable. A dictionary that was
 * replaced is never changed itself, so a reference to it keeps its old
 * content. The top level is never copied (a one-key path copies nothing).
 * Missing levels are never created. When a set or remove fails part way,
 * the levels already replaced stay replaced (equal in content) and the
 * target entry is untouched. */
#ifndef TOLVAN_PLIST_VARN_KEY_PATH_H
#define TOLVAN_PLIST_VARN_KEY_PATH_H

#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_array.h"
#include "platform/cf/cf_base.h"
#include "platform/cf/cf_dictionary.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The value at the path, borrowed: valid while the dictionary holding it
 * lives. *value is written only on success. Nothing is changed. */
OSStatus VarnDictionaryGetValueAtPath(CFDictionaryRef dictionary, const CFTypeRef *keys,
                                      CFIndex count, CFTypeRef *value);
OSStatus VarnDictionaryGetValueAtPathArray(CFDictionaryRef dictionary, CFArrayRef path,
                                           CFTypeRef *value);

/* Stores value (not null) under the last key, adding it or replacing what
 * was there; the dictionary retains it. A missing last key is added; a
 * missing earlier key is 5400. */
OSStatus VarnDictionarySetValueAtPath(CFMutableDictionaryRef dictionary, const CFTypeRef *keys,
                                      CFIndex count, CFTypeRef value);
OSStatus VarnDictionarySetValueAtPathArray(CFMutableDictionaryRef dictionary, CFArrayRef path,
                                           CFTypeRef value);

/* Removes the last key's entry; 5400 when it is not there. A dictionary the
 * removal leaves empty stays in its parent. */
OSStatus VarnDictionaryRemoveValueAtPath(CFMutableDictionaryRef dictionary,
                                         const CFTypeRef *keys, CFIndex count);
OSStatus VarnDictionaryRemoveValueAtPathArray(CFMutableDictionaryRef dictionary,
                                              CFArrayRef path);

#ifdef __cplusplus
}
#endif

#endif
