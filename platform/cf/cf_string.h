/* Strings: immutable and mutable sequences of UTF-16 units. Lengths and
 * indexes count UTF-16 units. Storage is compact (one byte a character) when
 * every character fits in ISO Latin 1, so that small ASCII strings, which
 * are most keys and values of a preference file, cost little. */
#ifndef TOLVAN_PLATFORM_CF_CF_STRING_H
#define TOLVAN_PLATFORM_CF_CF_STRING_H

#include <stdarg.h>

#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef UInt32 CFStringEncoding;
enum {
  kCFStringEncodingMacRoman = 0,
  kCFStringEncodingISOLatin1 = 0x0201,
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUnicode = 0x0100,
  kCFStringEncodingUTF8 = 0x08000100,
  kCFStringEncodingUTF16 = 0x0100,
  kCFStringEncodingUTF16BE = 0x10000100,
  kCFStringEncodingUTF16LE = 0x14000100,
  kCFStringEncodingUTF32 = 0x0c000100,
  kCFStringEncodingUTF32BE = 0x18000100,
  kCFStringEncodingUTF32LE = 0x1c000100,
  kCFStringEncodingInvalidId = 0xffffffffU
};

typedef CFOptionFlags CFStringCompareFlags;
enum {
  kCFCompareCaseInsensitive = 1,
  kCFCompareBackwards = 4,
  kCFCompareAnchored = 8,
  kCFCompareNonliteral = 16,
  kCFCompareLocalized = 32,
  kCFCompareNumerically = 64
};

CFTypeID CFStringGetTypeID(void);

/* A string constant that lives for the whole process and is never freed:
 * the same literal yields the same object every time. */
#define CFSTR(cStr) TolvanCFStringMakeConstant("" cStr "")
CFStringRef TolvanCFStringMakeConstant(const char *utf8);

/* Null when the bytes are not valid in the encoding (for UTF-8: overlong
 * forms, surrogates, values beyond U+10FFFF, truncated sequences). With
 * isExternalRepresentation, a UTF-16 or UTF-32 byte-order mark is honoured
 * and dropped; without one, UTF-16 and UTF-32 are big-endian. */
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr,
                                      CFStringEncoding encoding);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars,
                                         CFIndex numChars);
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString);
CFStringRef CFStringCreateWithSubstring(CFAllocatorRef alloc, CFStringRef str, CFRange range);
/* printf-style formats with the C library's conversions, plus %@ for any
 * object (a string inserts itself, others their description). The options
 * dictionary is ignored and may be null. */
CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFTypeRef formatOptions,
                                     CFStringRef format, ...);
CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef alloc, CFTypeRef formatOptions,
                                                 CFStringRef format, va_list arguments);
/* The path bytes of the platform's file system (UTF-8). */
CFStringRef CFStringCreateWithFileSystemRepresentation(CFAllocatorRef alloc, const char *buffer);

/* Appending can fail for want of memory: the string is then unchanged and
 * the call answers false (callers that cannot fail may ignore it). */
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength);
CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength,
                                             CFStringRef theString);
Boolean CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString);
Boolean CFStringAppendCString(CFMutableStringRef theString, const char *cStr,
                              CFStringEncoding encoding);
Boolean CFStringAppendCharacters(CFMutableStringRef theString, const UniChar *chars,
                                 CFIndex numChars);
Boolean CFStringAppendFormat(CFMutableStringRef theString, CFTypeRef formatOptions,
                             CFStringRef format, ...);

CFIndex CFStringGetLength(CFStringRef theString);
UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx);
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer);

/* Converts the range into bytes of the encoding. Returns the number of
 * characters converted; *usedBufLen (when not null) receives the bytes they
 * take. A null buffer only measures. With lossByte 0 conversion stops at the
 * first character the encoding cannot represent; otherwise that byte stands
 * in for it. Conversion also stops before a character that would not fit in
 * maxBufLen. isExternalRepresentation adds a byte-order mark for UTF-16/32. */
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                         CFIndex maxBufLen, CFIndex *usedBufLen);
/* True when the whole string and its terminator fit in bufferSize bytes. */
Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
/* A pointer into the string's own storage when it can be had without
 * conversion (compact ASCII storage asked for as ASCII or UTF-8, compact
 * storage asked for as ISO Latin 1), else null. */
const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
Boolean CFStringGetFileSystemRepresentation(CFStringRef string, char *buffer, CFIndex maxBufLen);
CFIndex CFStringGetMaximumSizeOfFileSystemRepresentation(CFStringRef string);

/* Literal comparison by UTF-16 units; kCFCompareCaseInsensitive folds ASCII
 * letters; kCFCompareNumerically compares runs of digits by value. */
CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions);
Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix);
Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix);

#ifdef __cplusplus
}
#endif

#endif
