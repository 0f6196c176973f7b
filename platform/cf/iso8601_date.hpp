// The <date> element's text: "YYYY-MM-DDTHH:MM:SSZ", UTC, whole seconds.
#ifndef TOLVAN_PLATFORM_CF_ISO8601_DATE_HPP
#define TOLVAN_PLATFORM_CF_ISO8601_DATE_HPP

#include <cstddef>

#include "platform/cf/cf_number.h"

namespace tolvan {

inline constexpr size_t kIso8601DateLength = 20;

// Writes the whole second at or before the time (fractions are dropped, as
// the format has no place for them). False when the time is not finite or
// falls outside the years 1 to 9999, which four digits cannot carry.
bool FormatIso8601Date(CFAbsoluteTime at, char out[kIso8601DateLength]);

// Reads exactly that form, with surrounding XML whitespace allowed; every
// field must be in range (the day for its month and year, seconds 0-59).
bool ParseIso8601Date(const char *text, size_t length, CFAbsoluteTime *at);

}  // namespace tolvan

#endif
