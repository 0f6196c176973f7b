// Timestamp files on arbitrary bytes, record by record: a record that
// decodes must encode to exactly the bytes it came from (nothing in it is
// ignored), and judging it never misbehaves.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/auth/timestamp_record.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace tolvan::auth;
  for (size_t at = 0; at < size; at += kTimestampRecordSize) {
    size_t length = size - at < kTimestampRecordSize ? size - at : kTimestampRecordSize;
    TimestampRecord record;
    if (!DecodeTimestampRecord(data + at, length, &record)) continue;
    unsigned char again[kTimestampRecordSize];
    EncodeTimestampRecord(record, again);
    if (std::memcmp(again, data + at, kTimestampRecordSize) != 0) std::abort();
    if (RecordGrants(record, record.scope, record.time) !=
        (record.result == TimestampResult::kGranted)) {
      std::abort();
    }
  }
  return 0;
}
