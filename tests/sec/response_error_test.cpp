#include "sec/response_error.h"

#include <cstdint>
#include <ostream>

#include "gtest/gtest.h"
#include "sec/reserved_keys.h"
#include "tests/cf/property_list_values.hpp"

namespace {

using tolvan::test::Dict;
using tolvan::test::Int;
using tolvan::test::Value;

constexpr char kStatusKey[] = kTolvanSecErrorNumberKeyString;

struct ResponseCase {
  const char *name;
  Value (*reply)();
  OSStatus expected;
};

void PrintTo(const ResponseCase &c, std::ostream *out) { *out << c.name; }

class ErrorFromResponse : public testing::TestWithParam<ResponseCase> {};

TEST_P(ErrorFromResponse, ReadsTheStatus) {
  const ResponseCase &c = GetParam();
  Value reply = c.reply();
  EXPECT_EQ(TolvanSecGetErrorFromResponse(static_cast<CFDictionaryRef>(reply.get())), c.expected);
}

Value SInt32Number(int32_t value) {
  return Value::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorFromResponse,
    testing::Values(
        ResponseCase{"Zero", [] { return Dict({{kStatusKey, SInt32Number(0)}}); }, 0},
        ResponseCase{"Cancelled", [] { return Dict({{kStatusKey, SInt32Number(-60006)}}); },
                     -60006},
        ResponseCase{"Errno", [] { return Dict({{kStatusKey, Int(32)}, {"x", Int(1)}}); }, 32},
        ResponseCase{"Smallest", [] { return Dict({{kStatusKey, Int(INT32_MIN)}}); }, INT32_MIN},
        ResponseCase{"Largest", [] { return Dict({{kStatusKey, Int(INT32_MAX)}}); }, INT32_MAX},
        ResponseCase{"IntegralReal", [] { return Dict({{kStatusKey, tolvan::test::Real(-50)}}); },
                     -50},
        ResponseCase{"Absent", [] { return Dict({{"other", Int(5)}}); },
                     coreFoundationUnknownErr},
        ResponseCase{"AboveSigned32",
                     [] { return Dict({{kStatusKey, Int(int64_t{INT32_MAX} + 1)}}); },
                     coreFoundationUnknownErr},
        ResponseCase{"BelowSigned32",
                     [] { return Dict({{kStatusKey, Int(int64_t{INT32_MIN} - 1)}}); },
                     coreFoundationUnknownErr},
        ResponseCase{"FractionalReal", [] { return Dict({{kStatusKey, tolvan::test::Real(1.5)}}); },
                     coreFoundationUnknownErr},
        ResponseCase{"String", [] { return Dict({{kStatusKey, tolvan::test::Str("0")}}); },
                     coreFoundationUnknownErr},
        ResponseCase{"Boolean", [] { return Dict({{kStatusKey, tolvan::test::Bool(false)}}); },
                     coreFoundationUnknownErr},
        ResponseCase{"NestedNotTopLevel",
                     [] { return Dict({{"inner", Dict({{kStatusKey, Int(0)}})}}); },
                     coreFoundationUnknownErr},
        ResponseCase{"NullReply", [] { return Value(); }, coreFoundationUnknownErr}),
    [](const testing::TestParamInfo<ResponseCase> &param) { return param.param.name; });

}  // namespace
