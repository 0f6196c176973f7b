// The text forms of leaf values in XML property lists: integers, reals,
// dates, base64 and the XML character checks.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cf/base64.hpp"
#include "platform/cf/iso8601_date.hpp"
#include "platform/cf/number_text.hpp"
#include "platform/cf/xml_chars.hpp"

namespace tolvan {
namespace {

std::string FormatRealText(double value) {
  char text[kNumberTextCapacity];
  return std::string(text, FormatReal(value, text));
}

bool ParseIntegerText(const std::string &text, int64_t *value) {
  return ParseInteger(text.data(), text.size(), value);
}

bool ParseRealText(const std::string &text, double *value) {
  return ParseReal(text.data(), text.size(), value);
}

TEST(IntegerText, ReadsDecimalAndHexWithinSigned64Bits) {
  const struct {
    const char *text;
    int64_t value;
  } cases[] = {
      {"0", 0},
      {"-0", 0},
      {"+17", 17},
      {"0042", 42},
      {" \t\n42\r\n", 42},
      {"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
      {"0x7fffffffffffffff", std::numeric_limits<int64_t>::max()},
      {"0XFF", 255},
      {"-0x8000000000000000", std::numeric_limits<int64_t>::min()},
  };
  for (const auto &c : cases) {
    int64_t value = 1;
    EXPECT_TRUE(ParseIntegerText(c.text, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(IntegerText, RefusesMalformedAndOutOfRange) {
  for (const char *text :
       {"", " ", "-", "+", "--1", "+-1", "-+1", "1 2", "1.0", "1e3", "0x", "0x-1", "0x+1",
        "0xg", "12a", "9223372036854775808", "-9223372036854775809", "18446744073709551615",
        "0x8000000000000000", "99999999999999999999999", "\xC2\xA0" "1"}) {
    int64_t value = 7;
    EXPECT_FALSE(ParseIntegerText(text, &value)) << text;
  }
}

TEST(IntegerText, WritesPlainDecimal) {
  for (int64_t value : {int64_t{0}, int64_t{-1}, std::numeric_limits<int64_t>::max(),
                        std::numeric_limits<int64_t>::min()}) {
    char text[kNumberTextCapacity];
    EXPECT_EQ(std::string(text, FormatInteger(value, text)), std::to_string(value));
  }
}

// Each expected text is what Python's repr() gives, which is what plistlib
// writes.
TEST(RealText, WritesTheShortestFormLaidOutAsPythonDoes) {
  const struct {
    double value;
    const char *text;
  } cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {0.1, "0.1"},
      {100.0, "100.0"},
      {1e15, "1000000000000000.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e+16"},
      {1.2345678901234568e+17, "1.2345678901234568e+17"},
      {1e22, "1e+22"},
      {1e100, "1e+100"},
      {0.0001, "0.0001"},
      {1e-05, "1e-05"},
      {1.5e-05, "1.5e-05"},
      {5e-324, "5e-324"},
      {1.7976931348623157e+308, "1.7976931348623157e+308"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {3.141592653589793, "3.141592653589793"},
      {-2.5e-300, "-2.5e-300"},
      {0.30000000000000004, "0.30000000000000004"},
      {std::numeric_limits<double>::infinity(), "+infinity"},
      {-std::numeric_limits<double>::infinity(), "-infinity"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const auto &c : cases) EXPECT_EQ(FormatRealText(c.value), c.text);
}

TEST(RealText, EveryFiniteDoubleReadsBackBitForBit) {
  std::mt19937_64 random(20261211);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = FormatRealText(value);
    double back = 0;
    ASSERT_TRUE(ParseRealText(text, &back)) << text;
    uint64_t back_bits;
    std::memcpy(&back_bits, &back, sizeof back);
    ASSERT_EQ(back_bits, bits) << text;
  }
}

TEST(RealText, ReadsWhatOtherWritersWrite) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char *text;
    double value;
  } cases[] = {
      {"1", 1.0},           {"1.", 1.0},        {".5", 0.5},
      {"+2.5", 2.5},        {"-0.0", -0.0},     {"1E3", 1000.0},
      {"1e-07", 1e-7},      {" 3.25\n", 3.25},  {"4.9406564584124654e-324", 5e-324},
      {"inf", inf},         {"-inf", -inf},     {"+infinity", inf},
      {"-Infinity", -inf},  {"INF", inf},
  };
  for (const auto &c : cases) {
    double value = 0;
    EXPECT_TRUE(ParseRealText(c.text, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
  }
  double value = 0;
  EXPECT_TRUE(ParseRealText("nan", &value));
  EXPECT_TRUE(std::isnan(value));
  EXPECT_TRUE(ParseRealText("-NaN", &value));
  EXPECT_TRUE(std::isnan(value));
}

TEST(RealText, RefusesMalformedAndUnrepresentable) {
  for (const char *text : {"", "-", "+", "e5", "1e", "1e+", "1.2.3", "--1", "+-1", "0x1p3",
                           "nan(1)", "infinit", "1,5", "1 5", "1e400", "-1e400", "1e-400"}) {
    double value = 7;
    EXPECT_FALSE(ParseRealText(text, &value)) << text;
  }
}

std::string FormatDate(CFAbsoluteTime at) {
  char text[kIso8601DateLength];
  if (!FormatIso8601Date(at, text)) return "refused";
  return std::string(text, sizeof text);
}

constexpr double kUnixEpoch = -kCFAbsoluteTimeIntervalSince1970;

TEST(DateText, WritesWholeUtcSeconds) {
  const struct {
    CFAbsoluteTime at;
    const char *text;
  } cases[] = {
      {0, "2001-01-01T00:00:00Z"},
      {kUnixEpoch, "1970-01-01T00:00:00Z"},
      {kUnixEpoch + 1796980217, "2026-12-11T09:10:17Z"},
      {kUnixEpoch + 1796980217.999, "2026-12-11T09:10:17Z"},
      {-0.5, "2000-12-31T23:59:59Z"},
      {kUnixEpoch + 951782400, "2000-02-29T00:00:00Z"},
      {kUnixEpoch - 62135596800.0, "0001-01-01T00:00:00Z"},
      {kUnixEpoch + 253402300799.0, "9999-12-31T23:59:59Z"},
      {kUnixEpoch + 253402300800.0, "refused"},
      {kUnixEpoch - 62135596801.0, "refused"},
      {std::numeric_limits<double>::quiet_NaN(), "refused"},
      {std::numeric_limits<double>::infinity(), "refused"},
  };
  for (const auto &c : cases) EXPECT_EQ(FormatDate(c.at), c.text) << c.at;
}

TEST(DateText, ReadsBackWhatItWrites) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> seconds(-62135596800, 253402300799);
  for (int i = 0; i < 20000; ++i) {
    const double at = static_cast<double>(seconds(random)) + kUnixEpoch;
    const std::string text = FormatDate(at);
    CFAbsoluteTime back = 0;
    ASSERT_TRUE(ParseIso8601Date(text.data(), text.size(), &back)) << text;
    ASSERT_EQ(back, at) << text;
  }
}

TEST(DateText, RefusesMalformedAndOutOfRangeFields) {
  for (const char *text :
       {"", "2026-12-11", "2026-12-11T09:10:17", "2026-12-11T09:10:17+00:00",
        "2026-12-11T09:10:17.5Z", "2026-12-11 09:10:17Z", "0000-01-01T00:00:00Z",
        "2026-00-11T09:10:17Z", "2026-13-11T09:10:17Z", "2026-12-00T09:10:17Z",
        "2026-12-32T09:10:17Z", "2026-02-29T00:00:00Z", "1900-02-29T00:00:00Z",
        "2026-12-11T24:00:00Z", "2026-12-11T09:60:00Z", "2026-12-11T09:10:60Z",
        "2026-1a-11T09:10:17Z", "+026-12-11T09:10:17Z", "2026-12-11T09:10:17z"}) {
    CFAbsoluteTime at = 0;
    EXPECT_FALSE(ParseIso8601Date(text, std::strlen(text), &at)) << text;
  }
  CFAbsoluteTime at = 0;
  EXPECT_TRUE(ParseIso8601Date(" 2000-02-29T00:00:00Z\n", 22, &at));
}

std::string Encode(const std::vector<uint8_t> &bytes) {
  std::string text(Base64EncodedLength(bytes.size()), '?');
  Base64Encode(bytes.data(), bytes.size(), text.data());
  return text;
}

bool Decode(const std::string &text, std::vector<uint8_t> *bytes) {
  bytes->assign(Base64DecodedCapacity(text.size()), 0);
  size_t length = 0;
  if (!Base64Decode(text.data(), text.size(), bytes->data(), &length)) return false;
  bytes->resize(length);
  return true;
}

TEST(Base64, EncodesWithPaddingAndDecodesBackForEveryLength) {
  EXPECT_EQ(Encode({}), "");
  EXPECT_EQ(Encode({'f'}), "Zg==");
  EXPECT_EQ(Encode({'f', 'o'}), "Zm8=");
  EXPECT_EQ(Encode({'f', 'o', 'o'}), "Zm9v");
  EXPECT_EQ(Encode({0xFB, 0xFF, 0xBF}), "+/+/");
  for (size_t length = 0; length <= 100; ++length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    std::vector<uint8_t> back;
    ASSERT_TRUE(Decode(Encode(bytes), &back)) << length;
    EXPECT_EQ(back, bytes) << length;
  }
}

TEST(Base64, DecodingSkipsXmlWhitespaceAnywhere) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(Decode("\n\t\tZm9v\n\t\tYm\r\n Fy\t", &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "foobar");
  ASSERT_TRUE(Decode("Zg =\n=", &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "f");
  ASSERT_TRUE(Decode(" \n ", &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(Base64, RefusesBadAlphabetAndPadding) {
  for (const char *text : {"Zg", "Zm8", "Z", "Zg=", "Z===", "====", "Zg===", "Zm9v=",
                           "Zg==Zg==", "Zg==x", "Zm9v!", "Zm9v\x0b", "Zm-v", "Zm_v",
                           "Zm9v\xC3\xA9", "=Zg="}) {
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(Decode(text, &bytes)) << text;
  }
}

size_t FirstInvalid(const std::string &text) {
  return FindInvalidXmlText(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

TEST(XmlChars, FindsTheFirstByteThatIsNotAnXmlCharacter) {
  const std::string ascii = "<plist>\t\r\n all printable ASCII ~\x7f</plist>";
  EXPECT_EQ(FirstInvalid(ascii), ascii.size());
  const std::string good = "e\xC3\xA9 \xE2\x82\xAC \xEF\xBF\xBD \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
  EXPECT_EQ(FirstInvalid(good), good.size());
  const struct {
    std::string text;
    size_t offset;
  } cases[] = {
      {std::string("abcdefghij\0klm", 14), 10},  // NUL, past the 8-byte fast path
      {"abc\x01", 3},
      {"0123456789abcdef\x1f", 16},
      {"ab\x80", 2},                      // continuation without a lead
      {"ab\xC3", 2},                      // truncated
      {"ab\xC0\xAF", 2},                  // overlong '/'
      {"ab\xE0\x80\xAF", 2},              // overlong, three bytes
      {"ab\xED\xA0\x80", 2},              // a surrogate
      {"ab\xEF\xBF\xBE", 2},              // U+FFFE
      {"ab\xEF\xBF\xBF", 2},              // U+FFFF
      {"ab\xF4\x90\x80\x80", 2},          // beyond U+10FFFF
      {"ab\xF8\x88\x80\x80\x80", 2},      // five-byte form
      {"ab\xC3\xA9\xC3", 4},
  };
  for (const auto &c : cases) EXPECT_EQ(FirstInvalid(c.text), c.offset) << c.offset;
}

TEST(XmlChars, EncodesEveryXmlCharacterAsUtf8ThatValidates) {
  for (uint32_t code_point : {0x9u, 0x41u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u,
                              0xFFFDu, 0x10000u, 0x1F600u, 0x10FFFFu}) {
    char utf8[4];
    const size_t length = EncodeUtf8(code_point, utf8);
    EXPECT_EQ(FirstInvalid(std::string(utf8, length)), length) << code_point;
  }
  EXPECT_FALSE(IsXmlChar(0));
  EXPECT_FALSE(IsXmlChar(0xD800));
  EXPECT_FALSE(IsXmlChar(0xFFFE));
  EXPECT_FALSE(IsXmlChar(0x110000));
}

}  // namespace
}  // namespace tolvan
