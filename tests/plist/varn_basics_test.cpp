#include "plist/varn_basics.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/plist/varn_test_support.hpp"

namespace {

using namespace varn_test;

// Marks an out parameter so that "not written" can be told from null.
template <typename T>
T Untouched() {
  static char marker;
  return reinterpret_cast<T>(&marker);
}

TEST(VarnRetainTest, RetainsAndReturnsTheValueAndPassesNullThrough) {
  EXPECT_EQ(nullptr, VarnRetain(nullptr));
  auto string = String("retained");
  EXPECT_EQ(string.get(), VarnRetain(string.get()));
  EXPECT_EQ(2, CFGetRetainCount(string.get()));
  CFRelease(string.get());
}

TEST(VarnAllocateTest, EverySizeFromZeroUpGivesAWritableBlock) {
  for (CFIndex size : {0, 1, 64, 1 << 20}) {
    void *block = Untouched<void *>();
    ASSERT_EQ(noErr, VarnAllocate(size, &block)) << size;
    ASSERT_NE(nullptr, block);
    std::memset(block, 0xa5, size == 0 ? 1 : static_cast<size_t>(size));
    VarnDeallocate(block);
  }
  VarnDeallocate(nullptr);
}

TEST(VarnAllocateTest, WritesNullWhenNoBlockIsServed) {
  void *block = Untouched<void *>();
  EXPECT_EQ(memFullErr, VarnAllocate(-1, &block));
  EXPECT_EQ(nullptr, block);
  LimitedDefaultAllocator none(0);
  block = Untouched<void *>();
  EXPECT_EQ(memFullErr, VarnAllocate(0, &block));
  EXPECT_EQ(nullptr, block);
}

TEST(VarnDictionaryCreateMutableTest, IsEmptyAndRetainsKeysAndValues) {
  CFRef<CFMutableDictionaryRef> dictionary;
  ASSERT_EQ(noErr, VarnDictionaryCreateMutable(dictionary.out()));
  ASSERT_TRUE(dictionary);
  EXPECT_EQ(0, CFDictionaryGetCount(dictionary.get()));
  auto key = String("key");
  auto value = String("value");
  ASSERT_TRUE(CFDictionarySetValue(dictionary.get(), key.get(), value.get()));
  EXPECT_EQ(2, CFGetRetainCount(key.get()));
  EXPECT_EQ(2, CFGetRetainCount(value.get()));
}

TEST(VarnDictionaryCreateMutableTest, WritesNullWhenOutOfMemory) {
  LimitedDefaultAllocator none(0);
  auto dictionary = Untouched<CFMutableDictionaryRef>();
  EXPECT_EQ(coreFoundationUnknownErr, VarnDictionaryCreateMutable(&dictionary));
  EXPECT_EQ(nullptr, dictionary);
}

TEST(VarnStringCopyCStringTest, ConvertsWholeStringsOrNothing) {
  const struct {
    const char *utf8;
    CFStringEncoding encoding;
    OSStatus status;
    std::string bytes;  // without the terminator
  } cases[] = {
      {"", kCFStringEncodingASCII, noErr, ""},
      {"", kCFStringEncodingUTF8, noErr, ""},
      {"plain", kCFStringEncodingASCII, noErr, "plain"},
      {"caf\xc3\xa9", kCFStringEncodingUTF8, noErr, "caf\xc3\xa9"},
      {"caf\xc3\xa9", kCFStringEncodingISOLatin1, noErr, "caf\xe9"},
      {"\xf0\x9f\x98\x80!", kCFStringEncodingUTF8, noErr, "\xf0\x9f\x98\x80!"},
      // No byte-order mark, whatever the encoding.
      {"A", kCFStringEncodingUTF16BE, noErr, std::string("\0A", 2)},
      {"caf\xc3\xa9", kCFStringEncodingASCII, kVarnBadValueErr, ""},
      {"\xc3\xa9t\xc3\xa9", kCFStringEncodingASCII, kVarnBadValueErr, ""},
      {"5 \xe2\x82\xac", kCFStringEncodingISOLatin1, kVarnBadValueErr, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.utf8);
    auto string = String(c.utf8);
    char *copy = Untouched<char *>();
    ASSERT_EQ(c.status, VarnStringCopyCString(string.get(), c.encoding, &copy));
    if (c.status != noErr) {
      EXPECT_EQ(nullptr, copy);
      continue;
    }
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(c.bytes, std::string(copy, c.bytes.size()));
    EXPECT_EQ('\0', copy[c.bytes.size()]);
    std::free(copy);
  }
}

TEST(VarnStringCopyCStringTest, WritesNullWhenTheBufferCannotBeAllocated) {
  const std::string text(32 << 20, 'x');
  auto string = String(text.c_str());
  ASSERT_TRUE(string);
  const int failed = varn_test::RunWithDataLimit(1 << 20, [&] {
    char *copy = Untouched<char *>();
    if (VarnStringCopyCString(string.get(), kCFStringEncodingASCII, &copy) != memFullErr) return 1;
    return copy == nullptr ? 0 : 2;
  });
  EXPECT_EQ(0, failed);
}

TEST(VarnDictionarySetNumberTest, StoresALongReplacingAnyValue) {
  auto key = String("k");
  auto other = String("other");
  auto text = String("text");
  for (long value : {0L, -1L, LONG_MIN, LONG_MAX}) {
    auto dictionary = MutableDictionary({{key.get(), text.get()}, {other.get(), text.get()}});
    ASSERT_EQ(noErr, VarnDictionarySetNumber(dictionary.get(), key.get(), value));
    auto stored = static_cast<CFNumberRef>(CFDictionaryGetValue(dictionary.get(), key.get()));
    ASSERT_EQ(CFNumberGetTypeID(), CFGetTypeID(stored));
    long read_back = 0;
    EXPECT_TRUE(CFNumberGetValue(stored, kCFNumberLongType, &read_back));
    EXPECT_EQ(value, read_back);
    EXPECT_EQ(text.get(), CFDictionaryGetValue(dictionary.get(), other.get()));
    EXPECT_EQ(2, CFDictionaryGetCount(dictionary.get()));
  }
}

TEST(VarnDictionarySetNumberTest, LeavesTheDictionaryUnchangedOnFailure) {
  auto key = String("k");
  auto fresh = String("fresh");
  auto one = Number(1);
  // Room for exactly one pair: a new key cannot be added, a value can be
  // replaced.
  auto full = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  ASSERT_TRUE(CFDictionarySetValue(full.get(), key.get(), one.get()));
  EXPECT_EQ(memFullErr, VarnDictionarySetNumber(full.get(), fresh.get(), 2));
  EXPECT_EQ("{k=#1}", Text(full.get()));
  EXPECT_EQ(noErr, VarnDictionarySetNumber(full.get(), key.get(), 2));
  EXPECT_EQ("{k=#2}", Text(full.get()));

  // Small integers are shared constants that need no memory; this one does.
  LimitedDefaultAllocator none(0);
  EXPECT_EQ(coreFoundationUnknownErr, VarnDictionarySetNumber(full.get(), key.get(), 1000));
  none.Unlimit();
  EXPECT_EQ("{k=#2}", Text(full.get()));
}

// A few keys and values that the conversion and merge cases share.
class ValuesTest : public ::testing::Test {
 protected:
  CFRef<CFStringRef> a = String("a"), b = String("b"), c = String("c");
  CFRef<CFNumberRef> one = Number(1), two = Number(2), three = Number(3), nine = Number(9);
};
class VarnArrayCreateWithDictionaryTest : public ValuesTest {};
class VarnDictionaryCreateWithArrayOfKeysAndValuesTest : public ValuesTest {};
class VarnDictionaryMergeTest : public ValuesTest {};

using CreateFromDictionary = OSStatus (*)(CFDictionaryRef, CFArrayRef *);

TEST_F(VarnArrayCreateWithDictionaryTest, ListsKeysAndValuesInEnumerationOrder) {
  const struct {
    CreateFromDictionary create;
    const char *populated;
  } cases[] = {{VarnArrayCreateWithDictionaryKeys, "[a,b,c]"},
               {VarnArrayCreateWithDictionaryValues, "[#1,#2,#3]"}};
  for (const auto &each : cases) {
    SCOPED_TRACE(each.populated);
    CFRef<CFArrayRef> array;
    ASSERT_EQ(noErr, each.create(Dictionary().get(), array.out()));
    EXPECT_EQ("[]", Text(array.get()));
    // The array must keep its elements alive on its own.
    auto dictionary = Dictionary({{b.get(), two.get()}, {c.get(), three.get()},
                                  {a.get(), one.get()}});
    ASSERT_EQ(noErr, each.create(dictionary.get(), array.out()));
    dictionary.reset();
    EXPECT_EQ(each.populated, Text(array.get()));
  }
}

TEST_F(VarnArrayCreateWithDictionaryTest, ReturnsItsBufferOnEveryFailure) {
  auto key = String("k");
  auto value = Number(1);
  auto dictionary = Dictionary({{key.get(), value.get()}});
  for (CreateFromDictionary create :
       {VarnArrayCreateWithDictionaryKeys, VarnArrayCreateWithDictionaryValues}) {
    {
      LimitedDefaultAllocator none(0);
      auto array = Untouched<CFArrayRef>();
      EXPECT_EQ(memFullErr, create(dictionary.get(), &array));
      EXPECT_EQ(Untouched<CFArrayRef>(), array);
    }
    {
      LimitedDefaultAllocator buffer_only(1);
      auto array = Untouched<CFArrayRef>();
      EXPECT_EQ(coreFoundationUnknownErr, create(dictionary.get(), &array));
      EXPECT_EQ(nullptr, array);
      EXPECT_EQ(0, buffer_only.outstanding());
    }
  }
}

TEST_F(VarnDictionaryCreateWithArrayOfKeysAndValuesTest, PairsKeysWithValuesByIndex) {
  const struct {
    CFRef<CFArrayRef> keys;
    CFRef<CFArrayRef> values;
    OSStatus status;
    const char *text;  // null: the out parameter is not written
  } cases[] = {
      {Array(), Array(), noErr, "{}"},
      {Array({b.get(), a.get()}), Array({two.get(), one.get()}), noErr, "{a=#1,b=#2}"},
      {Array({a.get(), a.get()}), Array({one.get(), two.get()}), noErr, "{a=#2}"},
      {Array({a.get(), b.get()}), Array({one.get(), two.get(), three.get()}), paramErr, nullptr},
      {Array({a.get(), b.get(), c.get()}), Array({one.get(), two.get()}), paramErr, nullptr},
      {Array(), Array({one.get()}), paramErr, nullptr},
  };
  for (const auto &each : cases) {
    SCOPED_TRACE(Text(each.keys.get()) + " " + Text(each.values.get()));
    auto dictionary = Untouched<CFDictionaryRef>();
    ASSERT_EQ(each.status, VarnDictionaryCreateWithArrayOfKeysAndValues(
                               each.keys.get(), each.values.get(), &dictionary));
    if (each.text == nullptr) {
      EXPECT_EQ(Untouched<CFDictionaryRef>(), dictionary);
      continue;
    }
    EXPECT_EQ(each.text, Text(dictionary));
    CFRelease(dictionary);
  }
}

TEST_F(VarnDictionaryCreateWithArrayOfKeysAndValuesTest, ReturnsItsBuffersOnEveryFailure) {
  auto keys = Array({String("a").get()});
  auto values = Array({Number(1).get()});
  const struct {
    long allowed;
    OSStatus status;
    bool written;
  } cases[] = {
      {0, memFullErr, false},              // the key buffer
      {1, memFullErr, false},              // the value buffer
      {2, coreFoundationUnknownErr, true}, // the dictionary
  };
  for (const auto &each : cases) {
    SCOPED_TRACE(each.allowed);
    LimitedDefaultAllocator limited(each.allowed);
    auto dictionary = Untouched<CFDictionaryRef>();
    EXPECT_EQ(each.status,
              VarnDictionaryCreateWithArrayOfKeysAndValues(keys.get(), values.get(), &dictionary));
    EXPECT_EQ(each.written ? nullptr : Untouched<CFDictionaryRef>(), dictionary);
    EXPECT_EQ(0, limited.outstanding());
  }
}

TEST_F(VarnDictionaryMergeTest, SourceWinsAndDestinationOnlyKeysStay) {
  const struct {
    CFRef<CFMutableDictionaryRef> destination;
    CFRef<CFDictionaryRef> source;
    const char *merged;
  } cases[] = {
      {MutableDictionary({{b.get(), nine.get()}, {c.get(), three.get()}}),
       Dictionary({{a.get(), one.get()}, {b.get(), two.get()}}), "{a=#1,b=#2,c=#3}"},
      {MutableDictionary({{a.get(), one.get()}}), Dictionary(), "{a=#1}"},
      {MutableDictionary(), Dictionary({{a.get(), one.get()}}), "{a=#1}"},
  };
  for (const auto &each : cases) {
    const std::string source_before = Text(each.source.get());
    EXPECT_EQ(noErr, VarnDictionaryMerge(each.destination.get(), each.source.get()));
    EXPECT_EQ(each.merged, Text(each.destination.get()));
    EXPECT_EQ(source_before, Text(each.source.get()));
  }
  auto itself = MutableDictionary({{a.get(), one.get()}, {b.get(), two.get()}});
  EXPECT_EQ(noErr, VarnDictionaryMerge(itself.get(), itself.get()));
  EXPECT_EQ("{a=#1,b=#2}", Text(itself.get()));
}

TEST_F(VarnDictionaryMergeTest, ReportsAPairTheDestinationHadNoRoomFor) {
  auto destination = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  ASSERT_TRUE(CFDictionarySetValue(destination.get(), b.get(), nine.get()));
  auto source = Dictionary({{a.get(), one.get()}, {b.get(), two.get()}});
  EXPECT_EQ(memFullErr, VarnDictionaryMerge(destination.get(), source.get()));
  // The pair that fitted is still merged.
  EXPECT_EQ("{b=#2}", Text(destination.get()));
}

}  // namespace
