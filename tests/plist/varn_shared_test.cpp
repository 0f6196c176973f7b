#include "plist/varn_shared.h"

#include <gtest/gtest.h>

#include "tests/plist/varn_test_support.hpp"

namespace {

using namespace varn_test;

TEST(VarnErrorTest, NullIsTheOnlyFailure) {
  int local = 0;
  auto number = Number(1);
  EXPECT_EQ(coreFoundationUnknownErr, VarnError(nullptr));
  EXPECT_EQ(noErr, VarnError(&local));
  EXPECT_EQ(noErr, VarnError(number.get()));
}

TEST(VarnErrorBooleanTest, AnyNonZeroFlagIsSuccess) {
  const struct {
    Boolean flag;
    OSStatus expected;
  } cases[] = {{0, coreFoundationUnknownErr}, {1, noErr}, {2, noErr}, {255, noErr}};
  for (const auto &c : cases) EXPECT_EQ(c.expected, VarnErrorBoolean(c.flag)) << int(c.flag);
}

TEST(VarnReleaseTest, ReleasesOneReferenceAndIgnoresNull) {
  VarnRelease(nullptr);
  auto string = String("released");
  CFRetain(string.get());
  VarnRelease(string.get());
  EXPECT_EQ(1, CFGetRetainCount(string.get()));
}

TEST(VarnArrayCreateMutableTest, IsEmptyGrowableAndRetainsItsElements) {
  CFRef<CFMutableArrayRef> array;
  ASSERT_EQ(noErr, VarnArrayCreateMutable(array.out()));
  ASSERT_TRUE(array);
  EXPECT_EQ(0, CFArrayGetCount(array.get()));
  auto element = String("element");
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(CFArrayAppendValue(array.get(), element.get()));
  EXPECT_EQ(100, CFArrayGetCount(array.get()));
  EXPECT_EQ(101, CFGetRetainCount(element.get()));
}

TEST(VarnArrayCreateMutableTest, WritesNullWhenOutOfMemory) {
  LimitedDefaultAllocator none(0);
  auto array = reinterpret_cast<CFMutableArrayRef>(&none);
  EXPECT_EQ(coreFoundationUnknownErr, VarnArrayCreateMutable(&array));
  EXPECT_EQ(nullptr, array);
}

}  // namespace
