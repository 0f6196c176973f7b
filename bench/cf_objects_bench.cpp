// The object operations a property-list reader and writer lean on: strings
// from UTF-8, numbers, dictionaries built in one call or key by key,
// lookups, and UTF-8 out of strings.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/cf/cf.h"

namespace {

std::vector<std::string> KeyTexts(int count) {
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.push_back("preference-key-" + std::to_string(i));
  std::sort(texts.begin(), texts.end());
  return texts;
}

std::vector<CFStringRef> MakeStrings(const std::vector<std::string> &texts) {
  std::vector<CFStringRef> strings;
  for (const std::string &text : texts) {
    strings.push_back(CFStringCreateWithBytes(kCFAllocatorDefault,
                                              reinterpret_cast<const UInt8 *>(text.data()),
                                              static_cast<CFIndex>(text.size()),
                                              kCFStringEncodingUTF8, false));
  }
  return strings;
}

void ReleaseAll(const std::vector<CFStringRef> &objects) {
  for (CFStringRef object : objects) CFRelease(object);
}

void StringFromUTF8(benchmark::State &state, const std::string &text) {
  for (auto _ : state) {
    CFStringRef string = CFStringCreateWithBytes(kCFAllocatorDefault,
                                                 reinterpret_cast<const UInt8 *>(text.data()),
                                                 static_cast<CFIndex>(text.size()),
                                                 kCFStringEncodingUTF8, false);
    benchmark::DoNotOptimize(string);
    CFRelease(string);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(StringFromUTF8, ascii_16, std::string("preference-key-1"));
BENCHMARK_CAPTURE(StringFromUTF8, ascii_200, std::string(200, 'a'));
BENCHMARK_CAPTURE(StringFromUTF8, latin1_200, [] {
  std::string text;
  while (text.size() < 200) text += "caf\xC3\xA9 ";
  return text;
}());
BENCHMARK_CAPTURE(StringFromUTF8, mixed_200, [] {
  std::string text;
  while (text.size() < 200) text += "abc\xE2\x82\xAC\xF0\x9F\x98\x80";
  return text;
}());

void StringToUTF8(benchmark::State &state, const std::string &text) {
  CFStringRef string = CFStringCreateWithBytes(kCFAllocatorDefault,
                                               reinterpret_cast<const UInt8 *>(text.data()),
                                               static_cast<CFIndex>(text.size()),
                                               kCFStringEncodingUTF8, false);
  std::vector<UInt8> buffer(text.size() * 3);
  for (auto _ : state) {
    CFIndex used = 0;
    CFStringGetBytes(string, CFRangeMake(0, CFStringGetLength(string)), kCFStringEncodingUTF8, 0,
                     false, buffer.data(), static_cast<CFIndex>(buffer.size()), &used);
    benchmark::DoNotOptimize(used);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  CFRelease(string);
}
BENCHMARK_CAPTURE(StringToUTF8, ascii_200, std::string(200, 'a'));
BENCHMARK_CAPTURE(StringToUTF8, latin1_200, std::string(196, 'a') + "\xC3\xA9\xC3\xA9");
BENCHMARK_CAPTURE(StringToUTF8, mixed_200, [] {
  std::string text;
  while (text.size() < 200) text += "abc\xE2\x82\xAC\xF0\x9F\x98\x80";
  return text;
}());

void NumberCreate(benchmark::State &state) {
  int64_t value = 1234567;
  for (auto _ : state) {
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value);
    benchmark::DoNotOptimize(number);
    CFRelease(number);
  }
}
BENCHMARK(NumberCreate);

// CFDictionaryCreate of 20,000 string keys, in order (as a parsed document
// holds them) and shuffled.
void DictionaryCreate(benchmark::State &state) {
  std::vector<std::string> texts = KeyTexts(20000);
  if (state.range(0) != 0) std::shuffle(texts.begin(), texts.end(), std::mt19937(3));
  std::vector<CFStringRef> keys = MakeStrings(texts);
  std::vector<const void *> values(keys.size(), kCFBooleanTrue);
  for (auto _ : state) {
    CFDictionaryRef dict = CFDictionaryCreate(
        kCFAllocatorDefault, reinterpret_cast<const void **>(keys.data()), values.data(),
        static_cast<CFIndex>(keys.size()), &kCFTypeDictionaryKeyCallBacks,
        &kCFTypeDictionaryValueCallBacks);
    benchmark::DoNotOptimize(dict);
    CFRelease(dict);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
  ReleaseAll(keys);
}
BENCHMARK(DictionaryCreate)->Arg(0)->Arg(1)->ArgName("shuffled");

// 20,000 CFDictionarySetValue calls into a new mutable dictionary, then one
// enumeration (which orders the entries).
void DictionarySetValues(benchmark::State &state) {
  std::vector<std::string> texts = KeyTexts(20000);
  if (state.range(0) != 0) std::shuffle(texts.begin(), texts.end(), std::mt19937(3));
  std::vector<CFStringRef> keys = MakeStrings(texts);
  std::vector<const void *> listed(keys.size());
  for (auto _ : state) {
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (CFStringRef key : keys) CFDictionarySetValue(dict, key, kCFBooleanTrue);
    CFDictionaryGetKeysAndValues(dict, listed.data(), nullptr);
    CFRelease(dict);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
  ReleaseAll(keys);
}
BENCHMARK(DictionarySetValues)->Arg(0)->Arg(1)->ArgName("shuffled");

void DictionaryLookup(benchmark::State &state) {
  std::vector<CFStringRef> keys = MakeStrings(KeyTexts(20000));
  std::vector<CFStringRef> probes = MakeStrings(KeyTexts(20000));  // equal, not identical
  std::vector<const void *> values(keys.size(), kCFBooleanTrue);
  CFDictionaryRef dict = CFDictionaryCreate(
      kCFAllocatorDefault, reinterpret_cast<const void **>(keys.data()), values.data(),
      static_cast<CFIndex>(keys.size()), &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CFDictionaryGetValue(dict, probes[i]));
    i = (i + 7919) % probes.size();
  }
  CFRelease(dict);
  ReleaseAll(keys);
  ReleaseAll(probes);
}
BENCHMARK(DictionaryLookup);

}  // namespace

BENCHMARK_MAIN();
