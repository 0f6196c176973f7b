// The XML property-list reader and writer at the edges of their resources:
// the helper tool's 512 KiB stack and an allocator that fails after any
// number of allocations.
#include <pthread.h>

#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/cf/property_list_values.hpp"

namespace tolvan::test {
namespace {

constexpr size_t kToolStackSize = 512 * 1024;
constexpr size_t kMebibyte = 1024 * 1024;

// Runs work on a thread whose whole stack is the tool's.
void RunOnSmallStack(const std::function<void()> &work) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, kToolStackSize), 0);
  pthread_t thread;
  auto trampoline = [](void *argument) -> void * {
    (*static_cast<const std::function<void()> *>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, trampoline, const_cast<std::function<void()> *>(&work)),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

std::string Repeat(const std::string &piece, size_t total_size) {
  std::string text;
  text.reserve(total_size + piece.size());
  while (text.size() < total_size) text += piece;
  return text;
}

TEST(XmlStack, AMebibyteOfNestingFailsCleanlyOnTheToolsStack) {
  const std::string arrays = "<plist>" + Repeat("<array>", kMebibyte);
  const std::string mixed = "<plist>" + Repeat("<dict><key>k</key><array>", kMebibyte);
  bool arrays_refused = false, mixed_refused = false;
  RunOnSmallStack([&] {
    arrays_refused = !Parse(arrays);
    mixed_refused = !Parse(mixed, kCFPropertyListMutableContainersAndLeaves);
  });
  EXPECT_TRUE(arrays_refused);
  EXPECT_TRUE(mixed_refused);
}

TEST(XmlStack, WriterAndDeepCopyManageTheLimitOnTheToolsStack) {
  const Value deepest = NestedArrays(kTolvanPropertyListMaxDepth, Dict({{"k", Str("v")}}));
  const Value at_limit = NestedArrays(kTolvanPropertyListMaxDepth - 1, Dict({{"k", Str("v")}}));
  std::string written_at_limit, written_deepest;
  bool copied = false, refused_copy = false;
  RunOnSmallStack([&] {
    written_at_limit = Write(at_limit.get());
    written_deepest = Write(deepest.get());
    const Value copy = Value::Adopt(CFPropertyListCreateDeepCopy(
        nullptr, at_limit.get(), kCFPropertyListMutableContainersAndLeaves));
    copied = SameValue(copy.get(), at_limit.get());
    refused_copy =
        CFPropertyListCreateDeepCopy(nullptr, deepest.get(), kCFPropertyListImmutable) == nullptr;
  });
  EXPECT_TRUE(SameValue(Parse(written_at_limit).get(), at_limit.get()));
  EXPECT_EQ(written_deepest, "<null>");
  EXPECT_TRUE(copied);
  EXPECT_TRUE(refused_copy);
}

// An allocator that grants a fixed number of allocations and then fails,
// and counts what is still outstanding.
struct Budget {
  long grants_left = 0;
  long outstanding = 0;
};

void *BudgetAllocate(CFIndex size, CFOptionFlags, void *info) {
  auto *budget = static_cast<Budget *>(info);
  if (budget->grants_left-- <= 0) return nullptr;
  void *block = std::malloc(static_cast<size_t>(size));
  if (block != nullptr) ++budget->outstanding;
  return block;
}

void *BudgetReallocate(void *block, CFIndex size, CFOptionFlags, void *info) {
  auto *budget = static_cast<Budget *>(info);
  if (budget->grants_left-- <= 0) return nullptr;
  return std::realloc(block, static_cast<size_t>(size));
}

void BudgetDeallocate(void *block, void *info) {
  --static_cast<Budget *>(info)->outstanding;
  std::free(block);
}

// Runs attempt with the default allocator granting 0, 1, 2, ...
// allocations until attempt reports success; each failing run must have
// returned every block.
void SweepAllocationFailures(const std::function<bool()> &attempt) {
  Budget budget;
  CFAllocatorContext context = {0,       &budget, nullptr, nullptr, nullptr, BudgetAllocate,
                                BudgetReallocate, BudgetDeallocate, nullptr};
  auto allocator = CFRef<CFAllocatorRef>::Adopt(CFAllocatorCreate(nullptr, &context));
  ASSERT_TRUE(allocator);
  bool succeeded = false;
  long grants = 0;
  for (; !succeeded && grants < 100000; ++grants) {
    budget.grants_left = grants;
    CFAllocatorSetDefault(allocator.get());
    succeeded = attempt();
    CFAllocatorSetDefault(nullptr);
    ASSERT_EQ(budget.outstanding, 0) << "blocks left after " << grants << " grants";
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(grants, 1) << "nothing was allocated, so nothing could fail";
}

const std::string kEveryType =
    "<?xml version=\"1.0\"?><!DOCTYPE plist><plist><dict>"
    "<key>s</key><string>plain</string><key>e</key><string>a&amp;b&#x1F600;<![CDATA[c]]></string>"
    "<key>u</key><string>caf\xC3\xA9</string><key>i</key><integer>-42</integer>"
    "<key>r</key><real>2.5</real><key>t</key><true/><key>f</key><false/>"
    "<key>d</key><date>2026-12-11T09:10:17Z</date><key>b</key><data>Zm9vYmFy</data>"
    "<key>a</key><array><array/><dict/><string/><data/>"
    "<dict><key>x</key><array><integer>1</integer><integer>2</integer></array></dict></array>"
    "</dict></plist>";

TEST(XmlMemory, ReaderReturnsNullAndLeaksNothingWhenAllocationsFail) {
  const Value expected = Parse(kEveryType);
  ASSERT_TRUE(expected);
  for (CFOptionFlags option : {kCFPropertyListImmutable, kCFPropertyListMutableContainers,
                               kCFPropertyListMutableContainersAndLeaves}) {
    // The input must not come from the failing allocator.
    auto data = DataOf(kEveryType);
    SweepAllocationFailures([&] {
      CFStringRef error = nullptr;
      CFTypeRef value = CFPropertyListCreateFromXMLData(nullptr, data.get(), option, &error);
      const bool parsed = value != nullptr;
      if (parsed) {
        EXPECT_TRUE(SameValue(value, expected.get()));
        CFRelease(value);
      }
      if (error != nullptr) CFRelease(error);
      return parsed;
    });
  }
}

TEST(XmlMemory, WriterAndDeepCopyReturnNullAndLeakNothingWhenAllocationsFail) {
  const Value value = Parse(kEveryType);
  ASSERT_TRUE(value);
  const std::string expected = Write(value.get());
  SweepAllocationFailures([&] {
    CFDataRef written = CFPropertyListCreateXMLData(nullptr, value.get());
    if (written == nullptr) return false;
    EXPECT_EQ(TextOf(written), expected);
    CFRelease(written);
    return true;
  });
  for (CFOptionFlags option : {kCFPropertyListImmutable, kCFPropertyListMutableContainers,
                               kCFPropertyListMutableContainersAndLeaves}) {
    SweepAllocationFailures([&] {
      CFTypeRef copy = CFPropertyListCreateDeepCopy(nullptr, value.get(), option);
      if (copy == nullptr) return false;
      EXPECT_TRUE(SameValue(copy, value.get()));
      CFRelease(copy);
      return true;
    });
  }
}

}  // namespace
}  // namespace tolvan::test
