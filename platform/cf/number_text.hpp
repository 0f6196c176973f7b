// The text forms of integers and reals in XML property lists.
//
// Integers are 64-bit signed: the object layer keeps nothing wider, so a
// larger value (some writers emit unsigned 64-bit values) is refused rather
// than silently changed. Reals are written in the shortest form that reads
// back to the same double, laid out as Python's repr() does, so that an
// integral value still carries its ".0" and other readers keep it a real.
#ifndef TOLVAN_PLATFORM_CF_NUMBER_TEXT_HPP
#define TOLVAN_PLATFORM_CF_NUMBER_TEXT_HPP

#include <cstddef>
#include <cstdint>

namespace tolvan {

// Enough for "-9223372036854775808" and for any real FormatReal writes.
inline constexpr size_t kNumberTextCapacity = 32;

// Decimal digits with an optional sign, or hexadecimal after "0x"/"0X"
// (optionally signed). Surrounding XML whitespace is allowed. False on any
// other text and on values outside the 64-bit signed range.
bool ParseInteger(const char *text, size_t length, int64_t *value);

// Writes the decimal form into out (at least kNumberTextCapacity bytes) and
// answers its length.
size_t FormatInteger(int64_t value, char *out);

// Decimal reals with optional sign, fraction and exponent, and the words
// nan, inf and infinity (any case, optionally signed). Surrounding XML
// whitespace is allowed. False on anything else, and on finite text whose
// value does not fit a double (rather than turning it into 0 or infinity).
bool ParseReal(const char *text, size_t length, double *value);

// Writes the shortest round-trip form into out (at least
// kNumberTextCapacity bytes) and answers its length. Not-a-number is
// written "nan", infinities "+infinity" and "-infinity".
size_t FormatReal(double value, char *out);

}  // namespace tolvan

#endif
