// Dictionaries that carry descriptors: the frame, then one descriptor
// message per element of the kDescriptorArrayKey array.
#include <optional>

#include "platform/cf/cf_array.h"
#include "platform/cf/cf_number.h"
#include "platform/cf/cf_ref.hpp"
#include "plist/varn_shared.h"
#include "plist/varn_types.hpp"
#include "sec/descriptor_array.h"
#include "sec/descriptor_number.hpp"
#include "sec/dictionary_channel.h"
#include "sec/reserved_keys.h"
#include "unix/descriptor_passing.h"
#include "unix/unique_fd.hpp"

namespace {

using tolvan::CFRef;

OSStatus SendListedDescriptors(CFArrayRef descriptors, int socket) {
  CFIndex count = CFArrayGetCount(descriptors);
  for (CFIndex i = 0; i < count; ++i) {
    std::optional<int> fd = tolvan::DescriptorFromElement(CFArrayGetValueAtIndex(descriptors, i));
    if (!fd) return EINVAL;
    int error = TolvanUNIXWriteDescriptor(socket, *fd);
    if (error != 0) return error;
  }
  return noErr;
}

// Receives one descriptor and appends its number to received, which then
// owns it. On failure the descriptor is closed here.
OSStatus ReceiveOneDescriptor(int socket, CFMutableArrayRef received) {
  int raw = -1;
  int error = TolvanUNIXReadDescriptor(socket, &raw);
  if (error != 0) return error;
  tolvan::UniqueFd fd(raw);
  CFRef<CFNumberRef> number =
      CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &raw));
  if (!number || !CFArrayAppendValue(received, number.get())) return coreFoundationUnknownErr;
  (void)fd.release();
  return noErr;
}

// Only the count of the sender's array matters: its numbers mean nothing in
// this process.
OSStatus ReceiveDescriptors(int socket, CFIndex count, CFMutableArrayRef received) {
  for (CFIndex i = 0; i < count; ++i) {
    OSStatus status = ReceiveOneDescriptor(socket, received);
    if (status != noErr) return status;
  }
  return noErr;
}

OSStatus TranslateDescriptors(int socket, CFDictionaryRef asRead, CFArrayRef senders,
                              CFDictionaryRef *dictionary) {
  CFRef<CFMutableArrayRef> received;
  OSStatus status = VarnArrayCreateMutable(received.out());
  if (status != noErr) return status;
  CFRef<CFMutableDictionaryRef> copy = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, asRead));
  if (!copy) return coreFoundationUnknownErr;

  status = ReceiveDescriptors(socket, CFArrayGetCount(senders), received.get());
  if (status == noErr && !CFDictionarySetValue(copy.get(), kDescriptorArrayKey, received.get())) {
    status = coreFoundationUnknownErr;
  }
  if (status != noErr) {
    TolvanSecCloseDescriptorArray(received.get());
    return status;
  }
  *dictionary = copy.release();
  return noErr;
}

}  // namespace

extern "C" OSStatus WriteDictionaryAndDescriptors(CFDictionaryRef dictionary, int socket) {
  OSStatus status = WriteDictionaryToDescriptor(dictionary, socket);
  if (status != noErr) return status;
  CFTypeRef descriptors = CFDictionaryGetValue(dictionary, kDescriptorArrayKey);
  if (descriptors == nullptr) return noErr;
  if (!tolvan::IsArray(descriptors)) return EINVAL;
  return SendListedDescriptors(static_cast<CFArrayRef>(descriptors), socket);
}

extern "C" OSStatus CopyDictionaryTranslatingDescriptors(int socket, CFDictionaryRef *dictionary) {
  if (dictionary == nullptr) return paramErr;
  CFRef<CFDictionaryRef> asRead;
  OSStatus status = CopyDictionaryFromDescriptor(socket, asRead.out());
  if (status != noErr) return status;

  CFTypeRef senders = CFDictionaryGetValue(asRead.get(), kDescriptorArrayKey);
  if (senders == nullptr) {
    *dictionary = asRead.release();
    return noErr;
  }
  if (!tolvan::IsArray(senders)) return kVarnBadValueErr;
  return TranslateDescriptors(socket, asRead.get(), static_cast<CFArrayRef>(senders), dictionary);
}
