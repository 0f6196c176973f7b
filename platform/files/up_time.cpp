// UpTime: the monotonic clock, which neither jumps with the wall clock nor
// goes back, so successive values always differ in the order they were taken.
#include <time.h>

#include "platform/files/files.h"

AbsoluteTime UpTime(void) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t nanoseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
  AbsoluteTime result;
  result.hi = static_cast<UInt32>(nanoseconds >> 32);
  result.lo = static_cast<UInt32>(nanoseconds);
  return result;
}
