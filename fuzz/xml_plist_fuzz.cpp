// Fuzzes the XML property-list reader. Whatever parses must write, parse
// back to the same value, read the same under every mutability option, and
// deep-copy to the same value; failures must not leak or crash.
#include <cstdint>
#include <cstdlib>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "tests/cf/property_list_values.hpp"

namespace {

using tolvan::CFRef;
using tolvan::test::SameValue;
using Value = CFRef<CFTypeRef>;

void Check(bool condition) {
  if (!condition) std::abort();
}

Value ParseData(CFDataRef data, CFOptionFlags option, bool want_error) {
  CFStringRef error = nullptr;
  Value value = Value::Adopt(
      CFPropertyListCreateFromXMLData(nullptr, data, option, want_error ? &error : nullptr));
  // Exactly one of the two comes back when the error is asked for.
  if (want_error) Check((value.get() == nullptr) != (error == nullptr));
  if (error != nullptr) CFRelease(error);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  auto data = CFRef<CFDataRef>::Adopt(
      CFDataCreateWithBytesNoCopy(nullptr, bytes, static_cast<CFIndex>(size), kCFAllocatorNull));
  if (!data) return 0;
  const Value value = ParseData(data.get(), kCFPropertyListImmutable, true);
  for (CFOptionFlags option :
       {kCFPropertyListMutableContainers, kCFPropertyListMutableContainersAndLeaves}) {
    const Value other = ParseData(data.get(), option, false);
    Check(SameValue(value.get(), other.get()));
    if (value) {
      const Value copy = Value::Adopt(CFPropertyListCreateDeepCopy(nullptr, value.get(), option));
      Check(SameValue(copy.get(), value.get()));
    }
  }
  if (!value) return 0;
  auto written = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(nullptr, value.get()));
  Check(static_cast<bool>(written));
  const Value again = ParseData(written.get(), kCFPropertyListImmutable, false);
  Check(SameValue(again.get(), value.get()));
  return 0;
}
