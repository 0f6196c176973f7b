// Data: copies, the no-copy wrapper and its deallocators, mutable buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan {
namespace {

std::vector<UInt8> BytesOf(CFDataRef data) {
  const UInt8 *bytes = CFDataGetBytePtr(data);
  return std::vector<UInt8>(bytes, bytes + CFDataGetLength(data));
}

// Counts what the allocator is asked to free, so a test can see who frees
// wrapped bytes.
struct FreeCounter {
  int frees = 0;
};

void *CountingAllocate(CFIndex size, CFOptionFlags, void *) { return std::malloc(size); }
void CountingDeallocate(void *block, void *info) {
  ++static_cast<FreeCounter *>(info)->frees;
  std::free(block);
}

CFRef<CFAllocatorRef> CountingAllocator(FreeCounter *counter) {
  CFAllocatorContext context = {0, counter, nullptr, nullptr, nullptr, CountingAllocate,
                                nullptr, CountingDeallocate, nullptr};
  return CFRef<CFAllocatorRef>::Adopt(CFAllocatorCreate(kCFAllocatorDefault, &context));
}

TEST(Data, CopiesTheBytes) {
  UInt8 bytes[] = {1, 2, 3};
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, bytes, 3));
  bytes[0] = 9;
  EXPECT_EQ(BytesOf(data.get()), (std::vector<UInt8>{1, 2, 3}));
  auto empty = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, nullptr, 0));
  ASSERT_TRUE(empty);
  EXPECT_EQ(CFDataGetLength(empty.get()), 0);
  EXPECT_NE(CFDataGetBytePtr(empty.get()), nullptr);
  UInt8 part[2];
  CFDataGetBytes(data.get(), CFRangeMake(1, 2), part);
  EXPECT_EQ(part[0], 2);
  EXPECT_EQ(part[1], 3);
  EXPECT_FALSE(CFEqual(data.get(), empty.get()));
}

TEST(Data, NoCopyWrapsTheCallersBytes) {
  UInt8 bytes[] = {'w', 'r', 'a', 'p'};
  auto kept = CFRef<CFDataRef>::Adopt(
      CFDataCreateWithBytesNoCopy(kCFAllocatorDefault, bytes, 4, kCFAllocatorNull));
  ASSERT_TRUE(kept);
  EXPECT_EQ(CFDataGetBytePtr(kept.get()), bytes) << "no copy was made";
  // A copy must not depend on the caller's bytes living on.
  auto copy = CFRef<CFDataRef>::Adopt(CFDataCreateCopy(kCFAllocatorDefault, kept.get()));
  EXPECT_NE(CFDataGetBytePtr(copy.get()), bytes);
  EXPECT_TRUE(CFEqual(copy.get(), kept.get()));
  EXPECT_EQ(CFHash(copy.get()), CFHash(kept.get()));
  kept.reset();  // kCFAllocatorNull: the stack bytes are not freed (ASan would see it)

  FreeCounter counter;
  auto allocator = CountingAllocator(&counter);
  ASSERT_TRUE(allocator);
  auto *owned = static_cast<UInt8 *>(CFAllocatorAllocate(allocator.get(), 16, 0));
  auto handed = CFRef<CFDataRef>::Adopt(
      CFDataCreateWithBytesNoCopy(kCFAllocatorDefault, owned, 16, allocator.get()));
  EXPECT_EQ(counter.frees, 0);
  handed.reset();
  EXPECT_EQ(counter.frees, 1) << "the bytes went back to their deallocator";
}

TEST(Data, MutableDataGrowsAndHonoursItsCapacity) {
  auto data = CFRef<CFMutableDataRef>::Adopt(CFDataCreateMutable(kCFAllocatorDefault, 0));
  ASSERT_TRUE(data);
  EXPECT_NE(CFDataGetMutableBytePtr(data.get()), nullptr);
  std::vector<UInt8> expected;
  for (int i = 0; i < 1000; ++i) {
    UInt8 byte = static_cast<UInt8>(i);
    ASSERT_TRUE(CFDataAppendBytes(data.get(), &byte, 1));
    expected.push_back(byte);
  }
  EXPECT_EQ(BytesOf(data.get()), expected);
  // Appending a part of its own buffer, which growing moves.
  ASSERT_TRUE(CFDataAppendBytes(data.get(), CFDataGetBytePtr(data.get()), 1000));
  expected.insert(expected.end(), expected.begin(), expected.end());
  EXPECT_EQ(BytesOf(data.get()), expected);
  ASSERT_TRUE(CFDataSetLength(data.get(), 2003));
  EXPECT_EQ(CFDataGetBytePtr(data.get())[2002], 0) << "growth is zero-filled";
  ASSERT_TRUE(CFDataSetLength(data.get(), 1));
  EXPECT_EQ(CFDataGetLength(data.get()), 1);

  auto fixed = CFRef<CFMutableDataRef>::Adopt(CFDataCreateMutable(kCFAllocatorDefault, 4));
  const UInt8 five[] = {1, 2, 3, 4, 5};
  EXPECT_TRUE(CFDataAppendBytes(fixed.get(), five, 4));
  EXPECT_FALSE(CFDataAppendBytes(fixed.get(), five, 1));
  EXPECT_FALSE(CFDataSetLength(fixed.get(), 5));
  EXPECT_EQ(CFDataGetLength(fixed.get()), 4);

  auto frozen = CFRef<CFDataRef>::Adopt(CFDataCreateCopy(kCFAllocatorDefault, fixed.get()));
  auto thawed = CFRef<CFMutableDataRef>::Adopt(CFDataCreateMutableCopy(kCFAllocatorDefault, 0, frozen.get()));
  CFDataGetMutableBytePtr(thawed.get())[0] = 7;
  EXPECT_EQ(CFDataGetBytePtr(frozen.get())[0], 1) << "copies are independent";
  EXPECT_EQ(CFDataGetBytePtr(fixed.get())[0], 1);
}

TEST(DataDeathTest, ImmutableDataCannotChange) {
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, nullptr, 0));
  const UInt8 byte = 1;
  EXPECT_DEATH(CFDataAppendBytes(const_cast<CFMutableDataRef>(data.get()), &byte, 1), "immutable");
  UInt8 out[2];
  EXPECT_DEATH(CFDataGetBytes(data.get(), CFRangeMake(0, 1), out), "out of bounds");
}

}  // namespace
}  // namespace tolvan
