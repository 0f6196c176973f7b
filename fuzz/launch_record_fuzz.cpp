// Launch record files on arbitrary bytes: a record that decodes must encode
// to exactly the bytes it came from (nothing in it is ignored), and it
// always names the launch it decoded to.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/auth/launch_record.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace tolvan::auth;
  LaunchRecord record;
  if (!DecodeLaunchRecord(data, size, &record)) return 0;
  if (size != kLaunchRecordSize || record.pid <= 0) std::abort();
  unsigned char again[kLaunchRecordSize];
  EncodeLaunchRecord(record, again);
  if (std::memcmp(again, data, kLaunchRecordSize) != 0) std::abort();
  LaunchRecord decoded;
  if (!DecodeLaunchRecord(again, sizeof again, &decoded) || !SameLaunch(decoded, record)) {
    std::abort();
  }
  return 0;
}
