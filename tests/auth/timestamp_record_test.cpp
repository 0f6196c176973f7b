// Timestamp records: exact round trip, every damaged byte refused or
// harmless, and the judgement of one record by scope and time.
#include "platform/auth/timestamp_record.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace tolvan::auth {
namespace {

constexpr uint64_t kSecond = 1'000'000'000;

SessionScope Scope() {
  SessionScope scope;
  scope.uid = 1001;
  scope.terminal = 34817;
  scope.session = 4242;
  scope.leaderStartTime = 123456789;
  for (unsigned i = 0; i < sizeof scope.bootId.bytes; ++i) scope.bootId.bytes[i] = 0xa0 + i;
  return scope;
}

TimestampRecord Granted(uint64_t time) {
  TimestampRecord record;
  record.scope = Scope();
  record.result = TimestampResult::kGranted;
  record.time = time;
  return record;
}

TEST(TimestampRecord, RoundTripsExactly) {
  unsigned char bytes[kTimestampRecordSize];
  EncodeTimestampRecord(Granted(77 * kSecond), bytes);
  TimestampRecord decoded;
  ASSERT_TRUE(DecodeTimestampRecord(bytes, sizeof bytes, &decoded));
  EXPECT_TRUE(SameScope(decoded.scope, Scope()));
  EXPECT_EQ(decoded.result, TimestampResult::kGranted);
  EXPECT_EQ(decoded.time, 77 * kSecond);
  unsigned char again[kTimestampRecordSize];
  EncodeTimestampRecord(decoded, again);
  EXPECT_EQ(0, std::memcmp(bytes, again, sizeof bytes));
}

TEST(TimestampRecord, RefusesWrongLengths) {
  unsigned char bytes[kTimestampRecordSize + 1] = {};
  EncodeTimestampRecord(Granted(1), bytes);
  TimestampRecord decoded;
  EXPECT_FALSE(DecodeTimestampRecord(bytes, kTimestampRecordSize - 1, &decoded));
  EXPECT_FALSE(DecodeTimestampRecord(bytes, kTimestampRecordSize + 1, &decoded));
  EXPECT_FALSE(DecodeTimestampRecord(bytes, 0, &decoded));
}

// Whatever single bit outside the time is flipped, the record no longer
// grants the request it granted: decoding refuses it, or a field differs.
TEST(TimestampRecord, NoFlippedBitStillGrants) {
  const uint64_t written = 100 * kSecond;
  const uint64_t now = written + kSecond;
  unsigned char good[kTimestampRecordSize];
  EncodeTimestampRecord(Granted(written), good);
  TimestampRecord decoded;
  ASSERT_TRUE(DecodeTimestampRecord(good, sizeof good, &decoded));
  ASSERT_TRUE(RecordGrants(decoded, Scope(), now));
  for (size_t bit = 0; bit < kTimestampRecordSize * 8; ++bit) {
    unsigned char bytes[kTimestampRecordSize];
    std::memcpy(bytes, good, sizeof bytes);
    bytes[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
    bool grants = DecodeTimestampRecord(bytes, sizeof bytes, &decoded) &&
                  RecordGrants(decoded, Scope(), now);
    // A flipped bit of the time (bytes 48 to 55) moves it; it may still
    // grant when it stays within the life and not after now.
    bool expected = false;
    if (bit / 8 >= 48 && bit / 8 < 56) {
      uint64_t moved = written ^ (uint64_t{1} << (bit - 48 * 8));
      expected = moved <= now && now - moved < kTimestampLifeNanoseconds;
    }
    EXPECT_EQ(grants, expected) << "bit " << bit;
  }
}

TEST(TimestampRecord, GrantsOnlyTheSameScopeWithinItsLife) {
  const uint64_t written = 1000 * kSecond;
  struct Case {
    const char *what;
    void (*change)(SessionScope *);
    uint64_t now;
    bool grants;
  };
  const Case cases[] = {
      {"same scope, at once", [](SessionScope *) {}, written, true},
      {"same scope, just inside the life", [](SessionScope *) {},
       written + kTimestampLifeNanoseconds - 1, true},
      {"expired", [](SessionScope *) {}, written + kTimestampLifeNanoseconds, false},
      {"dated in the future", [](SessionScope *) {}, written - 1, false},
      {"another user", [](SessionScope *s) { s->uid += 1; }, written, false},
      {"another terminal", [](SessionScope *s) { s->terminal += 1; }, written, false},
      {"no terminal", [](SessionScope *s) { s->terminal = 0; }, written, false},
      {"another session", [](SessionScope *s) { s->session += 1; }, written, false},
      {"a new login in the same session id",
       [](SessionScope *s) { s->leaderStartTime += 1; }, written, false},
      {"another boot", [](SessionScope *s) { s->bootId.bytes[7] ^= 1; }, written, false},
  };
  for (const Case &c : cases) {
    SessionScope asking = Scope();
    c.change(&asking);
    EXPECT_EQ(RecordGrants(Granted(written), asking, c.now), c.grants) << c.what;
  }
  TimestampRecord revoked = Granted(written);
  revoked.result = TimestampResult::kRevoked;
  EXPECT_FALSE(RecordGrants(revoked, Scope(), written)) << "a revoked record";
}

}  // namespace
}  // namespace tolvan::auth
