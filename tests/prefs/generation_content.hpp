// The content the crash and fault tests save: generation N is a number and
// a payload derived from N, so a file that holds one of them whole can be
// told from a mix or a torn write. Shared with the saver helper program,
// hence no test framework here.
#ifndef TOLVAN_TESTS_PREFS_GENERATION_CONTENT_HPP
#define TOLVAN_TESTS_PREFS_GENERATION_CONTENT_HPP

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/prefs/staged_changes.hpp"

namespace tolvan::prefs::test {

inline constexpr char kTestAppID[] = "org.tolvan.test.prefs";

inline CFRef<CFStringRef> GenerationPayload(int64_t generation, size_t size) {
  std::string text(size, static_cast<char>('a' + generation % 26));
  text += std::to_string(generation);
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

inline CFRef<CFStringRef> GenerationKey(const char *key) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, key, kCFStringEncodingUTF8));
}

inline bool StageGeneration(int64_t generation, size_t payload_size, StagedChanges *changes) {
  auto number = CFRef<CFNumberRef>::Adopt(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &generation));
  auto payload = GenerationPayload(generation, payload_size);
  return number && payload && changes->Stage(GenerationKey("generation").get(), number.get()) &&
         changes->Stage(GenerationKey("payload").get(), payload.get());
}

// The generation a saved dictionary holds when it is exactly one whole
// generation, else -1.
inline int64_t GenerationIn(CFDictionaryRef saved, size_t payload_size) {
  if (saved == nullptr || CFDictionaryGetCount(saved) != 2) return -1;
  CFTypeRef number = CFDictionaryGetValue(saved, GenerationKey("generation").get());
  int64_t generation = -1;
  if (number == nullptr || CFGetTypeID(number) != CFNumberGetTypeID() ||
      !CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt64Type, &generation)) {
    return -1;
  }
  CFTypeRef payload = CFDictionaryGetValue(saved, GenerationKey("payload").get());
  if (!CFEqual(payload, GenerationPayload(generation, payload_size).get())) return -1;
  return generation;
}

}  // namespace tolvan::prefs::test

#endif
