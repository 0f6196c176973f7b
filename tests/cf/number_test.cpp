// Numbers (exact-fit reads, cross-type equality and hashing), booleans and
// dates.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan {
namespace {

CFRef<CFNumberRef> Integer(int64_t value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
}

CFRef<CFNumberRef> Real(double value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value));
}

constexpr double kTwoTo63 = 9223372036854775808.0;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

template <typename T>
void ExpectRead(CFNumberRef number, CFNumberType type, bool exact, T expected) {
  T value{};
  EXPECT_EQ(static_cast<bool>(CFNumberGetValue(number, type, &value)), exact);
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(value));
      return;
    }
  }
  EXPECT_EQ(value, expected);
}

TEST(Number, ReadsAnswerWhetherTheValueFitsExactly) {
  ExpectRead<int8_t>(Integer(127).get(), kCFNumberSInt8Type, true, 127);
  ExpectRead<int8_t>(Integer(128).get(), kCFNumberSInt8Type, false, 127);
  ExpectRead<int8_t>(Integer(-129).get(), kCFNumberSInt8Type, false, -128);
  ExpectRead<int16_t>(Integer(-32768).get(), kCFNumberSInt16Type, true, -32768);
  ExpectRead<int16_t>(Integer(40000).get(), kCFNumberShortType, false, 32767);
  ExpectRead<int32_t>(Integer(INT32_MIN).get(), kCFNumberSInt32Type, true, INT32_MIN);
  ExpectRead<int32_t>(Integer(int64_t{INT32_MAX} + 1).get(), kCFNumberIntType, false, INT32_MAX);
  ExpectRead<int64_t>(Integer(INT64_MIN).get(), kCFNumberSInt64Type, true, INT64_MIN);
  ExpectRead<long>(Integer(INT64_MAX).get(), kCFNumberLongType, true, LONG_MAX);
  ExpectRead<CFIndex>(Integer(-5).get(), kCFNumberCFIndexType, true, -5);

  // Reals into integers: integral values in range are exact; fractions
  // truncate, out-of-range values and NaN saturate, never undefined casts.
  ExpectRead<int32_t>(Real(42.0).get(), kCFNumberSInt32Type, true, 42);
  ExpectRead<int32_t>(Real(-2.5).get(), kCFNumberSInt32Type, false, -2);
  ExpectRead<int32_t>(Real(3e9).get(), kCFNumberSInt32Type, false, INT32_MAX);
  ExpectRead<int64_t>(Real(-kTwoTo63).get(), kCFNumberSInt64Type, true, INT64_MIN);
  ExpectRead<int64_t>(Real(kTwoTo63).get(), kCFNumberSInt64Type, false, INT64_MAX);
  ExpectRead<int64_t>(Real(-kInf).get(), kCFNumberSInt64Type, false, INT64_MIN);
  ExpectRead<int64_t>(Real(kNaN).get(), kCFNumberSInt64Type, false, 0);
  ExpectRead<int8_t>(Real(-128.0).get(), kCFNumberSInt8Type, true, -128);
  ExpectRead<int8_t>(Real(127.5).get(), kCFNumberSInt8Type, false, 127);

  // Integers into reals: exact only when the double holds the value.
  ExpectRead<double>(Integer(int64_t{1} << 53).get(), kCFNumberFloat64Type, true, 9007199254740992.0);
  ExpectRead<double>(Integer((int64_t{1} << 53) + 1).get(), kCFNumberDoubleType, false,
                     9007199254740992.0);
  ExpectRead<double>(Integer(INT64_MAX).get(), kCFNumberFloat64Type, false, kTwoTo63);
  ExpectRead<float>(Integer(16777217).get(), kCFNumberFloat32Type, false, 16777216.0f);
  ExpectRead<float>(Integer(-16777216).get(), kCFNumberFloatType, true, -16777216.0f);

  // Reals into floats.
  ExpectRead<float>(Real(0.5).get(), kCFNumberFloat32Type, true, 0.5f);
  ExpectRead<float>(Real(0.1).get(), kCFNumberFloat32Type, false, 0.1f);
  ExpectRead<float>(Real(1e300).get(), kCFNumberFloat32Type, false, FLT_MAX);
  ExpectRead<float>(Real(-1e300).get(), kCFNumberFloat32Type, false, -FLT_MAX);
  ExpectRead<float>(Real(kInf).get(), kCFNumberFloat32Type, true, std::numeric_limits<float>::infinity());
  ExpectRead<float>(Real(kNaN).get(), kCFNumberFloat32Type, true, std::numeric_limits<float>::quiet_NaN());
  ExpectRead<double>(Real(-0.0).get(), kCFNumberCGFloatType, true, -0.0);
}

TEST(Number, KeepsTheTypeItWasMadeWith) {
  int8_t small = -3;
  float single = 1.5f;
  auto from_small = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt8Type, &small));
  auto from_float = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloatType, &single));
  EXPECT_EQ(CFNumberGetType(from_small.get()), kCFNumberSInt64Type);
  EXPECT_FALSE(CFNumberIsFloatType(from_small.get()));
  EXPECT_EQ(CFNumberGetType(from_float.get()), kCFNumberFloat64Type);
  EXPECT_EQ(CFNumberGetType(Real(2.0).get()), kCFNumberFloat64Type) << "an integral double stays a real";
  EXPECT_TRUE(CFNumberIsFloatType(Real(2.0).get()));
  EXPECT_EQ(CFNumberGetByteSize(from_small.get()), 8);
  EXPECT_FALSE(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, nullptr));
  EXPECT_FALSE(CFNumberCreate(kCFAllocatorDefault, 99, &small));
}

TEST(Number, EqualityAndOrderAreByValueAcrossTypes) {
  struct Case {
    const char *name;
    CFRef<CFNumberRef> a, b;
    CFComparisonResult order;
  };
  const Case cases[] = {
      {"1 and 1.0", Integer(1), Real(1.0), kCFCompareEqualTo},
      {"0 and -0.0", Integer(0), Real(-0.0), kCFCompareEqualTo},
      {"0.0 and -0.0", Real(0.0), Real(-0.0), kCFCompareEqualTo},
      {"2^53+1 is not its rounded double", Integer((int64_t{1} << 53) + 1),
       Real(9007199254740992.0), kCFCompareGreaterThan},
      {"INT64_MAX below 2^63", Integer(INT64_MAX), Real(kTwoTo63), kCFCompareLessThan},
      {"INT64_MIN equals -2^63", Integer(INT64_MIN), Real(-kTwoTo63), kCFCompareEqualTo},
      {"fraction above", Integer(2), Real(2.5), kCFCompareLessThan},
      {"negative fraction", Integer(-2), Real(-2.5), kCFCompareGreaterThan},
      {"NaN equals NaN", Real(kNaN), Real(kNaN), kCFCompareEqualTo},
      {"NaN after integers", Integer(INT64_MAX), Real(kNaN), kCFCompareLessThan},
      {"NaN after infinity", Real(kInf), Real(kNaN), kCFCompareLessThan},
      {"integers", Integer(-7), Integer(300), kCFCompareLessThan},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CFNumberCompare(c.a.get(), c.b.get(), nullptr), c.order);
    EXPECT_EQ(CFNumberCompare(c.b.get(), c.a.get(), nullptr), -c.order);
    EXPECT_EQ(static_cast<bool>(CFEqual(c.a.get(), c.b.get())), c.order == kCFCompareEqualTo);
    if (c.order == kCFCompareEqualTo) {
      EXPECT_EQ(CFHash(c.a.get()), CFHash(c.b.get()));
    }
  }
  EXPECT_FALSE(CFEqual(Integer(1).get(), kCFBooleanTrue)) << "booleans are not numbers";
  EXPECT_FALSE(CFEqual(Integer(0).get(), kCFBooleanFalse));
}

TEST(Number, SmallIntegersAreSharedConstants) {
  auto a = Integer(255), b = Integer(255);
  EXPECT_EQ(a.get(), b.get());
  int8_t minus_one = -1;
  auto c = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt8Type, &minus_one));
  EXPECT_EQ(c.get(), Integer(-1).get());
  EXPECT_NE(Integer(256).get(), Integer(256).get());
  EXPECT_NE(Real(1.0).get(), Real(1.0).get()) << "reals are never shared";
}

TEST(Boolean, TwoImmortalConstants) {
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
  EXPECT_EQ(CFGetTypeID(kCFBooleanTrue), CFBooleanGetTypeID());
  EXPECT_NE(CFBooleanGetTypeID(), CFNumberGetTypeID());
  for (int i = 0; i < 5; ++i) CFRelease(kCFBooleanTrue);
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_FALSE(CFEqual(kCFBooleanTrue, kCFBooleanFalse));
  EXPECT_NE(CFHash(kCFBooleanTrue), CFHash(kCFBooleanFalse));
}

TEST(Date, KeepsItsTimeAndCompares) {
  auto early = CFRef<CFDateRef>::Adopt(CFDateCreate(kCFAllocatorDefault, -1.5));
  auto late = CFRef<CFDateRef>::Adopt(CFDateCreate(kCFAllocatorDefault, 1e9));
  auto again = CFRef<CFDateRef>::Adopt(CFDateCreate(kCFAllocatorDefault, 1e9));
  EXPECT_EQ(CFDateGetAbsoluteTime(early.get()), -1.5);
  EXPECT_EQ(CFDateCompare(early.get(), late.get(), nullptr), kCFCompareLessThan);
  EXPECT_EQ(CFDateCompare(late.get(), again.get(), nullptr), kCFCompareEqualTo);
  EXPECT_TRUE(CFEqual(late.get(), again.get()));
  EXPECT_EQ(CFHash(late.get()), CFHash(again.get()));
  EXPECT_FALSE(CFEqual(late.get(), Real(1e9).get())) << "a date is not a number";
  // Now is after 2020 and before 2100 on any machine running this.
  double now = CFAbsoluteTimeGetCurrent();
  EXPECT_GT(now, 19.0 * 365 * 86400);
  EXPECT_LT(now, 99.0 * 365 * 86400);
}

TEST(NumberDeathTest, WrongTypesAbort) {
  int64_t value = 0;
  EXPECT_DEATH(CFNumberGetValue(reinterpret_cast<CFNumberRef>(kCFBooleanTrue), kCFNumberSInt64Type, &value),
               "expected a CFNumber, got CFBoolean");
  EXPECT_DEATH(CFBooleanGetValue(reinterpret_cast<CFBooleanRef>(Integer(1000).get())),
               "expected a CFBoolean");
  EXPECT_DEATH(CFNumberGetValue(Integer(1000).get(), 99, &value), "unknown number type");
}

}  // namespace
}  // namespace tolvan
