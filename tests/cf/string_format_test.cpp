// printf-style formats with %@, and the descriptions %@ inserts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan {
namespace {

std::string UTF8Of(CFStringRef string) {
  CFIndex length = CFStringGetLength(string);
  CFIndex needed = 0;
  CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, 0, false, nullptr, 0,
                   &needed);
  std::string text(static_cast<size_t>(needed), '\0');
  CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, 0, false,
                   reinterpret_cast<UInt8 *>(text.data()), needed, &needed);
  return text;
}

template <typename... Args>
std::string Format(CFStringRef format, Args... args) {
  auto string = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, format, args...));
  EXPECT_TRUE(string);
  return string ? UTF8Of(string.get()) : std::string("<null>");
}

std::string Describe(CFTypeRef object) {
  auto description = CFRef<CFStringRef>::Adopt(CFCopyDescription(object));
  EXPECT_TRUE(description);
  return description ? UTF8Of(description.get()) : std::string("<null>");
}

TEST(StringFormat, CConversionsWithFlagsWidthsAndModifiers) {
  EXPECT_EQ(Format(CFSTR("%d|%5d|%-5d|%05d|%+d|% d"), 42, 42, 42, 42, 42, 42),
            "42|   42|42   |00042|+42| 42");
  EXPECT_EQ(Format(CFSTR("%*d|%-*d|%.*f"), 4, 7, 3, 7, 2, 3.14159), "   7|7  |3.14");
  EXPECT_EQ(Format(CFSTR("%*d|"), -4, 7), "7   |") << "a negative * width left-aligns";
  EXPECT_EQ(Format(CFSTR("%hhd %hd %ld %lld %zu %jd %td"), 300, 70000, -1L, INT64_MIN,
                   static_cast<size_t>(SIZE_MAX), static_cast<intmax_t>(-5),
                   static_cast<ptrdiff_t>(-6)),
            "44 4464 -1 -9223372036854775808 18446744073709551615 -5 -6");
  EXPECT_EQ(Format(CFSTR("%u %x %X %#o %llu"), 4000000000u, 255u, 255u, 8u, UINT64_MAX),
            "4000000000 ff FF 010 18446744073709551615");
  EXPECT_EQ(Format(CFSTR("%.3e %g %G %a %Lf"), 12345.678, 0.0001, 1e20, 1.0,
                   static_cast<long double>(0.5)),
            "1.235e+04 0.0001 1E+20 0x1p+0 0.500000");
  EXPECT_EQ(Format(CFSTR("%c%s|%.2s|%5s"), 'x', "yz", "abc", "ab"), "xyz|ab|   ab");
  EXPECT_EQ(Format(CFSTR("100%% sure")), "100% sure");
  EXPECT_EQ(Format(CFSTR("%s"), "caf\xC3\xA9"), "caf\xC3\xA9") << "%s bytes are UTF-8";
}

TEST(StringFormat, ObjectsAndUnicodeConversions) {
  long value = 7;
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberLongType, &value));
  EXPECT_EQ(Format(CFSTR("[%@] [%@] [%@] [%@]"), CFSTR("caf\xC3\xA9 \xF0\x9F\x98\x80"), number.get(),
                   kCFBooleanFalse, static_cast<CFTypeRef>(nullptr)),
            "[caf\xC3\xA9 \xF0\x9F\x98\x80] [7] [false] [(null)]");
  EXPECT_EQ(Format(CFSTR("%-6@|%6@"), CFSTR("ab"), CFSTR("cd")), "ab    |    cd");
  const UniChar units[] = {0x20AC, 'x', 0};
  EXPECT_EQ(Format(CFSTR("%C%S"), static_cast<int>(0xE9), units), "\xC3\xA9\xE2\x82\xAC" "x");
  EXPECT_EQ(Format(CFSTR("%lc%ls"), static_cast<wint_t>(0x1F600), L"\u00e9"),
            "\xF0\x9F\x98\x80\xC3\xA9");
  // The format's own non-ASCII text passes through untouched.
  EXPECT_EQ(Format(CFSTR("\xE2\x82\xAC%d\xF0\x9F\x98\x80"), 1), "\xE2\x82\xAC" "1\xF0\x9F\x98\x80");
  // A long conversion does not fit the first buffer and still comes out whole.
  std::string long_text(5000, 'q');
  EXPECT_EQ(Format(CFSTR("<%s>"), long_text.c_str()), "<" + long_text + ">");
  EXPECT_EQ(Format(CFSTR("%1000d"), 1).size(), 1000u);
}

TEST(StringFormat, AppendFormatAddsToAMutableString) {
  auto text = CFRef<CFMutableStringRef>::Adopt(CFStringCreateMutable(kCFAllocatorDefault, 0));
  ASSERT_TRUE(CFStringAppendFormat(text.get(), nullptr, CFSTR("%d-"), 1));
  ASSERT_TRUE(CFStringAppendFormat(text.get(), nullptr, CFSTR("%@"), CFSTR("two")));
  EXPECT_EQ(UTF8Of(text.get()), "1-two");
}

TEST(StringFormatDeathTest, UnsupportedConversionsAbort) {
  int written = 0;
  EXPECT_DEATH(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%n"), &written),
               "not supported");
  EXPECT_DEATH(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%1$d"), 1),
               "positional");
  EXPECT_DEATH(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%k"), 1),
               "unknown conversion");
  EXPECT_DEATH(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("50%")),
               "incomplete");
  EXPECT_DEATH(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%999999999d"), 1),
               "too large");
}

TEST(Description, ValuesReadAsAPersonExpects) {
  int64_t big = INT64_MIN;
  double tenth = 0.1, integral = 3.0, nan = std::nan("");
  auto integer = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &big));
  auto real = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &tenth));
  auto whole = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &integral));
  auto not_a_number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &nan));
  EXPECT_EQ(Describe(integer.get()), "-9223372036854775808");
  EXPECT_EQ(Describe(real.get()), "0.1");
  EXPECT_EQ(Describe(whole.get()), "3.0");
  EXPECT_EQ(Describe(not_a_number.get()), "nan");
  EXPECT_EQ(Describe(kCFBooleanTrue), "true");
  EXPECT_EQ(Describe(CFSTR("a \"quoted\" word")), "a \"quoted\" word") << "top-level strings as they are";
  auto date = CFRef<CFDateRef>::Adopt(CFDateCreate(kCFAllocatorDefault, 86400.0 * 366 + 3661.5));
  EXPECT_EQ(Describe(date.get()), "2002-01-02T01:01:01Z");
  const UInt8 bytes[] = {0x00, 0x01, 0xAB, 0xFF, 0x10};
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, bytes, 5));
  EXPECT_EQ(Describe(data.get()), "<0001abff 10>");
}

TEST(Description, ContainersNestWithIndentation) {
  const void *inner_values[] = {CFSTR("two words"), kCFBooleanFalse};
  auto inner = CFRef<CFArrayRef>::Adopt(
      CFArrayCreate(kCFAllocatorDefault, inner_values, 2, &kCFTypeArrayCallBacks));
  auto empty = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      kCFAllocatorDefault, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  const void *keys[] = {CFSTR("list"), CFSTR("plain"), CFSTR("empty")};
  const void *values[] = {inner.get(), CFSTR("word"), empty.get()};
  auto dict = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      kCFAllocatorDefault, keys, values, 3, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  EXPECT_EQ(Describe(dict.get()),
            "{\n"
            "    empty = {};\n"
            "    list = (\n"
            "        \"two words\",\n"
            "        false\n"
            "    );\n"
            "    plain = word;\n"
            "}");
  EXPECT_EQ(Format(CFSTR("%@"), inner.get()), "(\n    \"two words\",\n    false\n)");
}

TEST(Description, ASelfContainingArrayStopsAtTheDepthLimit) {
  auto array = CFRef<CFMutableArrayRef>::Adopt(
      CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
  CFArrayAppendValue(array.get(), array.get());
  std::string text = Describe(array.get());
  EXPECT_NE(text.find("..."), std::string::npos);
  CFArrayRemoveAllValues(array.get());  // breaks the cycle so the array can go
}

}  // namespace
}  // namespace tolvan
