#include "app/value_parsing.hpp"

#include <strings.h>

#include <cstdint>
#include <vector>

#include "platform/cf/cf_data.h"
#include "platform/cf/cf_number.h"
#include "platform/cf/cf_string.h"
#include "platform/cf/iso8601_date.hpp"
#include "platform/cf/number_text.hpp"

namespace tolvan::app {
namespace {

CFRef<CFPropertyListRef> ParseString(const std::string &text, std::string *error) {
  auto value = CFRef<CFPropertyListRef>::Adopt(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(text.data()),
                              static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
  if (!value) *error = "the string is not valid UTF-8";
  return value;
}

CFRef<CFPropertyListRef> ParseInteger(const std::string &text, std::string *error) {
  int64_t number;
  if (!tolvan::ParseInteger(text.data(), text.size(), &number)) {
    *error = "not an integer in the 64-bit range: " + text;
    return {};
  }
  return CFRef<CFPropertyListRef>::Adopt(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &number));
}

CFRef<CFPropertyListRef> ParseReal(const std::string &text, std::string *error) {
  double number;
  if (!tolvan::ParseReal(text.data(), text.size(), &number)) {
    *error = "not a real number: " + text;
    return {};
  }
  return CFRef<CFPropertyListRef>::Adopt(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &number));
}

CFRef<CFPropertyListRef> ParseBoolean(const std::string &text, std::string *error) {
  static const char *const kTrueWords[] = {"true", "yes", "1"};
  static const char *const kFalseWords[] = {"false", "no", "0"};
  for (const char *word : kTrueWords) {
    if (strcasecmp(text.c_str(), word) == 0) return CFRef<CFPropertyListRef>::Retain(kCFBooleanTrue);
  }
  for (const char *word : kFalseWords) {
    if (strcasecmp(text.c_str(), word) == 0) return CFRef<CFPropertyListRef>::Retain(kCFBooleanFalse);
  }
  *error = "not a boolean (true/false, yes/no, 1/0): " + text;
  return {};
}

CFRef<CFPropertyListRef> ParseDate(const std::string &text, std::string *error) {
  CFAbsoluteTime at;
  // The one form property lists store, so that what is written reads back
  // exactly; ParseIso8601Date also allows XML whitespace, which a user
  // never means.
  bool plain = text.size() == kIso8601DateLength;
  if (!plain || !ParseIso8601Date(text.data(), text.size(), &at)) {
    *error = "not a date of the form YYYY-MM-DDTHH:MM:SSZ (UTC): " + text;
    return {};
  }
  return CFRef<CFPropertyListRef>::Adopt(CFDateCreate(kCFAllocatorDefault, at));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal, as `read` shows data, so that its output can be typed back.
CFRef<CFPropertyListRef> ParseData(const std::string &text, std::string *error) {
  std::vector<UInt8> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    int high = HexDigit(text[i]);
    int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) break;
    bytes.push_back(static_cast<UInt8>(high << 4 | low));
  }
  if (bytes.size() * 2 != text.size()) {
    *error = "not data as an even number of hexadecimal digits: " + text;
    return {};
  }
  return CFRef<CFPropertyListRef>::Adopt(
      CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size())));
}

CFRef<CFPropertyListRef> ParseTyped(ValueType type, const std::string &text, std::string *error) {
  switch (type) {
    case ValueType::kString: return ParseString(text, error);
    case ValueType::kInteger: return ParseInteger(text, error);
    case ValueType::kReal: return ParseReal(text, error);
    case ValueType::kBoolean: return ParseBoolean(text, error);
    case ValueType::kDate: return ParseDate(text, error);
    case ValueType::kData: return ParseData(text, error);
  }
  return {};
}

}  // namespace

CFRef<CFPropertyListRef> ParseValue(ValueType type, const std::string &text, std::string *error) {
  error->clear();
  CFRef<CFPropertyListRef> value = ParseTyped(type, text, error);
  if (!value && error->empty()) *error = "out of memory";
  return value;
}

}  // namespace tolvan::app
