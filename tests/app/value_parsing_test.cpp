#include "app/value_parsing.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "platform/cf/cf.h"

namespace tolvan::app {
namespace {

CFRef<CFPropertyListRef> Parse(ValueType type, const std::string &text) {
  std::string error;
  CFRef<CFPropertyListRef> value = ParseValue(type, text, &error);
  EXPECT_TRUE(value) << text << ": " << error;
  return value;
}

void ExpectRefused(ValueType type, const std::string &text) {
  std::string error;
  EXPECT_FALSE(ParseValue(type, text, &error)) << text;
  EXPECT_FALSE(error.empty()) << text;
}

int64_t IntegerOf(CFPropertyListRef value) {
  int64_t number = 0;
  EXPECT_EQ(CFGetTypeID(value), CFNumberGetTypeID());
  EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &number));
  return number;
}

TEST(ValueParsing, Strings) {
  auto value = Parse(ValueType::kString, "gr\xc3\xbc\xc3\x9f dich");
  auto expected = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(nullptr, "gr\xc3\xbc\xc3\x9f dich", kCFStringEncodingUTF8));
  EXPECT_TRUE(CFEqual(value.get(), expected.get()));
  EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(Parse(ValueType::kString, "").get())), 0);
  ExpectRefused(ValueType::kString, "\xff\xfe");
}

TEST(ValueParsing, Integers) {
  EXPECT_EQ(IntegerOf(Parse(ValueType::kInteger, "42").get()), 42);
  EXPECT_EQ(IntegerOf(Parse(ValueType::kInteger, "-9223372036854775808").get()),
            std::numeric_limits<int64_t>::min());
  EXPECT_EQ(IntegerOf(Parse(ValueType::kInteger, "0x10").get()), 16);
  for (const char *bad : {"", "12a", "9223372036854775808", "1.5", "--3"}) {
    ExpectRefused(ValueType::kInteger, bad);
  }
}

TEST(ValueParsing, RealsStayReals) {
  auto value = Parse(ValueType::kReal, "2");
  EXPECT_TRUE(CFNumberIsFloatType(static_cast<CFNumberRef>(value.get())));
  double number = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(Parse(ValueType::kReal, "-1.5e3").get()),
                   kCFNumberFloat64Type, &number);
  EXPECT_EQ(number, -1500.0);
  for (const char *bad : {"", "one", "1e999", "1.5x"}) ExpectRefused(ValueType::kReal, bad);
}

TEST(ValueParsing, Booleans) {
  for (const char *word : {"true", "YES", "1", "True"}) {
    EXPECT_EQ(Parse(ValueType::kBoolean, word).get(), kCFBooleanTrue) << word;
  }
  for (const char *word : {"false", "no", "0", "NO"}) {
    EXPECT_EQ(Parse(ValueType::kBoolean, word).get(), kCFBooleanFalse) << word;
  }
  for (const char *bad : {"", "2", "yess", "y", "on"}) ExpectRefused(ValueType::kBoolean, bad);
}

TEST(ValueParsing, Dates) {
  auto value = Parse(ValueType::kDate, "2001-01-01T00:01:00Z");
  ASSERT_EQ(CFGetTypeID(value.get()), CFDateGetTypeID());
  EXPECT_EQ(CFDateGetAbsoluteTime(static_cast<CFDateRef>(value.get())), 60.0);
  for (const char *bad : {"", "2001-01-01", "2001-02-30T00:00:00Z", " 2001-01-01T00:01:00Z",
                          "2001-01-01T00:01:00"}) {
    ExpectRefused(ValueType::kDate, bad);
  }
}

TEST(ValueParsing, DataAsHexadecimal) {
  auto value = Parse(ValueType::kData, "00fFa1");
  ASSERT_EQ(CFGetTypeID(value.get()), CFDataGetTypeID());
  auto data = static_cast<CFDataRef>(value.get());
  ASSERT_EQ(CFDataGetLength(data), 3);
  EXPECT_EQ(CFDataGetBytePtr(data)[0], 0x00);
  EXPECT_EQ(CFDataGetBytePtr(data)[1], 0xff);
  EXPECT_EQ(CFDataGetBytePtr(data)[2], 0xa1);
  EXPECT_EQ(CFDataGetLength(static_cast<CFDataRef>(Parse(ValueType::kData, "").get())), 0);
  for (const char *bad : {"0", "abc", "0g", "zz00", "00 11"}) ExpectRefused(ValueType::kData, bad);
}

}  // namespace
}  // namespace tolvan::app
