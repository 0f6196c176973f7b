#include "platform/cf/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "platform/cf/xml_chars.hpp"

namespace tolvan {
namespace {

struct SignedText {
  bool negative = false;
  const char *digits = nullptr;
  size_t length = 0;
};

SignedText SplitSign(const char *text, size_t length) {
  TrimXmlWhitespace(text, length);
  SignedText result;
  if (length > 0 && (text[0] == '-' || text[0] == '+')) {
    result.negative = text[0] == '-';
    ++text;
    --length;
  }
  result.digits = text;
  result.length = length;
  return result;
}

// The magnitude is parsed as unsigned so that the most negative value,
// whose magnitude has no signed counterpart, still fits. Decimal, by far
// the common case, gets a plain loop.
bool ParseMagnitude(const char *digits, size_t length, int base, uint64_t *magnitude) {
  if (length == 0) return false;
  if (base == 10) {
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
      const auto digit = static_cast<unsigned>(digits[i] - '0');
      if (digit > 9 || __builtin_mul_overflow(value, 10, &value) ||
          __builtin_add_overflow(value, digit, &value)) {
        return false;
      }
    }
    *magnitude = value;
    return true;
  }
  const char *end = digits + length;
  auto [stop, error] = std::from_chars(digits, end, *magnitude, base);
  return error == std::errc() && stop == end;
}

}  // namespace

bool ParseInteger(const char *text, size_t length, int64_t *value) {
  const SignedText parts = SplitSign(text, length);
  const char *digits = parts.digits;
  size_t count = parts.length;
  int base = 10;
  if (count > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits += 2;
    count -= 2;
  }
  // from_chars would take a second sign; only digits may follow ours.
  if (count == 0 || digits[0] == '-' || digits[0] == '+') return false;
  uint64_t magnitude = 0;
  if (!ParseMagnitude(digits, count, base, &magnitude)) return false;
  constexpr uint64_t kMaxPositive = std::numeric_limits<int64_t>::max();
  if (parts.negative) {
    if (magnitude > kMaxPositive + 1) return false;
    *value = static_cast<int64_t>(0 - magnitude);
  } else {
    if (magnitude > kMaxPositive) return false;
    *value = static_cast<int64_t>(magnitude);
  }
  return true;
}

size_t FormatInteger(int64_t value, char *out) {
  auto result = std::to_chars(out, out + kNumberTextCapacity, value);
  return static_cast<size_t>(result.ptr - out);
}

bool ParseReal(const char *text, size_t length, double *value) {
  const SignedText parts = SplitSign(text, length);
  if (parts.length == 0) return false;
  double magnitude;
  const char first = parts.digits[0];
  if ((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z')) {
    if (EqualsIgnoringAsciiCase(parts.digits, parts.length, "nan")) {
      magnitude = std::numeric_limits<double>::quiet_NaN();
    } else if (EqualsIgnoringAsciiCase(parts.digits, parts.length, "inf") ||
               EqualsIgnoringAsciiCase(parts.digits, parts.length, "infinity")) {
      magnitude = std::numeric_limits<double>::infinity();
    } else {
      return false;
    }
  } else {
    if (!((first >= '0' && first <= '9') || first == '.')) return false;
    const char *end = parts.digits + parts.length;
    auto [stop, error] = std::from_chars(parts.digits, end, magnitude, std::chars_format::general);
    if (error != std::errc() || stop != end) return false;
  }
  *value = parts.negative ? -magnitude : magnitude;
  return true;
}

namespace {

// Lays out the shortest digits the way Python's repr() does: positional
// notation for decimal exponents from -4 to 15, scientific otherwise, and
// ".0" after an integral positional value.
size_t LayOutReal(bool negative, const char *digits, size_t digit_count, int exponent,
                  char *out) {
  char *p = out;
  if (negative) *p++ = '-';
  if (exponent >= -4 && exponent < 16) {
    if (exponent < 0) {
      *p++ = '0';
      *p++ = '.';
      for (int i = -1; i > exponent; --i) *p++ = '0';
      std::memcpy(p, digits, digit_count);
      p += digit_count;
    } else {
      const size_t integral = static_cast<size_t>(exponent) + 1;
      for (size_t i = 0; i < integral; ++i) *p++ = i < digit_count ? digits[i] : '0';
      *p++ = '.';
      if (digit_count > integral) {
        std::memcpy(p, digits + integral, digit_count - integral);
        p += digit_count - integral;
      } else {
        *p++ = '0';
      }
    }
    return static_cast<size_t>(p - out);
  }
  *p++ = digits[0];
  if (digit_count > 1) {
    *p++ = '.';
    std::memcpy(p, digits + 1, digit_count - 1);
    p += digit_count - 1;
  }
  *p++ = 'e';
  *p++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) *p++ = '0';
  p = std::to_chars(p, out + kNumberTextCapacity, magnitude).ptr;
  return static_cast<size_t>(p - out);
}

size_t CopyWord(const char *word, char *out) {
  const size_t length = std::strlen(word);
  std::memcpy(out, word, length);
  return length;
}

}  // namespace

size_t FormatReal(double value, char *out) {
  if (std::isnan(value)) return CopyWord("nan", out);
  if (std::isinf(value)) return CopyWord(value > 0 ? "+infinity" : "-infinity", out);
  // The scientific form yields the shortest round-trip digits and the
  // decimal exponent in one step: "d.ddde+XX".
  char scientific[kNumberTextCapacity];
  const double magnitude = std::fabs(value);
  char *end = std::to_chars(scientific, scientific + sizeof scientific, magnitude,
                            std::chars_format::scientific)
                  .ptr;
  char digits[kNumberTextCapacity];
  size_t digit_count = 0;
  const char *p = scientific;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') digits[digit_count++] = *p;
  }
  int exponent = 0;
  ++p;  // the 'e'
  if (*p == '+') ++p;
  std::from_chars(p, end, exponent);
  return LayOutReal(std::signbit(value), digits, digit_count, exponent, out);
}

}  // namespace tolvan
