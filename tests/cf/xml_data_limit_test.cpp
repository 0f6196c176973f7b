// The XML property-list reader when the process's data limit runs out in
// the middle of a parse, as it may in the helper tool (6 MiB). A program of
// its own, so that no free heap left by other tests hides the limit.
#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/cf/property_list_values.hpp"
#include "tests/support/child_process.hpp"

namespace tolvan::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
#define TOLVAN_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVAN_UNDER_ASAN 1
#endif
#endif

#ifndef TOLVAN_UNDER_ASAN

constexpr size_t kMebibyte = 1024 * 1024;

// A flat dictionary of ~20,000 string and integer pairs, about 1 MiB: the
// largest request the tool reads.
std::string FlatDocument() {
  std::string body = "<plist version=\"1.0\">\n<dict>\n";
  // One block from the start: freed blocks of a growing string would stay
  // in the heap as room that no data limit can take away.
  body.reserve(kMebibyte + 256);
  for (int i = 0; body.size() < kMebibyte - 64; ++i) {
    char pair[128];
    if (i % 2 == 0) {
      std::snprintf(pair, sizeof pair, "\t<key>key number %06d</key>\n\t<string>value %d</string>\n", i, i);
    } else {
      std::snprintf(pair, sizeof pair, "\t<key>key number %06d</key>\n\t<integer>%d</integer>\n", i, i * 7919);
    }
    body += pair;
  }
  return body + "</dict>\n</plist>\n";
}

// VmData, the private writable memory that RLIMIT_DATA counts.
size_t DataSegmentBytes() {
  FILE *status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return 0;
  char line[256];
  size_t kib = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmData: %zu kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib * 1024;
}

TEST(XmlMemory, ParsingUnderALowDataLimitFailsCleanly) {
  const std::string document = FlatDocument();
  auto data = DataOf(document);
  // From just above the baseline, where the parse must fail, upwards in
  // steps until it succeeds: every step either fails cleanly or parses.
  for (size_t headroom = 64 * 1024; headroom <= 16 * kMebibyte; headroom *= 2) {
    const ChildOutcome outcome = RunInChild([&]() -> std::string {
      rlimit old_limit;
      getrlimit(RLIMIT_DATA, &old_limit);
      // Free heap inherited from the parent would let the parse slip under
      // any limit.
      malloc_trim(0);
      rlimit low = old_limit;
      low.rlim_cur = DataSegmentBytes() + headroom;
      if (setrlimit(RLIMIT_DATA, &low) != 0) return "setrlimit failed";
      CFTypeRef value = CFPropertyListCreateFromXMLData(nullptr, data.get(),
                                                        kCFPropertyListImmutable, nullptr);
      const bool parsed = value != nullptr;
      if (value != nullptr) CFRelease(value);
      setrlimit(RLIMIT_DATA, &old_limit);
      if (headroom == 64 * 1024 && parsed) return "parsed with only 64 KiB to spare";
      if (headroom == 16 * kMebibyte && !parsed) return "failed with 16 MiB to spare";
      return "";
    });
    EXPECT_TRUE(ChildSucceeded(outcome)) << "headroom " << headroom;
  }
}

#else

TEST(XmlMemory, ParsingUnderALowDataLimitFailsCleanly) {
  GTEST_SKIP() << "the address sanitizer's own allocator aborts when the data limit bites";
}

#endif

}  // namespace
}  // namespace tolvan::test
