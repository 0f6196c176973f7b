#include "plist/varn_shared.h"

OSStatus VarnError(const void *value) {
  return value != nullptr ? noErr : coreFoundationUnknownErr;
}

OSStatus VarnErrorBoolean(Boolean flag) { return flag ? noErr : coreFoundationUnknownErr; }

void VarnRelease(CFTypeRef value) {
  if (value != nullptr) CFRelease(value);
}

OSStatus VarnArrayCreateMutable(CFMutableArrayRef *array) {
  *array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
  return VarnError(*array);
}
