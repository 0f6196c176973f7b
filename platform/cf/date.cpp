// Dates: seconds relative to 2001-01-01 00:00:00 UTC.
#include <time.h>

#include <cstdio>

#include "platform/cf/cf_number.h"
#include "platform/cf/iso8601_date.hpp"
#include "platform/cf/number.hpp"
#include "platform/cf/string.hpp"

using tolvan::cf::Object;

struct TolvanCFDate {
  Object header;
  double at;
};

namespace tolvan::cf {
namespace {

const TolvanCFDate *AsDate(const Object *object) {
  return reinterpret_cast<const TolvanCFDate *>(object);
}

bool EqualDates(const Object *a, const Object *b, int) {
  return CompareReals(AsDate(a)->at, AsDate(b)->at) == 0;
}

int CompareDates(const Object *a, const Object *b, int) {
  return CompareReals(AsDate(a)->at, AsDate(b)->at);
}

CFHashCode HashDate(const Object *object) { return HashReal(AsDate(object)->at); }

bool DescribeDate(const Object *object, StringBuilder &out, int) {
  double at = AsDate(object)->at;
  char text[80];
  int length = kIso8601DateLength;
  // Outside the years four digits can carry, the date shows as its seconds.
  if (!FormatIso8601Date(at, text)) {
    length = std::snprintf(text, sizeof text, "%g seconds after 2001-01-01T00:00:00Z", at);
  }
  return out.AppendLatin1(reinterpret_cast<const unsigned char *>(text), length);
}

const TolvanCFDate *CheckedDate(CFDateRef date, const char *function) {
  return Checked<TolvanCFDate>(date, kDateTypeID, function);
}

}  // namespace

const Class kDateClass = {"CFDate", nullptr, EqualDates, CompareDates, HashDate, DescribeDate};

}  // namespace tolvan::cf

using namespace tolvan::cf;

CFTypeID CFDateGetTypeID(void) { return kDateTypeID; }

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) - kCFAbsoluteTimeIntervalSince1970 +
         static_cast<double>(now.tv_nsec) / 1e9;
}

CFDateRef CFDateCreate(CFAllocatorRef allocator, CFAbsoluteTime at) {
  auto *date = Create<TolvanCFDate>(allocator, kDateTypeID, sizeof(TolvanCFDate));
  if (date == nullptr) return nullptr;
  date->at = at;
  return date;
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate) {
  return CheckedDate(theDate, "CFDateGetAbsoluteTime")->at;
}

CFComparisonResult CFDateCompare(CFDateRef theDate, CFDateRef otherDate, void *) {
  int order = CompareReals(CheckedDate(theDate, "CFDateCompare")->at,
                           CheckedDate(otherDate, "CFDateCompare")->at);
  return order < 0 ? kCFCompareLessThan : order > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}
