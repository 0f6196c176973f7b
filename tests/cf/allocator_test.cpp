// Allocators: the standard ones, allocators made from callbacks, the
// default, and failing allocators reaching every out-of-memory path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan {
namespace {

// Grants `budget` allocations, then refuses; counts live blocks so a test
// can see that failed calls leave nothing behind.
struct Budget {
  long budget = 0;
  long live = 0;
  long granted = 0;
};

void *BudgetAllocate(CFIndex size, CFOptionFlags, void *info) {
  auto *state = static_cast<Budget *>(info);
  if (state->granted >= state->budget) return nullptr;
  void *block = std::malloc(static_cast<size_t>(size));
  if (block != nullptr) {
    ++state->granted;
    ++state->live;
  }
  return block;
}

void *BudgetReallocate(void *block, CFIndex size, CFOptionFlags, void *info) {
  auto *state = static_cast<Budget *>(info);
  if (state->granted >= state->budget) return nullptr;
  ++state->granted;
  return std::realloc(block, static_cast<size_t>(size));
}

void BudgetDeallocate(void *block, void *info) {
  --static_cast<Budget *>(info)->live;
  std::free(block);
}

CFRef<CFAllocatorRef> BudgetAllocator(Budget *state, bool with_reallocate = true) {
  CFAllocatorContext context = {0, state, nullptr, nullptr, nullptr, BudgetAllocate,
                                with_reallocate ? BudgetReallocate : nullptr, BudgetDeallocate,
                                nullptr};
  return CFRef<CFAllocatorRef>::Adopt(CFAllocatorCreate(kCFAllocatorSystemDefault, &context));
}

// Installs an allocator as the default for the life of the object.
class DefaultAllocator {
 public:
  explicit DefaultAllocator(CFAllocatorRef allocator) { CFAllocatorSetDefault(allocator); }
  ~DefaultAllocator() { CFAllocatorSetDefault(nullptr); }
};

CFRef<CFNumberRef> Integer(int64_t value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorSystemDefault, kCFNumberSInt64Type, &value));
}

TEST(Allocator, StandardAllocators) {
  void *block = CFAllocatorAllocate(kCFAllocatorDefault, 32, 0);
  ASSERT_NE(block, nullptr);
  block = CFAllocatorReallocate(kCFAllocatorDefault, block, 4096, 0);
  ASSERT_NE(block, nullptr);
  CFAllocatorDeallocate(kCFAllocatorDefault, block);
  EXPECT_EQ(CFAllocatorAllocate(kCFAllocatorDefault, 0, 0), nullptr);
  EXPECT_EQ(CFAllocatorAllocate(kCFAllocatorNull, 16, 0), nullptr);
  EXPECT_EQ(CFAllocatorGetDefault(), kCFAllocatorSystemDefault);
  EXPECT_EQ(CFGetTypeID(kCFAllocatorMalloc), CFAllocatorGetTypeID());
  CFRelease(kCFAllocatorNull);  // static allocators are immortal
  auto string = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(kCFAllocatorNull, "x", kCFStringEncodingUTF8));
  EXPECT_FALSE(string) << "the null allocator makes nothing";
  auto made = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(kCFAllocatorDefault, "x", kCFStringEncodingUTF8));
  EXPECT_EQ(CFGetAllocator(made.get()), kCFAllocatorSystemDefault);
}

TEST(Allocator, ObjectsUseAndKeepTheirAllocator) {
  Budget state{1000};
  auto allocator = BudgetAllocator(&state);
  ASSERT_TRUE(allocator);
  CFIndex references = CFGetRetainCount(allocator.get());
  auto string = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(allocator.get(), "kept", kCFStringEncodingUTF8));
  ASSERT_TRUE(string);
  EXPECT_EQ(state.live, 1);
  EXPECT_EQ(CFGetAllocator(string.get()), allocator.get());
  EXPECT_EQ(CFGetRetainCount(allocator.get()), references + 1) << "the object holds its allocator";
  {
    DefaultAllocator installed(allocator.get());
    EXPECT_EQ(CFAllocatorGetDefault(), allocator.get());
    auto array = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
    ASSERT_TRUE(array);
    CFArrayAppendValue(array.get(), string.get());
    EXPECT_EQ(state.live, 3) << "the array and its buffer";
  }
  EXPECT_EQ(CFAllocatorGetDefault(), kCFAllocatorSystemDefault);
  EXPECT_EQ(state.live, 1);
  // The allocator outlives the holder's reference while objects use it.
  CFAllocatorRef raw = allocator.release();
  CFRelease(raw);
  EXPECT_EQ(CFGetAllocator(string.get()), raw);
  string.reset();
  EXPECT_EQ(state.live, 0);
}

// Runs make() with budgets 0, 1, 2, ... until it succeeds: every failure
// must answer null (or false) and leave no block behind.
void ExpectCleanFailures(const std::string &name, bool with_reallocate,
                         const std::function<bool(CFAllocatorRef)> &make) {
  SCOPED_TRACE(name);
  for (long budget = 0;; ++budget) {
    ASSERT_LT(budget, 1000) << "never succeeded";
    Budget state{budget};
    auto allocator = BudgetAllocator(&state, with_reallocate);
    bool made = make(allocator.get());
    EXPECT_EQ(state.live, 0) << "after a budget of " << budget;
    if (made) return;
  }
}

TEST(Allocator, EveryFamilyFailsCleanlyWhenMemoryRunsOut) {
  for (bool with_reallocate : {true, false}) {
    ExpectCleanFailures("string", with_reallocate, [](CFAllocatorRef allocator) {
      auto string = CFRef<CFStringRef>::Adopt(
          CFStringCreateWithCString(allocator, "caf\xC3\xA9 \xE2\x82\xAC", kCFStringEncodingUTF8));
      return static_cast<bool>(string);
    });
    ExpectCleanFailures("format", with_reallocate, [](CFAllocatorRef allocator) {
      auto string = CFRef<CFStringRef>::Adopt(CFStringCreateWithFormat(
          allocator, nullptr, CFSTR("%d %@ %s"), 12345, CFSTR("object"), std::string(300, 'x').c_str()));
      return static_cast<bool>(string);
    });
    ExpectCleanFailures("mutable string", with_reallocate, [](CFAllocatorRef allocator) {
      auto string = CFRef<CFMutableStringRef>::Adopt(CFStringCreateMutable(allocator, 0));
      if (!string) return false;
      for (int i = 0; i < 20; ++i) {
        CFIndex before = CFStringGetLength(string.get());
        if (!CFStringAppend(string.get(), CFSTR("0123456789"))) {
          EXPECT_EQ(CFStringGetLength(string.get()), before) << "a failed append changes nothing";
          return false;
        }
      }
      const UniChar euro = 0x20AC;
      return static_cast<bool>(CFStringAppendCharacters(string.get(), &euro, 1));
    });
    ExpectCleanFailures("number and date", with_reallocate, [](CFAllocatorRef allocator) {
      int64_t big = 1 << 20;
      auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(allocator, kCFNumberSInt64Type, &big));
      auto date = CFRef<CFDateRef>::Adopt(CFDateCreate(allocator, 1.0));
      return number && date;
    });
    ExpectCleanFailures("data", with_reallocate, [](CFAllocatorRef allocator) {
      auto data = CFRef<CFMutableDataRef>::Adopt(CFDataCreateMutable(allocator, 0));
      if (!data) return false;
      const UInt8 chunk[100] = {};
      for (int i = 0; i < 10; ++i) {
        if (!CFDataAppendBytes(data.get(), chunk, sizeof chunk)) return false;
      }
      auto copy = CFRef<CFDataRef>::Adopt(CFDataCreateCopy(allocator, data.get()));
      return static_cast<bool>(copy);
    });
    ExpectCleanFailures("array", with_reallocate, [](CFAllocatorRef allocator) {
      auto array = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(allocator, 0, &kCFTypeArrayCallBacks));
      if (!array) return false;
      for (int i = 0; i < 50; ++i) {
        if (!CFArrayAppendValue(array.get(), Integer(1000 + i).get())) {
          EXPECT_EQ(CFArrayGetCount(array.get()), i);
          return false;
        }
      }
      auto copy = CFRef<CFArrayRef>::Adopt(CFArrayCreateCopy(allocator, array.get()));
      return static_cast<bool>(copy);
    });
    ExpectCleanFailures("dictionary", with_reallocate, [](CFAllocatorRef allocator) {
      auto dict = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
          allocator, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
      if (!dict) return false;
      for (int i = 0; i < 40; ++i) {
        auto key = CFRef<CFMutableStringRef>::Adopt(CFStringCreateMutable(kCFAllocatorSystemDefault, 0));
        CFStringAppendFormat(key.get(), nullptr, CFSTR("key %d"), i);
        if (!CFDictionarySetValue(dict.get(), key.get(), Integer(i).get())) {
          EXPECT_EQ(CFDictionaryGetCount(dict.get()), i) << "a failed set changes nothing";
          EXPECT_FALSE(CFDictionaryContainsKey(dict.get(), key.get()));
          return false;
        }
      }
      auto frozen = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreateCopy(allocator, dict.get()));
      if (!frozen) return false;
      auto thawed = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutableCopy(allocator, 0, frozen.get()));
      return static_cast<bool>(thawed);
    });
  }
}

TEST(Allocator, AFailingDefaultLeavesConstantsAlone) {
  Budget state{0};
  auto allocator = BudgetAllocator(&state);
  DefaultAllocator installed(allocator.get());
  EXPECT_EQ(CFStringGetLength(CFSTR("a constant first made under a failing default")), 45);
  EXPECT_FALSE(CFStringCreateWithCString(kCFAllocatorDefault, "x", kCFStringEncodingUTF8));
  EXPECT_FALSE(CFCopyDescription(kCFBooleanTrue));
}

}  // namespace
}  // namespace tolvan
