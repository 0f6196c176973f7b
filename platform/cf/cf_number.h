/* Numbers, booleans and dates.
 *
 * A number keeps either a 64-bit signed integer or a double, whatever type
 * it was created with. CFNumberGetValue answers true only when the stored
 * value fits the asked type exactly; otherwise it still stores the nearest
 * conversion and answers false. Numbers compare equal by value across types;
 * booleans are a type of their own. */
#ifndef TOLVAN_PLATFORM_CF_CF_NUMBER_H
#define TOLVAN_PLATFORM_CF_CF_NUMBER_H

#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct TolvanCFNumber *CFNumberRef;
typedef const struct TolvanCFBoolean *CFBooleanRef;
typedef const struct TolvanCFDate *CFDateRef;

typedef CFIndex CFNumberType;
enum {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
  kCFNumberCFIndexType = 14,
  kCFNumberNSIntegerType = 15,
  kCFNumberCGFloatType = 16,
  kCFNumberMaxType = 16
};

CFTypeID CFNumberGetTypeID(void);
/* Null for an unknown type or a null value pointer. */
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void *valuePtr);
/* kCFNumberSInt64Type for integers, kCFNumberFloat64Type for reals. */
CFNumberType CFNumberGetType(CFNumberRef number);
CFIndex CFNumberGetByteSize(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr);
CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber, void *context);

CFTypeID CFBooleanGetTypeID(void);
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
Boolean CFBooleanGetValue(CFBooleanRef boolean);

/* Seconds relative to 2001-01-01 00:00:00 UTC. */
typedef double CFTimeInterval;
typedef CFTimeInterval CFAbsoluteTime;
#define kCFAbsoluteTimeIntervalSince1970 978307200.0

CFTypeID CFDateGetTypeID(void);
CFAbsoluteTime CFAbsoluteTimeGetCurrent(void);
CFDateRef CFDateCreate(CFAllocatorRef allocator, CFAbsoluteTime at);
CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate);
CFComparisonResult CFDateCompare(CFDateRef theDate, CFDateRef otherDate, void *context);

#ifdef __cplusplus
}
#endif

#endif
