// Building property lists in tests in one expression, and turning XML text
// into data and back.
#ifndef TOLVAN_TESTS_CF_PROPERTY_LIST_VALUES_HPP
#define TOLVAN_TESTS_CF_PROPERTY_LIST_VALUES_HPP

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan::test {

using Value = CFRef<CFTypeRef>;

inline Value Str(const std::string &utf8) {
  return Value::Adopt(CFStringCreateWithBytes(nullptr,
                                              reinterpret_cast<const UInt8 *>(utf8.data()),
                                              static_cast<CFIndex>(utf8.size()),
                                              kCFStringEncodingUTF8, FALSE));
}

inline Value Utf16(const std::vector<UniChar> &units) {
  return Value::Adopt(
      CFStringCreateWithCharacters(nullptr, units.data(), static_cast<CFIndex>(units.size())));
}

inline Value Int(int64_t value) {
  return Value::Adopt(CFNumberCreate(nullptr, kCFNumberSInt64Type, &value));
}

inline Value Real(double value) {
  return Value::Adopt(CFNumberCreate(nullptr, kCFNumberFloat64Type, &value));
}

inline Value Bool(bool value) { return Value::Retain(value ? kCFBooleanTrue : kCFBooleanFalse); }

// Seconds since 1970, the easiest to check against other tools.
inline Value DateAtUnix(double seconds) {
  return Value::Adopt(CFDateCreate(nullptr, seconds - kCFAbsoluteTimeIntervalSince1970));
}

inline Value Bytes(const std::string &bytes) {
  return Value::Adopt(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                   static_cast<CFIndex>(bytes.size())));
}

inline Value ArrayOf(const std::vector<Value> &items) {
  std::vector<const void *> values;
  for (const Value &item : items) values.push_back(item.get());
  return Value::Adopt(CFArrayCreate(nullptr, values.data(), static_cast<CFIndex>(values.size()),
                                    &kCFTypeArrayCallBacks));
}

inline Value Array(std::initializer_list<Value> items) { return ArrayOf(items); }

inline Value Dict(std::initializer_list<std::pair<std::string, Value>> pairs) {
  std::vector<Value> keys;
  std::vector<const void *> key_refs, value_refs;
  for (const auto &[key, value] : pairs) {
    keys.push_back(Str(key));
    key_refs.push_back(keys.back().get());
    value_refs.push_back(value.get());
  }
  return Value::Adopt(CFDictionaryCreate(nullptr, key_refs.data(), value_refs.data(),
                                         static_cast<CFIndex>(pairs.size()),
                                         &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks));
}

// count arrays, each the only element of the one around it.
inline Value NestedArrays(int count, Value innermost = Value()) {
  Value value = std::move(innermost);
  for (int i = 0; i < count; ++i) {
    if (value) {
      value = Array({value});
    } else {
      value = Array({});
    }
  }
  return value;
}

inline CFRef<CFDataRef> DataOf(const std::string &text) {
  return CFRef<CFDataRef>::Adopt(CFDataCreate(nullptr,
                                              reinterpret_cast<const UInt8 *>(text.data()),
                                              static_cast<CFIndex>(text.size())));
}

inline std::string TextOf(CFDataRef data) {
  if (data == nullptr) return "<null>";
  return std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                     static_cast<size_t>(CFDataGetLength(data)));
}

inline std::string Utf8Of(CFStringRef string) {
  if (string == nullptr) return "<null>";
  const CFIndex length = CFStringGetLength(string);
  std::string out(static_cast<size_t>(CFStringGetMaximumSizeForEncoding(length,
                                                                        kCFStringEncodingUTF8)),
                  '\0');
  CFIndex used = 0;
  CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', FALSE,
                   reinterpret_cast<UInt8 *>(out.data()), static_cast<CFIndex>(out.size()), &used);
  out.resize(static_cast<size_t>(used));
  return out;
}

inline std::string Describe(CFTypeRef value) {
  if (value == nullptr) return "<null>";
  auto description = CFRef<CFStringRef>::Adopt(CFCopyDescription(value));
  return Utf8Of(description.get());
}

inline Value Parse(const std::string &text,
                   CFOptionFlags mutability = kCFPropertyListImmutable) {
  auto data = DataOf(text);
  return Value::Adopt(CFPropertyListCreateFromXMLData(nullptr, data.get(), mutability, nullptr));
}

inline std::string Write(CFTypeRef value) {
  auto data = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(nullptr, value));
  return TextOf(data.get());
}

// CFEqual, but reals must also agree in sign (so -0.0 stays -0.0) and a NaN
// equals a NaN, which is what "reads back as written" means for a real.
inline bool SameValue(CFTypeRef a, CFTypeRef b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (CFGetTypeID(a) != CFGetTypeID(b)) return false;
  const CFTypeID type = CFGetTypeID(a);
  if (type == CFNumberGetTypeID()) {
    auto na = static_cast<CFNumberRef>(a), nb = static_cast<CFNumberRef>(b);
    if (CFNumberIsFloatType(na) != CFNumberIsFloatType(nb)) return false;
    if (!CFNumberIsFloatType(na)) return CFEqual(a, b);
    double x = 0, y = 0;
    CFNumberGetValue(na, kCFNumberFloat64Type, &x);
    CFNumberGetValue(nb, kCFNumberFloat64Type, &y);
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
    return x == y && std::signbit(x) == std::signbit(y);
  }
  if (type == CFArrayGetTypeID()) {
    auto aa = static_cast<CFArrayRef>(a), ab = static_cast<CFArrayRef>(b);
    if (CFArrayGetCount(aa) != CFArrayGetCount(ab)) return false;
    for (CFIndex i = 0; i < CFArrayGetCount(aa); ++i) {
      if (!SameValue(CFArrayGetValueAtIndex(aa, i), CFArrayGetValueAtIndex(ab, i))) return false;
    }
    return true;
  }
  if (type == CFDictionaryGetTypeID()) {
    auto da = static_cast<CFDictionaryRef>(a), db = static_cast<CFDictionaryRef>(b);
    const CFIndex count = CFDictionaryGetCount(da);
    if (count != CFDictionaryGetCount(db)) return false;
    std::vector<const void *> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(da, keys.data(), values.data());
    for (CFIndex i = 0; i < count; ++i) {
      const void *other = nullptr;
      if (!CFDictionaryGetValueIfPresent(db, keys[static_cast<size_t>(i)], &other)) return false;
      if (!SameValue(values[static_cast<size_t>(i)], other)) return false;
    }
    return true;
  }
  return CFEqual(a, b);
}

}  // namespace tolvan::test

#endif
