// Numbers: a 64-bit integer or a double, compared by value across the two.
// The integers -1 to 255 are shared immortal objects, as they make up most
// numbers in preference files.
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/cf/cf_number.h"
#include "platform/cf/number.hpp"
#include "platform/cf/number_text.hpp"
#include "platform/cf/string.hpp"

using tolvan::cf::Object;

struct TolvanCFNumber {
  Object header;
  union {
    int64_t integer = 0;
    double real;
  };
};

namespace tolvan::cf {
namespace {

enum : uint16_t { kNumberReal = 1 };

constexpr int64_t kSmallestCached = -1;
constexpr int64_t kLargestCached = 255;

struct SmallIntegers {
  TolvanCFNumber numbers[kLargestCached - kSmallestCached + 1];
  constexpr SmallIntegers() {
    for (int64_t i = 0; i <= kLargestCached - kSmallestCached; ++i) {
      numbers[i].header.type = kNumberTypeID;
      numbers[i].header.flags = kImmortal;
      numbers[i].integer = i + kSmallestCached;
    }
  }
};
constinit SmallIntegers small_integers;

const TolvanCFNumber *CheckedNumber(CFNumberRef number, const char *function) {
  return Checked<TolvanCFNumber>(number, kNumberTypeID, function);
}

bool IsReal(const TolvanCFNumber *number) { return (number->header.bits & kNumberReal) != 0; }

constexpr double kTwoTo63 = 9223372036854775808.0;

template <typename T>
bool FromInteger(int64_t value, T *out) {
  using Limits = std::numeric_limits<T>;
  if constexpr (std::is_floating_point_v<T>) {
    *out = static_cast<T>(value);
    return CompareIntegerReal(value, static_cast<double>(*out)) == 0;
  } else {
    if (value < static_cast<int64_t>(Limits::min())) {
      *out = Limits::min();
      return false;
    }
    if (value > static_cast<int64_t>(Limits::max())) {
      *out = Limits::max();
      return false;
    }
    *out = static_cast<T>(value);
    return true;
  }
}

template <typename T>
bool FromReal(double value, T *out) {
  using Limits = std::numeric_limits<T>;
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isfinite(value) && std::fabs(value) > static_cast<double>(Limits::max())) {
      *out = std::signbit(value) ? -Limits::max() : Limits::max();
      return false;
    }
    *out = static_cast<T>(value);
    return std::isnan(value) ? true : static_cast<double>(*out) == value;
  } else {
    if (std::isnan(value)) {
      *out = 0;
      return false;
    }
    // Compared as doubles, which hold both bounds exactly (the upper one as
    // max + 1, a power of two).
    if (value < static_cast<double>(Limits::min())) {
      *out = Limits::min();
      return false;
    }
    if (value >= static_cast<double>(Limits::max()) + 1.0) {
      *out = Limits::max();
      return false;
    }
    double whole = std::trunc(value);
    *out = static_cast<T>(whole);
    return whole == value;
  }
}

template <typename T>
bool Store(const TolvanCFNumber *number, void *value_ptr) {
  T value;
  bool exact = IsReal(number) ? FromReal(number->real, &value) : FromInteger(number->integer, &value);
  std::memcpy(value_ptr, &value, sizeof value);
  return exact;
}

template <typename T>
T Load(const void *value_ptr) {
  T value;
  std::memcpy(&value, value_ptr, sizeof value);
  return value;
}

int CompareNumberObjects(const TolvanCFNumber *a, const TolvanCFNumber *b) {
  if (!IsReal(a) && !IsReal(b)) {
    return a->integer < b->integer ? -1 : a->integer > b->integer ? 1 : 0;
  }
  if (IsReal(a) && IsReal(b)) return CompareReals(a->real, b->real);
  if (IsReal(b)) return CompareIntegerReal(a->integer, b->real);
  return -CompareIntegerReal(b->integer, a->real);
}

const TolvanCFNumber *AsNumber(const Object *object) {
  return reinterpret_cast<const TolvanCFNumber *>(object);
}

bool EqualNumbers(const Object *a, const Object *b, int) {
  return CompareNumberObjects(AsNumber(a), AsNumber(b)) == 0;
}

int CompareNumbers(const Object *a, const Object *b, int) {
  return CompareNumberObjects(AsNumber(a), AsNumber(b));
}

CFHashCode HashNumber(const Object *object) {
  const TolvanCFNumber *number = AsNumber(object);
  if (!IsReal(number)) return MixHash(static_cast<uint64_t>(number->integer));
  return HashReal(number->real);
}

bool DescribeNumber(const Object *object, StringBuilder &out, int) {
  const TolvanCFNumber *number = AsNumber(object);
  char text[kNumberTextCapacity];
  size_t length = IsReal(number) ? FormatReal(number->real, text) : FormatInteger(number->integer, text);
  return out.AppendLatin1(reinterpret_cast<const unsigned char *>(text), static_cast<CFIndex>(length));
}

CFNumberRef CreateInteger(CFAllocatorRef allocator, int64_t value) {
  if (value >= kSmallestCached && value <= kLargestCached) {
    return &small_integers.numbers[value - kSmallestCached];
  }
  auto *number = Create<TolvanCFNumber>(allocator, kNumberTypeID, sizeof(TolvanCFNumber));
  if (number == nullptr) return nullptr;
  number->integer = value;
  return number;
}

CFNumberRef CreateReal(CFAllocatorRef allocator, double value) {
  auto *number = Create<TolvanCFNumber>(allocator, kNumberTypeID, sizeof(TolvanCFNumber));
  if (number == nullptr) return nullptr;
  number->header.bits = kNumberReal;
  number->real = value;
  return number;
}

}  // namespace

int CompareIntegerReal(int64_t integer, double real) {
  if (std::isnan(real)) return -1;  // NaN orders after every number
  if (real >= kTwoTo63) return -1;
  if (real < -kTwoTo63) return 1;
  double whole = std::trunc(real);
  auto whole_integer = static_cast<int64_t>(whole);
  if (integer != whole_integer) return integer < whole_integer ? -1 : 1;
  double fraction = real - whole;
  return fraction > 0 ? -1 : fraction < 0 ? 1 : 0;
}

int CompareReals(double a, double b) {
  bool a_nan = std::isnan(a), b_nan = std::isnan(b);
  if (a_nan || b_nan) return a_nan == b_nan ? 0 : (a_nan ? 1 : -1);
  return a < b ? -1 : a > b ? 1 : 0;
}

CFHashCode HashReal(double real) {
  if (std::isnan(real)) return MixHash(0x7FF8000000000000ULL);
  if (real >= -kTwoTo63 && real < kTwoTo63 && std::trunc(real) == real) {
    // Integral values hash as the equal integer would (and -0.0 as 0).
    return MixHash(static_cast<uint64_t>(static_cast<int64_t>(real)));
  }
  uint64_t bits;
  std::memcpy(&bits, &real, sizeof bits);
  return MixHash(bits);
}

const Class kNumberClass = {"CFNumber", nullptr, EqualNumbers, CompareNumbers, HashNumber,
                            DescribeNumber};

}  // namespace tolvan::cf

using namespace tolvan::cf;

CFTypeID CFNumberGetTypeID(void) { return kNumberTypeID; }

CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void *valuePtr) {
  if (valuePtr == nullptr) return nullptr;
  switch (theType) {
    case kCFNumberSInt8Type: return CreateInteger(allocator, Load<int8_t>(valuePtr));
    case kCFNumberSInt16Type: return CreateInteger(allocator, Load<int16_t>(valuePtr));
    case kCFNumberSInt32Type: return CreateInteger(allocator, Load<int32_t>(valuePtr));
    case kCFNumberSInt64Type: return CreateInteger(allocator, Load<int64_t>(valuePtr));
    case kCFNumberCharType: return CreateInteger(allocator, Load<char>(valuePtr));
    case kCFNumberShortType: return CreateInteger(allocator, Load<short>(valuePtr));
    case kCFNumberIntType: return CreateInteger(allocator, Load<int>(valuePtr));
    case kCFNumberLongType: return CreateInteger(allocator, Load<long>(valuePtr));
    case kCFNumberLongLongType: return CreateInteger(allocator, Load<long long>(valuePtr));
    case kCFNumberCFIndexType: return CreateInteger(allocator, Load<CFIndex>(valuePtr));
    case kCFNumberNSIntegerType: return CreateInteger(allocator, Load<long>(valuePtr));
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: return CreateReal(allocator, Load<float>(valuePtr));
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType: return CreateReal(allocator, Load<double>(valuePtr));
    default: return nullptr;
  }
}

CFNumberType CFNumberGetType(CFNumberRef number) {
  return IsReal(CheckedNumber(number, "CFNumberGetType")) ? kCFNumberFloat64Type
                                                          : kCFNumberSInt64Type;
}

CFIndex CFNumberGetByteSize(CFNumberRef number) {
  CheckedNumber(number, "CFNumberGetByteSize");
  return 8;
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  return IsReal(CheckedNumber(number, "CFNumberIsFloatType"));
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr) {
  const TolvanCFNumber *checked = CheckedNumber(number, "CFNumberGetValue");
  if (valuePtr == nullptr) Fatal("CFNumberGetValue", "null value pointer");
  switch (theType) {
    case kCFNumberSInt8Type: return Store<int8_t>(checked, valuePtr);
    case kCFNumberSInt16Type: return Store<int16_t>(checked, valuePtr);
    case kCFNumberSInt32Type: return Store<int32_t>(checked, valuePtr);
    case kCFNumberSInt64Type: return Store<int64_t>(checked, valuePtr);
    case kCFNumberCharType: return Store<char>(checked, valuePtr);
    case kCFNumberShortType: return Store<short>(checked, valuePtr);
    case kCFNumberIntType: return Store<int>(checked, valuePtr);
    case kCFNumberLongType: return Store<long>(checked, valuePtr);
    case kCFNumberLongLongType: return Store<long long>(checked, valuePtr);
    case kCFNumberCFIndexType: return Store<CFIndex>(checked, valuePtr);
    case kCFNumberNSIntegerType: return Store<long>(checked, valuePtr);
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: return Store<float>(checked, valuePtr);
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType: return Store<double>(checked, valuePtr);
    default: Fatal("CFNumberGetValue", "unknown number type");
  }
}

CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber, void *) {
  int order = CompareNumberObjects(CheckedNumber(number, "CFNumberCompare"),
                                   CheckedNumber(otherNumber, "CFNumberCompare"));
  return order < 0 ? kCFCompareLessThan : order > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}
