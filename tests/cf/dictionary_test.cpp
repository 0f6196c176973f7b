// Dictionaries: canonical enumeration order, copies, replacement and
// removal, callbacks, and many keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan {
namespace {

CFRef<CFStringRef> String(const std::string &text) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

CFRef<CFNumberRef> Integer(int64_t value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
}

CFRef<CFMutableDictionaryRef> MutableDictionary(CFIndex capacity = 0) {
  return CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, capacity, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
}

std::vector<const void *> KeysOf(CFDictionaryRef dict) {
  std::vector<const void *> keys(static_cast<size_t>(CFDictionaryGetCount(dict)));
  CFDictionaryGetKeysAndValues(dict, keys.data(), nullptr);
  return keys;
}

std::string UTF8Of(CFTypeRef string) {
  char buffer[256];
  EXPECT_TRUE(CFStringGetCString(static_cast<CFStringRef>(string), buffer, sizeof buffer,
                                 kCFStringEncodingUTF8));
  return buffer;
}

std::vector<std::string> KeyTexts(CFDictionaryRef dict) {
  std::vector<std::string> texts;
  for (const void *key : KeysOf(dict)) texts.push_back(UTF8Of(key));
  return texts;
}

TEST(Dictionary, EnumerationOrderDoesNotDependOnInsertion) {
  // By UTF-16 units: upper case before lower case, U+00E9 before U+20AC,
  // a surrogate pair (U+1F600) before U+FFFD.
  const std::vector<std::string> sorted = {"",       "A",        "B",           "a",
                                           "ab",     "b",        "z\xC3\xA9",   "\xC3\xA9",
                                           "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD"};
  std::vector<std::string> shuffled = sorted;
  std::mt19937 random(7);
  for (int round = 0; round < 5; ++round) {
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    auto dict = MutableDictionary();
    for (const std::string &key : shuffled) {
      CFDictionarySetValue(dict.get(), String(key).get(), kCFBooleanTrue);
    }
    EXPECT_EQ(KeyTexts(dict.get()), sorted);

    std::vector<CFRef<CFStringRef>> keys;
    std::vector<const void *> raw, values;
    for (const std::string &key : shuffled) keys.push_back(String(key));
    for (auto &key : keys) raw.push_back(key.get());
    values.assign(raw.size(), kCFBooleanFalse);
    auto immutable = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
        kCFAllocatorDefault, raw.data(), values.data(), static_cast<CFIndex>(raw.size()),
        &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    EXPECT_EQ(KeyTexts(immutable.get()), sorted);
    EXPECT_FALSE(CFEqual(immutable.get(), dict.get())) << "same keys, other values";
  }
}

TEST(Dictionary, KeysOfDifferentTypesOrderByTypeThenValue) {
  auto dict = MutableDictionary();
  auto b = String("b"), a = String("a");
  auto ten = Integer(10), minus = Integer(-3);
  double half = 0.5;
  auto real = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &half));
  const void *inserted[] = {kCFBooleanTrue, ten.get(), b.get(), real.get(), kCFBooleanFalse,
                            a.get(), minus.get()};
  for (const void *key : inserted) CFDictionarySetValue(dict.get(), key, kCFBooleanTrue);
  EXPECT_EQ(KeysOf(dict.get()),
            (std::vector<const void *>{a.get(), b.get(), minus.get(), real.get(), ten.get(),
                                       kCFBooleanFalse, kCFBooleanTrue}));
  // 1 and 1.0 are one key.
  double one = 1.0;
  auto real_one = CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &one));
  CFDictionarySetValue(dict.get(), Integer(1).get(), CFSTR("integer"));
  CFDictionarySetValue(dict.get(), real_one.get(), CFSTR("real"));
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 8);
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), Integer(1).get()), CFSTR("real"));
}

TEST(Dictionary, CreateKeepsTheLastOfDuplicateKeys) {
  auto key = String("same");
  const void *keys[] = {CFSTR("same"), CFSTR("other"), key.get()};
  const void *values[] = {CFSTR("first"), CFSTR("x"), CFSTR("last")};
  auto dict = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      kCFAllocatorDefault, keys, values, 3, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 2);
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), CFSTR("same")), CFSTR("last"));

  // Many keys out of order with duplicates, with only value-type keys
  // (found by binary search) and with an array among them (hash index).
  const void *array_values[] = {CFSTR("element")};
  auto array_key = CFRef<CFArrayRef>::Adopt(
      CFArrayCreate(kCFAllocatorDefault, array_values, 1, &kCFTypeArrayCallBacks));
  for (bool with_array : {false, true}) {
    SCOPED_TRACE(with_array ? "with an array key" : "value-type keys");
    std::vector<CFRef<CFTypeRef>> owned;
    std::vector<const void *> many_keys, many_values;
    for (int i = 0; i < 300; ++i) {
      int repeated = (i * 37) % 100;  // every key three times
      owned.push_back(CFRef<CFTypeRef>::Adopt(Integer(repeated).release()));
      many_keys.push_back(owned.back().get());
      owned.push_back(CFRef<CFTypeRef>::Adopt(Integer(i).release()));
      many_values.push_back(owned.back().get());
    }
    if (with_array) {
      many_keys.push_back(array_key.get());
      many_values.push_back(kCFBooleanTrue);
    }
    auto many = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
        kCFAllocatorDefault, many_keys.data(), many_values.data(),
        static_cast<CFIndex>(many_keys.size()), &kCFTypeDictionaryKeyCallBacks,
        &kCFTypeDictionaryValueCallBacks));
    ASSERT_EQ(CFDictionaryGetCount(many.get()), with_array ? 101 : 100);
    for (int i = 200; i < 300; ++i) {
      int64_t value = -1;
      const void *found = CFDictionaryGetValue(many.get(), Integer((i * 37) % 100).get());
      ASSERT_NE(found, nullptr);
      CFNumberGetValue(static_cast<CFNumberRef>(found), kCFNumberSInt64Type, &value);
      EXPECT_EQ(value, i) << "the last of three";
    }
    EXPECT_FALSE(CFDictionaryContainsKey(many.get(), Integer(100).get()));
    EXPECT_FALSE(CFDictionaryContainsKey(many.get(), CFSTR("0")));
    EXPECT_EQ(static_cast<bool>(CFDictionaryContainsKey(many.get(), array_key.get())), with_array);
    std::vector<const void *> listed = KeysOf(many.get());
    EXPECT_EQ(listed.front(), Integer(0).get());
    EXPECT_EQ(listed.back(), with_array ? static_cast<CFTypeRef>(array_key.get())
                                        : static_cast<CFTypeRef>(Integer(99).get()));
  }
}

TEST(Dictionary, SetAddReplaceRemove) {
  auto dict = MutableDictionary();
  EXPECT_TRUE(CFDictionaryAddValue(dict.get(), CFSTR("k"), CFSTR("added")));
  EXPECT_TRUE(CFDictionaryAddValue(dict.get(), CFSTR("k"), CFSTR("ignored")));
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), CFSTR("k")), CFSTR("added"));
  CFDictionaryReplaceValue(dict.get(), CFSTR("k"), CFSTR("replaced"));
  CFDictionaryReplaceValue(dict.get(), CFSTR("absent"), CFSTR("nothing"));
  EXPECT_FALSE(CFDictionaryContainsKey(dict.get(), CFSTR("absent")));
  EXPECT_TRUE(CFDictionarySetValue(dict.get(), String("k").get(), CFSTR("set")));
  const void *value = nullptr;
  ASSERT_TRUE(CFDictionaryGetValueIfPresent(dict.get(), CFSTR("k"), &value));
  EXPECT_EQ(value, CFSTR("set"));
  EXPECT_TRUE(CFDictionaryContainsValue(dict.get(), String("set").get()));
  EXPECT_EQ(CFDictionaryGetCountOfKey(dict.get(), CFSTR("k")), 1);
  CFDictionaryRemoveValue(dict.get(), CFSTR("k"));
  CFDictionaryRemoveValue(dict.get(), CFSTR("k"));
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 0);
  EXPECT_FALSE(CFDictionaryGetValueIfPresent(dict.get(), CFSTR("k"), &value));
  EXPECT_EQ(CFDictionaryGetValue(dict.get(), CFSTR("k")), nullptr);
}

TEST(Dictionary, MutableCopyIsOneLevelDeep) {
  auto inner = MutableDictionary();
  CFDictionarySetValue(inner.get(), CFSTR("c"), Integer(1).get());
  auto outer = MutableDictionary();
  CFDictionarySetValue(outer.get(), CFSTR("a"), inner.get());
  auto copy = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, outer.get()));
  EXPECT_EQ(CFDictionaryGetValue(copy.get(), CFSTR("a")), inner.get()) << "values are shared";
  CFDictionarySetValue(copy.get(), CFSTR("b"), Integer(2).get());
  EXPECT_FALSE(CFDictionaryContainsKey(outer.get(), CFSTR("b")));
  EXPECT_TRUE(CFEqual(CFDictionaryGetValue(copy.get(), CFSTR("a")), inner.get()));
  auto frozen = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreateCopy(kCFAllocatorDefault, copy.get()));
  EXPECT_TRUE(CFEqual(frozen.get(), copy.get()));
  CFDictionaryRemoveValue(copy.get(), CFSTR("a"));
  EXPECT_EQ(CFDictionaryGetCount(frozen.get()), 2);
}

TEST(Dictionary, CallBacksRetainAndCopyStringKeysCopy) {
  auto key = CFRef<CFMutableStringRef>::Adopt(CFStringCreateMutable(kCFAllocatorDefault, 0));
  CFStringAppend(key.get(), CFSTR("mutable"));
  auto value = Integer(5000);
  {
    auto dict = MutableDictionary();
    CFDictionarySetValue(dict.get(), key.get(), value.get());
    EXPECT_EQ(CFGetRetainCount(key.get()), 2);
    EXPECT_EQ(CFGetRetainCount(value.get()), 2);
    CFDictionarySetValue(dict.get(), key.get(), value.get());
    EXPECT_EQ(CFGetRetainCount(value.get()), 2) << "replacing releases the old value";
  }
  EXPECT_EQ(CFGetRetainCount(key.get()), 1);
  EXPECT_EQ(CFGetRetainCount(value.get()), 1);

  auto copying = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFDictionarySetValue(copying.get(), key.get(), value.get());
  CFStringAppend(key.get(), CFSTR("-changed"));
  EXPECT_EQ(KeyTexts(copying.get()), std::vector<std::string>{"mutable"});
  EXPECT_EQ(CFGetRetainCount(key.get()), 1) << "the key was copied, not retained";

  static const int markers[2] = {};
  auto raw = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(kCFAllocatorDefault, 0, nullptr, nullptr));
  CFDictionarySetValue(raw.get(), &markers[1], &markers[0]);
  EXPECT_EQ(CFDictionaryGetValue(raw.get(), &markers[1]), &markers[0]);
  EXPECT_FALSE(CFDictionaryContainsKey(raw.get(), &markers[0]));
}

TEST(Dictionary, FixedCapacityRefusesToGrow) {
  auto dict = MutableDictionary(1);
  EXPECT_TRUE(CFDictionarySetValue(dict.get(), CFSTR("a"), kCFBooleanTrue));
  EXPECT_FALSE(CFDictionarySetValue(dict.get(), CFSTR("b"), kCFBooleanTrue));
  EXPECT_TRUE(CFDictionarySetValue(dict.get(), CFSTR("a"), kCFBooleanFalse)) << "replacing needs no room";
  EXPECT_EQ(CFDictionaryGetCount(dict.get()), 1);
}

// Many keys, added in a random order and then removed in another, checked
// against a sorted model at every stage; also bounds the time, since a
// quadratic insertion would take seconds here.
TEST(Dictionary, TwentyThousandKeysStayFindableAndOrdered) {
  constexpr int kCount = 20000;
  std::vector<std::string> texts;
  for (int i = 0; i < kCount; ++i) texts.push_back("key-" + std::to_string(i * 7919 % 100003));
  std::mt19937 random(11);
  std::shuffle(texts.begin(), texts.end(), random);
  auto start = std::chrono::steady_clock::now();
  auto dict = MutableDictionary();
  for (int i = 0; i < kCount; ++i) {
    ASSERT_TRUE(CFDictionarySetValue(dict.get(), String(texts[i]).get(), Integer(i).get()));
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
  ASSERT_EQ(CFDictionaryGetCount(dict.get()), kCount);
  for (int i = 0; i < kCount; i += 97) {
    int64_t value = -1;
    const void *found = CFDictionaryGetValue(dict.get(), String(texts[i]).get());
    ASSERT_NE(found, nullptr) << texts[i];
    CFNumberGetValue(static_cast<CFNumberRef>(found), kCFNumberSInt64Type, &value);
    EXPECT_EQ(value, i);
  }
  std::vector<std::string> model = texts;
  std::sort(model.begin(), model.end());
  EXPECT_EQ(KeyTexts(dict.get()), model);

  // Remove every third key (in shuffled order), interleaved with lookups
  // and enumerations that reorder the entries.
  for (int i = 0; i < kCount; i += 3) {
    CFDictionaryRemoveValue(dict.get(), String(texts[i]).get());
    if (i % 3000 == 0) KeysOf(dict.get());
  }
  std::vector<std::string> left;
  for (int i = 0; i < kCount; ++i) {
    bool kept = i % 3 != 0;
    if (kept) left.push_back(texts[i]);
    EXPECT_EQ(static_cast<bool>(CFDictionaryContainsKey(dict.get(), String(texts[i]).get())), kept);
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(KeyTexts(dict.get()), left);

  // The immutable copy, rebuilt from its own key listing, is equal.
  auto frozen = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreateCopy(kCFAllocatorDefault, dict.get()));
  EXPECT_TRUE(CFEqual(frozen.get(), dict.get()));
  EXPECT_TRUE(CFEqual(dict.get(), frozen.get()));
  EXPECT_EQ(KeyTexts(frozen.get()), left);
  for (int i = 0; i < kCount; i += 41) {
    EXPECT_EQ(static_cast<bool>(CFDictionaryContainsKey(frozen.get(), String(texts[i]).get())), i % 3 != 0);
  }
}

TEST(Dictionary, EqualityIgnoresInsertionOrderAndMutability) {
  auto first = MutableDictionary(), second = MutableDictionary();
  for (int i = 0; i < 50; ++i) {
    CFDictionarySetValue(first.get(), Integer(i).get(), String(std::to_string(i)).get());
    CFDictionarySetValue(second.get(), Integer(49 - i).get(), String(std::to_string(49 - i)).get());
  }
  EXPECT_TRUE(CFEqual(first.get(), second.get()));
  EXPECT_EQ(CFHash(first.get()), CFHash(second.get()));
  CFDictionarySetValue(second.get(), Integer(3).get(), CFSTR("changed"));
  EXPECT_FALSE(CFEqual(first.get(), second.get()));
}

TEST(Dictionary, ApplyFunctionVisitsInEnumerationOrder) {
  auto dict = MutableDictionary();
  for (const char *key : {"delta", "alpha", "charlie", "bravo"}) {
    CFDictionarySetValue(dict.get(), String(key).get(), kCFBooleanTrue);
  }
  std::vector<std::string> seen;
  CFDictionaryApplyFunction(dict.get(),
                            [](const void *key, const void *, void *context) {
                              static_cast<std::vector<std::string> *>(context)->push_back(UTF8Of(key));
                            },
                            &seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}));
  EXPECT_EQ(KeyTexts(dict.get()), seen);
}

TEST(DictionaryDeathTest, MisuseAborts) {
  auto dict = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      kCFAllocatorDefault, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  EXPECT_DEATH(CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(dict.get()), CFSTR("k"), CFSTR("v")),
               "immutable");
  EXPECT_DEATH(CFDictionaryGetCount(reinterpret_cast<CFDictionaryRef>(CFSTR("not a dictionary"))),
               "expected a CFDictionary, got CFString");
  auto growing = MutableDictionary();
  EXPECT_DEATH(CFDictionarySetValue(growing.get(), nullptr, CFSTR("v")), "null reference");
}

}  // namespace
}  // namespace tolvan
