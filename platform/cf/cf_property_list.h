/* XML property lists: the text form of a tree of strings, numbers,
 * booleans, data, dates, arrays and dictionaries.
 *
 * The writer produces the platform's XML property-list text (the XML
 * declaration, the DOCTYPE line, <plist version="1.0">, one tab per level,
 * dictionary keys in ascending order). The reader accepts that format from
 * any conforming writer and refuses everything else with a null result; it
 * parses the caller's bytes in place, with nesting bounded by
 * kTolvanPropertyListMaxDepth. */
#ifndef TOLVAN_PLATFORM_CF_CF_PROPERTY_LIST_H
#define TOLVAN_PLATFORM_CF_CF_PROPERTY_LIST_H

#include "platform/cf/cf_base.h"
#include "platform/cf/cf_data.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef CFOptionFlags CFPropertyListMutabilityOptions;
enum {
  kCFPropertyListImmutable = 0,
  kCFPropertyListMutableContainers = 1,
  kCFPropertyListMutableContainersAndLeaves = 2
};

/* Deeper documents are refused. Containers count as levels. */
enum { kTolvanPropertyListMaxDepth = 512 };

/* Null when the object is not a property list (an unknown type, a
 * dictionary key that is not a string, nesting beyond the limit) or memory
 * runs out. */
CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef allocator, CFPropertyListRef propertyList);

/* Null on any malformed document. When errorString is not null it receives
 * null on success and, on failure, an owned string saying what was wrong
 * (or null when even that could not be made). */
CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef allocator, CFDataRef xmlData,
                                                  CFOptionFlags mutabilityOption,
                                                  CFStringRef *errorString);

/* True when an errorString from CFPropertyListCreateFromXMLData says the
 * reader ran short of memory rather than found the document malformed. A
 * null errorString (not even the explanation could be made) counts as out of
 * memory. Lets a caller keep a good file instead of treating it as corrupt. */
Boolean TolvanPropertyListErrorIsOutOfMemory(CFStringRef errorString);

/* A deep copy with the given mutability; null when the object is not a
 * property list or memory runs out. */
CFPropertyListRef CFPropertyListCreateDeepCopy(CFAllocatorRef allocator,
                                               CFPropertyListRef propertyList,
                                               CFOptionFlags mutabilityOption);

#ifdef __cplusplus
}
#endif

#endif
