/* File URLs: property-list objects that name a file-system object by path.
 *
 * Only file URLs exist here. A URL holds a path and whether it names a
 * folder; a URL made from a relative path keeps the current folder of the
 * moment as its base, and resolving against the base gives the absolute
 * path. URLs are immutable, compare equal by resolved path and directory
 * flag, and follow the Create/Copy/Get ownership rule of platform/cf. */
#ifndef TOLVAN_PLATFORM_URL_URL_H
#define TOLVAN_PLATFORM_URL_URL_H

#include "platform/cf/cf_base.h"
#include "platform/cf/cf_array.h"
#include "platform/cf/cf_data.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_string.h"
#include "platform/files/files.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct TolvanCFURL *CFURLRef;

typedef CFIndex CFURLPathStyle;
enum { kCFURLPOSIXPathStyle = 0 };

CFTypeID CFURLGetTypeID(void);

/* A URL for the bufLen bytes of a path (no NUL needed). Null for an empty
 * path, a path holding a NUL byte, or when memory runs out. */
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory);

/* The same from a string (its UTF-8 bytes). */
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory);

/* The path, NUL-terminated, into maxBufLen bytes; resolved against the base
 * when resolveAgainstBase is true. False when it does not fit. */
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase,
                                         UInt8 *buffer, CFIndex maxBufLen);

/* The resolved path as a string, without a trailing '/' (except for "/"). */
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle pathStyle);

Boolean CFURLHasDirectoryPath(CFURLRef url);

/* url's path with pathComponent appended after one '/'. Null when the
 * component is empty or holds a NUL. */
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef allocator, CFURLRef url,
                                               CFStringRef pathComponent, Boolean isDirectory);

/* The last component of the path, and the URL less it. */
CFStringRef CFURLCopyLastPathComponent(CFURLRef url);
CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef allocator, CFURLRef url);

/* Between URLs and file-system references: a folder's URL is a directory
 * URL. CFURLGetFSRef is false when the object does not exist. */
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef *fsRef);
Boolean CFURLGetFSRef(CFURLRef url, FSRef *fsRef);

/* Reads the whole file the URL names into *resourceData (owned by the
 * caller). Only the data is supported: properties and desiredProperties
 * must be null. On failure *resourceData is null, *errorCode (when not
 * null) receives the errno value, and the answer is false. */
Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef allocator, CFURLRef url,
                                                 CFDataRef *resourceData,
                                                 CFDictionaryRef *properties,
                                                 CFArrayRef desiredProperties,
                                                 SInt32 *errorCode);

#ifdef __cplusplus
}
#endif

#endif
