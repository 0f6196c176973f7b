// Exact comparison and hashing of numeric values, shared by numbers and
// dates.
#ifndef TOLVAN_PLATFORM_CF_NUMBER_HPP
#define TOLVAN_PLATFORM_CF_NUMBER_HPP

#include <cstdint>

#include "platform/cf/object.hpp"

namespace tolvan::cf {

// -1, 0 or 1 as the integer is below, equal to or above the real, without
// rounding either; NaN orders after every number.
int CompareIntegerReal(int64_t integer, double real);
// NaN equals NaN and orders after every number; -0.0 equals 0.0.
int CompareReals(double a, double b);
// Equal to the hash of the equal integer when the real is integral.
CFHashCode HashReal(double real);

}  // namespace tolvan::cf

#endif
