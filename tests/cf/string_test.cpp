// Strings: encodings in and out, UTF-16 lengths, the CFStringGetBytes
// protocol, UTF-8 validation, comparison, constants and mutable strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan {
namespace {

using Bytes = std::vector<UInt8>;
using Units = std::vector<UniChar>;

CFRef<CFStringRef> FromBytes(const Bytes &bytes, CFStringEncoding encoding,
                             bool external = false) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(
      kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()), encoding, external));
}

CFRef<CFStringRef> FromUTF8(const std::string &text) {
  return FromBytes(Bytes(text.begin(), text.end()), kCFStringEncodingUTF8);
}

CFRef<CFStringRef> FromUnits(const Units &units) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCharacters(
      kCFAllocatorDefault, units.data(), static_cast<CFIndex>(units.size())));
}

Units UnitsOf(CFStringRef string) {
  Units units(static_cast<size_t>(CFStringGetLength(string)));
  CFStringGetCharacters(string, CFRangeMake(0, CFStringGetLength(string)), units.data());
  return units;
}

// The whole string in the encoding, the way callers measure then convert.
Bytes Encode(CFStringRef string, CFStringEncoding encoding, bool external = false,
             UInt8 loss = 0, CFIndex *converted = nullptr) {
  CFRange all = CFRangeMake(0, CFStringGetLength(string));
  CFIndex needed = 0;
  CFIndex measured = CFStringGetBytes(string, all, encoding, loss, external, nullptr, 0, &needed);
  Bytes bytes(static_cast<size_t>(needed));
  CFIndex used = 0;
  CFIndex count = CFStringGetBytes(string, all, encoding, loss, external, bytes.data(), needed, &used);
  EXPECT_EQ(count, measured);
  EXPECT_EQ(used, needed);
  if (converted != nullptr) *converted = count;
  return bytes;
}

std::string UTF8Of(CFStringRef string) {
  Bytes bytes = Encode(string, kCFStringEncodingUTF8);
  return std::string(bytes.begin(), bytes.end());
}

// "é€😀" in every encoding: a Latin 1 letter, a BMP character beyond
// Latin 1, and an astral character (a surrogate pair).
const Units kMixed = {0x00E9, 0x20AC, 0xD83D, 0xDE00};

TEST(String, DecodesEveryEncodingToTheSameUnits) {
  struct Case {
    const char *name;
    CFStringEncoding encoding;
    Bytes bytes;
    bool external;
    Units expected;
  };
  const Case cases[] = {
      {"ASCII", kCFStringEncodingASCII, {'a', 'B', 0x7F}, false, {'a', 'B', 0x7F}},
      {"Latin 1", kCFStringEncodingISOLatin1, {'a', 0xE9, 0xFF}, false, {'a', 0xE9, 0xFF}},
      {"Mac Roman", kCFStringEncodingMacRoman, {'a', 0x8E, 0xDB, 0xF0}, false,
       {'a', 0xE9, 0x20AC, 0xF8FF}},
      {"UTF-8", kCFStringEncodingUTF8, {0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80},
       false, kMixed},
      {"UTF-16 defaults to big-endian", kCFStringEncodingUTF16,
       {0x00, 0xE9, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00}, false, kMixed},
      {"UTF-16 little-endian mark", kCFStringEncodingUTF16,
       {0xFF, 0xFE, 0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}, true, kMixed},
      {"UTF-16 big-endian mark", kCFStringEncodingUTF16, {0xFE, 0xFF, 0x00, 0x41}, true, {'A'}},
      {"UTF-16 mark kept when not external", kCFStringEncodingUTF16, {0xFE, 0xFF, 0x00, 0x41},
       false, {0xFEFF, 'A'}},
      {"UTF-16LE", kCFStringEncodingUTF16LE, {0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE},
       false, kMixed},
      {"UTF-16BE", kCFStringEncodingUTF16BE, {0x00, 0xE9, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00},
       false, kMixed},
      {"UTF-32", kCFStringEncodingUTF32,
       {0, 0, 0, 0xE9, 0, 0, 0x20, 0xAC, 0, 0x01, 0xF6, 0x00}, false, kMixed},
      {"UTF-32 little-endian mark", kCFStringEncodingUTF32,
       {0xFF, 0xFE, 0, 0, 0xE9, 0, 0, 0, 0x00, 0xF6, 0x01, 0}, true, {0xE9, 0xD83D, 0xDE00}},
      {"UTF-32LE", kCFStringEncodingUTF32LE, {0x41, 0, 0, 0}, false, {'A'}},
      {"UTF-32BE", kCFStringEncodingUTF32BE, {0, 0, 0, 0x41}, false, {'A'}},
      {"embedded NUL", kCFStringEncodingUTF8, {'a', 0, 'b'}, false, {'a', 0, 'b'}},
      {"empty", kCFStringEncodingUTF8, {}, false, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto string = FromBytes(c.bytes, c.encoding, c.external);
    ASSERT_TRUE(string);
    EXPECT_EQ(UnitsOf(string.get()), c.expected);
  }
}

TEST(String, EncodesBackToEveryEncoding) {
  auto mixed = FromUnits(kMixed);
  EXPECT_EQ(Encode(mixed.get(), kCFStringEncodingUTF8),
            (Bytes{0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(Encode(mixed.get(), kCFStringEncodingUTF16BE),
            (Bytes{0x00, 0xE9, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00}));
  EXPECT_EQ(Encode(mixed.get(), kCFStringEncodingUTF16LE),
            (Bytes{0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_EQ(Encode(mixed.get(), kCFStringEncodingUTF16, true),
            (Bytes{0xFE, 0xFF, 0x00, 0xE9, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00}));
  EXPECT_EQ(Encode(mixed.get(), kCFStringEncodingUTF32LE),
            (Bytes{0xE9, 0, 0, 0, 0xAC, 0x20, 0, 0, 0x00, 0xF6, 0x01, 0}));
  EXPECT_EQ(Encode(mixed.get(), kCFStringEncodingUTF32, true),
            (Bytes{0, 0, 0xFE, 0xFF, 0, 0, 0, 0xE9, 0, 0, 0x20, 0xAC, 0, 0x01, 0xF6, 0x00}));
  auto roman = FromUnits({'a', 0xE9, 0x20AC, 0xF8FF});
  EXPECT_EQ(Encode(roman.get(), kCFStringEncodingMacRoman), (Bytes{'a', 0x8E, 0xDB, 0xF0}));
  auto latin = FromUnits({'a', 0xE9, 0xFF});
  EXPECT_EQ(Encode(latin.get(), kCFStringEncodingISOLatin1), (Bytes{'a', 0xE9, 0xFF}));
  EXPECT_EQ(Encode(latin.get(), kCFStringEncodingUTF8), (Bytes{'a', 0xC3, 0xA9, 0xC3, 0xBF}));
}

TEST(String, LengthsCountUTF16Units) {
  auto astral = FromUTF8("a\xF0\x9F\x98\x80z");
  ASSERT_TRUE(astral);
  EXPECT_EQ(CFStringGetLength(astral.get()), 4);
  EXPECT_EQ(CFStringGetCharacterAtIndex(astral.get(), 1), 0xD83D);
  EXPECT_EQ(CFStringGetCharacterAtIndex(astral.get(), 2), 0xDE00);
  auto latin = FromUTF8("caf\xC3\xA9");
  EXPECT_EQ(CFStringGetLength(latin.get()), 4);
  EXPECT_EQ(CFStringGetMaximumSizeForEncoding(4, kCFStringEncodingUTF8), 12);
}

TEST(String, RefusesInvalidUTF8) {
  const std::string invalid[] = {
      "\x80",                  // lone continuation byte
      "\xC3",                  // truncated two-byte form
      "a\xE2\x82",             // truncated three-byte form
      "\xF0\x9F\x98",          // truncated four-byte form
      "\xC0\xAF",              // overlong '/'
      "\xC1\xBF",              // overlong
      "\xE0\x80\xAF",          // overlong three-byte
      "\xF0\x80\x80\xAF",      // overlong four-byte
      "\xED\xA0\x80",          // high surrogate U+D800
      "\xED\xBF\xBF",          // low surrogate U+DFFF
      "\xF4\x90\x80\x80",      // U+110000
      "\xF5\x80\x80\x80",      // lead byte past U+10FFFF
      "\xFF",                  // never valid
      "abcdefgh\xC3\x28",      // bad continuation after an ASCII run
  };
  for (const std::string &text : invalid) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_FALSE(FromUTF8(text));
  }
  // The edges that are valid.
  EXPECT_EQ(UnitsOf(FromUTF8("\xEF\xBF\xBF").get()), Units{0xFFFF});
  EXPECT_EQ(UnitsOf(FromUTF8("\xF4\x8F\xBF\xBF").get()), (Units{0xDBFF, 0xDFFF}));
  EXPECT_EQ(UnitsOf(FromUTF8("\xED\x9F\xBF").get()), Units{0xD7FF});
  // Other encodings refuse what they cannot hold.
  EXPECT_FALSE(FromBytes({'a', 0x80}, kCFStringEncodingASCII));
  EXPECT_FALSE(FromBytes({0x00}, kCFStringEncodingUTF16));
  EXPECT_FALSE(FromBytes({0, 0, 0xD8, 0}, kCFStringEncodingUTF32BE));
  EXPECT_FALSE(FromBytes({0, 0x11, 0, 0}, kCFStringEncodingUTF32BE));
}

TEST(String, GetBytesMeasuresStopsAndReportsConvertedCharacters) {
  auto text = FromUTF8("ab\xC3\xA9\xF0\x9F\x98\x80" "c");  // a b é 😀 c: 6 units, 9 bytes
  CFRange all = CFRangeMake(0, CFStringGetLength(text.get()));
  CFIndex used = -1;
  EXPECT_EQ(CFStringGetBytes(text.get(), all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &used), 6);
  EXPECT_EQ(used, 9);

  // A buffer too small for the pair stops before it, never in its middle.
  UInt8 buffer[16] = {};
  EXPECT_EQ(CFStringGetBytes(text.get(), all, kCFStringEncodingUTF8, 0, false, buffer, 6, &used), 3);
  EXPECT_EQ(used, 4);
  EXPECT_EQ(CFStringGetBytes(text.get(), all, kCFStringEncodingUTF8, 0, false, buffer, 8, &used), 5);
  EXPECT_EQ(used, 8);

  // Loss byte 0 stops at the first character ASCII cannot hold; another
  // loss byte stands in for it (one for each UTF-16 unit).
  EXPECT_EQ(CFStringGetBytes(text.get(), all, kCFStringEncodingASCII, 0, false, nullptr, 0, &used), 2);
  EXPECT_EQ(used, 2);
  EXPECT_EQ(Encode(text.get(), kCFStringEncodingASCII, false, '?'),
            (Bytes{'a', 'b', '?', '?', '?', 'c'}));
  EXPECT_EQ(Encode(text.get(), kCFStringEncodingISOLatin1, false, '?'),
            (Bytes{'a', 'b', 0xE9, '?', '?', 'c'}));

  // A range that cuts a pair leaves a lone surrogate, which UTF-8 cannot
  // represent.
  EXPECT_EQ(CFStringGetBytes(text.get(), CFRangeMake(3, 1), kCFStringEncodingUTF8, 0, false,
                             nullptr, 0, &used), 0);
  EXPECT_EQ(used, 0);
  EXPECT_EQ(CFStringGetBytes(text.get(), CFRangeMake(4, 2), kCFStringEncodingUTF8, 0, false,
                             buffer, sizeof buffer, &used), 0);
  auto lone = FromUnits({'x', 0xDC00, 'y'});
  EXPECT_EQ(Encode(lone.get(), kCFStringEncodingUTF8, false, '?'), (Bytes{'x', '?', 'y'}));
  // UTF-16 carries lone surrogates unchanged.
  EXPECT_EQ(Encode(lone.get(), kCFStringEncodingUTF16BE), (Bytes{0, 'x', 0xDC, 0, 0, 'y'}));

  // A byte-order mark that does not fit converts nothing.
  EXPECT_EQ(CFStringGetBytes(text.get(), all, kCFStringEncodingUTF16, 0, true, buffer, 1, &used), 0);
  EXPECT_EQ(used, 0);
}

TEST(String, CStringsAndTheirPointers) {
  auto ascii = FromUTF8("plain");
  const char *inline_text = CFStringGetCStringPtr(ascii.get(), kCFStringEncodingUTF8);
  ASSERT_NE(inline_text, nullptr);
  EXPECT_STREQ(inline_text, "plain");
  EXPECT_EQ(CFStringGetCStringPtr(ascii.get(), kCFStringEncodingASCII), inline_text);

  auto latin = FromUTF8("caf\xC3\xA9");
  EXPECT_EQ(CFStringGetCStringPtr(latin.get(), kCFStringEncodingUTF8), nullptr);
  ASSERT_NE(CFStringGetCStringPtr(latin.get(), kCFStringEncodingISOLatin1), nullptr);
  EXPECT_STREQ(CFStringGetCStringPtr(latin.get(), kCFStringEncodingISOLatin1), "caf\xE9");
  EXPECT_EQ(CFStringGetCStringPtr(FromUnits(kMixed).get(), kCFStringEncodingUTF8), nullptr);

  char buffer[6];
  EXPECT_TRUE(CFStringGetCString(latin.get(), buffer, sizeof buffer, kCFStringEncodingUTF8));
  EXPECT_STREQ(buffer, "caf\xC3\xA9");
  EXPECT_FALSE(CFStringGetCString(latin.get(), buffer, 5, kCFStringEncodingUTF8))
      << "no room for the terminator";
  EXPECT_FALSE(CFStringGetCString(latin.get(), buffer, sizeof buffer, kCFStringEncodingASCII));

  auto nul_inside = FromBytes({'/', 't', 0, 'x'}, kCFStringEncodingUTF8);
  char path[16];
  EXPECT_FALSE(CFStringGetFileSystemRepresentation(nul_inside.get(), path, sizeof path))
      << "a NUL would make the path name another file";
  EXPECT_TRUE(CFStringGetFileSystemRepresentation(latin.get(), path, sizeof path));
  EXPECT_STREQ(path, "caf\xC3\xA9");
}

TEST(String, EqualityAndHashIgnoreStorage) {
  // Compact (built from Latin 1) and UTF-16 storage of the same text.
  auto compact = FromBytes({'k', 0xE9, 'y'}, kCFStringEncodingISOLatin1);
  CFMutableStringRef widened = CFStringCreateMutable(kCFAllocatorDefault, 0);
  auto wide = CFRef<CFMutableStringRef>::Adopt(widened);
  const UniChar euro = 0x20AC;
  CFStringAppendCharacters(widened, &euro, 1);
  CFStringRef empty = CFSTR("");
  auto tail = FromUnits({'k', 0xE9, 'y'});
  CFStringAppend(widened, tail.get());
  auto rest = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithSubstring(kCFAllocatorDefault, widened, CFRangeMake(1, 3)));
  auto wide_copy = CFRef<CFMutableStringRef>::Adopt(
      CFStringCreateMutableCopy(kCFAllocatorDefault, 0, widened));
  EXPECT_TRUE(CFEqual(compact.get(), rest.get()));
  EXPECT_EQ(CFHash(compact.get()), CFHash(rest.get()));
  EXPECT_TRUE(CFEqual(widened, wide_copy.get()));
  EXPECT_FALSE(CFEqual(compact.get(), empty));
  EXPECT_FALSE(CFEqual(FromUTF8("ab").get(), FromUTF8("abc").get()));
}

TEST(String, ComparesByUnitsWithOptions) {
  struct Case {
    const char *a, *b;
    CFStringCompareFlags options;
    CFComparisonResult expected;
  };
  const Case cases[] = {
      {"abc", "abd", 0, kCFCompareLessThan},
      {"abc", "ab", 0, kCFCompareGreaterThan},
      {"", "", 0, kCFCompareEqualTo},
      {"B", "a", 0, kCFCompareLessThan},
      {"B", "a", kCFCompareCaseInsensitive, kCFCompareGreaterThan},
      {"HeLLo", "hello", kCFCompareCaseInsensitive, kCFCompareEqualTo},
      {"\xC3\x89", "\xC3\xA9", kCFCompareCaseInsensitive, kCFCompareLessThan},  // ASCII only
      {"file9", "file10", 0, kCFCompareGreaterThan},
      {"file9", "file10", kCFCompareNumerically, kCFCompareLessThan},
      {"v007", "v7", kCFCompareNumerically, kCFCompareEqualTo},
      {"a2b10", "a2b9", kCFCompareNumerically, kCFCompareGreaterThan},
      // Units above Latin 1 order after it, whatever the storage.
      {"\xE2\x82\xAC", "\xC3\xBF", 0, kCFCompareGreaterThan},
      {"\xF0\x9F\x98\x80", "\xEF\xBF\xBF", 0, kCFCompareLessThan},  // surrogates sort below U+FFFF
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(CFStringCompare(FromUTF8(c.a).get(), FromUTF8(c.b).get(), c.options), c.expected);
    EXPECT_EQ(CFStringCompare(FromUTF8(c.b).get(), FromUTF8(c.a).get(), c.options), -c.expected);
  }
  EXPECT_TRUE(CFStringHasPrefix(CFSTR("prefix-rest"), CFSTR("prefix")));
  EXPECT_FALSE(CFStringHasPrefix(CFSTR("pre"), CFSTR("prefix")));
  EXPECT_TRUE(CFStringHasSuffix(CFSTR("name.plist"), CFSTR(".plist")));
  EXPECT_TRUE(CFStringHasSuffix(CFSTR("x"), CFSTR("")));
}

TEST(String, ConstantsAreInternedAndImmortal) {
  CFStringRef first = CFSTR("interned constant");
  std::string same_text = "interned constant";
  EXPECT_EQ(first, TolvanCFStringMakeConstant(same_text.c_str()));
  EXPECT_NE(first, CFSTR("another constant"));
  for (int i = 0; i < 3; ++i) CFRelease(first);
  CFRetain(first);
  EXPECT_EQ(CFStringGetLength(first), 17);
  auto copy = CFRef<CFStringRef>::Adopt(CFStringCreateCopy(kCFAllocatorDefault, first));
  EXPECT_EQ(copy.get(), first) << "an immutable copy is the same object";
  EXPECT_EQ(CFStringGetLength(CFSTR("caf\xC3\xA9")), 4);
}

TEST(String, MutableStringsAppendAndWiden) {
  auto text = CFRef<CFMutableStringRef>::Adopt(CFStringCreateMutable(kCFAllocatorDefault, 0));
  ASSERT_TRUE(text);
  EXPECT_TRUE(CFStringAppendCString(text.get(), "abc", kCFStringEncodingUTF8));
  EXPECT_STREQ(CFStringGetCStringPtr(text.get(), kCFStringEncodingUTF8), "abc");
  EXPECT_TRUE(CFStringAppend(text.get(), text.get())) << "appending itself";
  EXPECT_EQ(UTF8Of(text.get()), "abcabc");
  EXPECT_TRUE(CFStringAppendCString(text.get(), "\xC3\xA9", kCFStringEncodingUTF8));
  EXPECT_EQ(CFStringGetCStringPtr(text.get(), kCFStringEncodingUTF8), nullptr);
  EXPECT_TRUE(CFStringAppendCharacters(text.get(), kMixed.data(), 4));
  EXPECT_EQ(CFStringGetLength(text.get()), 11);
  EXPECT_FALSE(CFStringAppendCString(text.get(), "\xFF", kCFStringEncodingUTF8))
      << "invalid bytes leave the string as it was";
  EXPECT_EQ(UTF8Of(text.get()), "abcabc\xC3\xA9\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  // A long run of appends grows without losing anything.
  std::string expected = UTF8Of(text.get());
  for (int i = 0; i < 1000; ++i) {
    CFStringAppend(text.get(), CFSTR("0123456789"));
    expected += "0123456789";
  }
  EXPECT_EQ(UTF8Of(text.get()), expected);
  auto frozen = CFRef<CFStringRef>::Adopt(CFStringCreateCopy(kCFAllocatorDefault, text.get()));
  EXPECT_NE(frozen.get(), text.get());
  EXPECT_TRUE(CFEqual(frozen.get(), text.get()));
}

TEST(StringDeathTest, MisuseAbortsLoudly) {
  EXPECT_DEATH(CFStringAppend(const_cast<CFMutableStringRef>(CFSTR("immutable")), CFSTR("x")),
               "immutable");
  EXPECT_DEATH(CFStringGetLength(static_cast<CFStringRef>(static_cast<CFTypeRef>(kCFBooleanTrue))),
               "expected a CFString, got CFBoolean");
  EXPECT_DEATH(CFStringGetLength(nullptr), "null");
  EXPECT_DEATH(CFStringGetCharacterAtIndex(CFSTR("ab"), 2), "out of bounds");
  UniChar unit;
  EXPECT_DEATH(CFStringGetCharacters(CFSTR("ab"), CFRangeMake(1, 2), &unit), "out of bounds");
}

}  // namespace
}  // namespace tolvan
