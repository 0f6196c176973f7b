#include "sec/response_error.h"

#include <cstdint>

#include "platform/cf/cf_number.h"
#include "sec/reserved_keys.h"

extern "C" OSStatus TolvanSecGetErrorFromResponse(CFDictionaryRef response) {
  if (response == nullptr) return coreFoundationUnknownErr;
  CFTypeRef value = CFDictionaryGetValue(response, kErrorNumberKey);
  if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) {
    return coreFoundationUnknownErr;
  }
  int32_t status = 0;
  if (!CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &status)) {
    return coreFoundationUnknownErr;
  }
  return status;
}
