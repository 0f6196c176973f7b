// Arrays: callbacks, copies, mutation and its bounds.
#include <gtest/gtest.h>

#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan {
namespace {

CFRef<CFNumberRef> Integer(int64_t value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
}

CFRef<CFMutableArrayRef> MutableArray(CFIndex capacity = 0) {
  return CFRef<CFMutableArrayRef>::Adopt(
      CFArrayCreateMutable(kCFAllocatorDefault, capacity, &kCFTypeArrayCallBacks));
}

std::vector<const void *> ValuesOf(CFArrayRef array) {
  std::vector<const void *> values(static_cast<size_t>(CFArrayGetCount(array)));
  CFArrayGetValues(array, CFRangeMake(0, CFArrayGetCount(array)), values.data());
  return values;
}

TEST(Array, TypeCallBacksRetainWhatTheArrayHolds) {
  auto number = Integer(1000);
  CFIndex before = CFGetRetainCount(number.get());
  const void *values[] = {number.get(), number.get()};
  auto array = CFRef<CFArrayRef>::Adopt(
      CFArrayCreate(kCFAllocatorDefault, values, 2, &kCFTypeArrayCallBacks));
  EXPECT_EQ(CFGetRetainCount(number.get()), before + 2);
  auto copy = CFRef<CFArrayRef>::Adopt(CFArrayCreateCopy(kCFAllocatorDefault, array.get()));
  EXPECT_EQ(copy.get(), array.get()) << "an immutable copy is the same object";
  auto mutable_copy = CFRef<CFMutableArrayRef>::Adopt(
      CFArrayCreateMutableCopy(kCFAllocatorDefault, 0, array.get()));
  EXPECT_EQ(CFGetRetainCount(number.get()), before + 4);
  array.reset();
  copy.reset();
  EXPECT_EQ(CFGetRetainCount(number.get()), before + 2);
  mutable_copy.reset();
  EXPECT_EQ(CFGetRetainCount(number.get()), before);
}

TEST(Array, NullCallBacksKeepRawPointers) {
  static const int markers[3] = {};
  const void *values[] = {&markers[0], &markers[1]};
  auto array = CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault, values, 2, nullptr));
  EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), 1), &markers[1]);
  EXPECT_EQ(CFArrayGetFirstIndexOfValue(array.get(), CFRangeMake(0, 2), &markers[1]), 1);
  EXPECT_FALSE(CFArrayContainsValue(array.get(), CFRangeMake(0, 2), &markers[2]));
}

TEST(Array, MutationKeepsOrderAndCounts) {
  auto array = MutableArray();
  auto one = Integer(1001), two = Integer(1002), three = Integer(1003);
  ASSERT_TRUE(CFArrayAppendValue(array.get(), two.get()));
  ASSERT_TRUE(CFArrayInsertValueAtIndex(array.get(), 0, one.get()));
  ASSERT_TRUE(CFArrayInsertValueAtIndex(array.get(), 2, three.get()));
  EXPECT_EQ(ValuesOf(array.get()), (std::vector<const void *>{one.get(), two.get(), three.get()}));
  ASSERT_TRUE(CFArrayAppendArray(array.get(), array.get(), CFRangeMake(0, 3))) << "itself";
  EXPECT_EQ(CFArrayGetCount(array.get()), 6);
  CFArraySetValueAtIndex(array.get(), 5, one.get());
  CFArrayRemoveValueAtIndex(array.get(), 0);
  EXPECT_EQ(ValuesOf(array.get()),
            (std::vector<const void *>{two.get(), three.get(), one.get(), two.get(), one.get()}));
  // Equal by content finds another object with the same value.
  EXPECT_EQ(CFArrayGetFirstIndexOfValue(array.get(), CFRangeMake(0, 5), Integer(1003).get()), 1);
  EXPECT_EQ(CFArrayGetFirstIndexOfValue(array.get(), CFRangeMake(2, 3), Integer(1003).get()), kCFNotFound);
  std::vector<const void *> seen;
  CFArrayApplyFunction(array.get(), CFRangeMake(1, 2),
                       [](const void *value, void *context) {
                         static_cast<std::vector<const void *> *>(context)->push_back(value);
                       },
                       &seen);
  EXPECT_EQ(seen, (std::vector<const void *>{three.get(), one.get()}));
  CFArrayRemoveAllValues(array.get());
  EXPECT_EQ(CFArrayGetCount(array.get()), 0);
  EXPECT_EQ(CFGetRetainCount(one.get()), 1);
}

TEST(Array, FixedCapacityRefusesToGrow) {
  auto array = MutableArray(2);
  EXPECT_TRUE(CFArrayAppendValue(array.get(), kCFBooleanTrue));
  EXPECT_TRUE(CFArrayAppendValue(array.get(), kCFBooleanFalse));
  EXPECT_FALSE(CFArrayAppendValue(array.get(), kCFBooleanTrue));
  EXPECT_FALSE(CFArrayInsertValueAtIndex(array.get(), 0, kCFBooleanTrue));
  EXPECT_EQ(CFArrayGetCount(array.get()), 2);
}

TEST(Array, EqualityIsElementByElement) {
  const void *a[] = {CFSTR("x"), Integer(1).get()};
  const void *b[] = {CFSTR("x"), Integer(1).get()};
  const void *c[] = {Integer(1).get(), CFSTR("x")};
  auto first = CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault, a, 2, &kCFTypeArrayCallBacks));
  auto mutable_second = MutableArray();
  for (const void *value : b) CFArrayAppendValue(mutable_second.get(), value);
  auto third = CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault, c, 2, &kCFTypeArrayCallBacks));
  EXPECT_TRUE(CFEqual(first.get(), mutable_second.get()));
  EXPECT_EQ(CFHash(first.get()), CFHash(mutable_second.get()));
  EXPECT_FALSE(CFEqual(first.get(), third.get()));
}

TEST(ArrayDeathTest, MisuseAborts) {
  auto array = CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault, nullptr, 0, &kCFTypeArrayCallBacks));
  EXPECT_DEATH(CFArrayAppendValue(const_cast<CFMutableArrayRef>(array.get()), kCFBooleanTrue), "immutable");
  EXPECT_DEATH(CFArrayGetValueAtIndex(array.get(), 0), "out of bounds");
  auto growing = MutableArray();
  EXPECT_DEATH(CFArrayInsertValueAtIndex(growing.get(), 1, kCFBooleanTrue), "out of bounds");
  EXPECT_DEATH(CFArrayAppendValue(growing.get(), nullptr), "null reference");
}

}  // namespace
}  // namespace tolvan
