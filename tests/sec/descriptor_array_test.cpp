#include "sec/descriptor_array.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "gtest/gtest.h"
#include "tests/cf/property_list_values.hpp"
#include "tests/support/descriptors.hpp"

namespace {

using tolvan::test::Array;
using tolvan::test::CountOpenDescriptors;
using tolvan::test::Int;
using tolvan::test::IsOpen;
using tolvan::test::Str;

int OpenNull() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(CloseDescriptorArray, ClosesOnlyWhatNumbersHoldingAnIntName) {
  const int first = OpenNull(), second = OpenNull(), kept = OpenNull(), alsoKept = OpenNull();
  // Values that convert to a kept descriptor only inexactly must not close
  // it: a fraction, and one 2^32 above it.
  auto descriptors = Array({Int(first), Str("7"), tolvan::test::Real(kept + 0.5), Int(second),
                            Int((int64_t{1} << 32) + alsoKept), tolvan::test::Bool(true),
                            Array({Int(kept)})});
  auto before = tolvan::test::Write(descriptors.get());

  TolvanSecCloseDescriptorArray(static_cast<CFArrayRef>(descriptors.get()));
  EXPECT_FALSE(IsOpen(first));
  EXPECT_FALSE(IsOpen(second));
  EXPECT_TRUE(IsOpen(kept));
  EXPECT_TRUE(IsOpen(alsoKept));
  EXPECT_EQ(tolvan::test::Write(descriptors.get()), before) << "the array is unchanged";
  EXPECT_EQ(CFGetRetainCount(descriptors.get()), 1);
  close(kept);
  close(alsoKept);
}

TEST(CloseDescriptorArray, NullEmptyAndNonArraysDoNothing) {
  const int fd = OpenNull();
  int before = CountOpenDescriptors();
  TolvanSecCloseDescriptorArray(nullptr);
  TolvanSecCloseDescriptorArray(static_cast<CFArrayRef>(Array({}).get()));
  auto dictionary = tolvan::test::Dict({{"fd", Int(fd)}});
  TolvanSecCloseDescriptorArray(static_cast<CFArrayRef>(dictionary.get()));
  TolvanSecCloseDescriptorArray(static_cast<CFArrayRef>(Int(fd).get()));
  EXPECT_EQ(CountOpenDescriptors(), before);
  EXPECT_TRUE(IsOpen(fd));
  close(fd);
}

}  // namespace
