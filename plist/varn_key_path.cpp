#include "plist/varn_key_path.h"

#include "platform/base/heap_buffer.hpp"
#include "platform/cf/cf_ref.hpp"
#include "plist/varn_types.hpp"

namespace {

bool IsEmptyPath(CFIndex count) { return count <= 0; }

// Copy on write down to the target's parent: each intermediate dictionary is
// replaced in its parent by a fresh mutable copy, so that the caller may
// change the parent without touching a dictionary someone else may share.
OSStatus VarnMutableDictionaryGetParentForPath(CFMutableDictionaryRef dictionary,
                                               const CFTypeRef *keys, CFIndex count,
                                               CFMutableDictionaryRef *parent) {
  CFMutableDictionaryRef current = dictionary;
  for (CFIndex i = 0; i < count - 1; ++i) {
    CFTypeRef found = nullptr;
    if (!CFDictionaryGetValueIfPresent(current, keys[i], &found)) return kVarnNoSuchKeyErr;
    if (!tolvan::IsDictionary(found)) return kVarnBadValueErr;
    auto copy = tolvan::CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutableCopy(
        kCFAllocatorDefault, 0, static_cast<CFDictionaryRef>(found)));
    if (!copy) return coreFoundationUnknownErr;
    if (!CFDictionarySetValue(current, keys[i], copy.get())) return memFullErr;
    current = copy.get();
  }
  *parent = current;
  return noErr;
}

// Runs walk over the path array's elements as a C array of keys.
template <typename Walk>
OSStatus WithKeysOfPath(CFArrayRef path, Walk walk) {
  const CFIndex count = CFArrayGetCount(path);
  if (IsEmptyPath(count)) return paramErr;
  tolvan::HeapBuffer buffer =
      tolvan::HeapBuffer::Allocate(static_cast<size_t>(count) * sizeof(CFTypeRef));
  if (!buffer) return memFullErr;
  auto *keys = reinterpret_cast<CFTypeRef *>(buffer.data());
  CFArrayGetValues(path, CFRangeMake(0, count), keys);
  return walk(keys, count);
}

}  // namespace

OSStatus VarnDictionaryGetValueAtPath(CFDictionaryRef dictionary, const CFTypeRef *keys,
                                      CFIndex count, CFTypeRef *value) {
  if (IsEmptyPath(count)) return paramErr;
  CFDictionaryRef current = dictionary;
  for (CFIndex i = 0;; ++i) {
    CFTypeRef found = nullptr;
    if (!CFDictionaryGetValueIfPresent(current, keys[i], &found)) return kVarnNoSuchKeyErr;
    if (i == count - 1) {
      *value = found;
      return noErr;
    }
    if (!tolvan::IsDictionary(found)) return kVarnBadValueErr;
    current = static_cast<CFDictionaryRef>(found);
  }
}

OSStatus VarnDictionarySetValueAtPath(CFMutableDictionaryRef dictionary, const CFTypeRef *keys,
                                      CFIndex count, CFTypeRef value) {
  if (IsEmptyPath(count)) return paramErr;
  CFMutableDictionaryRef parent = nullptr;
  const OSStatus status = VarnMutableDictionaryGetParentForPath(dictionary, keys, count, &parent);
  if (status != noErr) return status;
  return CFDictionarySetValue(parent, keys[count - 1], value) ? noErr : memFullErr;
}

OSStatus VarnDictionaryRemoveValueAtPath(CFMutableDictionaryRef dictionary,
                                         const CFTypeRef *keys, CFIndex count) {
  if (IsEmptyPath(count)) return paramErr;
  CFMutableDictionaryRef parent = nullptr;
  const OSStatus status = VarnMutableDictionaryGetParentForPath(dictionary, keys, count, &parent);
  if (status != noErr) return status;
  if (!CFDictionaryContainsKey(parent, keys[count - 1])) return kVarnNoSuchKeyErr;
  CFDictionaryRemoveValue(parent, keys[count - 1]);
  return noErr;
}

OSStatus VarnDictionaryGetValueAtPathArray(CFDictionaryRef dictionary, CFArrayRef path,
                                           CFTypeRef *value) {
  return WithKeysOfPath(path, [&](const CFTypeRef *keys, CFIndex count) {
    return VarnDictionaryGetValueAtPath(dictionary, keys, count, value);
  });
}

OSStatus VarnDictionarySetValueAtPathArray(CFMutableDictionaryRef dictionary, CFArrayRef path,
                                           CFTypeRef value) {
  return WithKeysOfPath(path, [&](const CFTypeRef *keys, CFIndex count) {
    return VarnDictionarySetValueAtPath(dictionary, keys, count, value);
  });
}

OSStatus VarnDictionaryRemoveValueAtPathArray(CFMutableDictionaryRef dictionary,
                                              CFArrayRef path) {
  return WithKeysOfPath(path, [&](const CFTypeRef *keys, CFIndex count) {
    return VarnDictionaryRemoveValueAtPath(dictionary, keys, count);
  });
}
