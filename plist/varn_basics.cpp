#include "plist/varn_basics.h"

#include <utility>

#include "platform/base/heap_buffer.hpp"
#include "platform/cf/cf_number.h"
#include "platform/cf/cf_ref.hpp"
#include "plist/varn_shared.h"

namespace {

// A temporary array of count pointers from the default CoreFoundation
// allocator (VarnAllocate's zero-size rule), given back on every path.
class PointerBuffer {
 public:
  [[nodiscard]] static PointerBuffer Allocate(CFIndex count) noexcept {
    PointerBuffer buffer;
    void *block = nullptr;
    (void)VarnAllocate(count * static_cast<CFIndex>(sizeof(void *)), &block);
    buffer.values_ = static_cast<const void **>(block);
    return buffer;
  }
  PointerBuffer(PointerBuffer &&other) noexcept
      : values_(std::exchange(other.values_, nullptr)) {}
  PointerBuffer(const PointerBuffer &) = delete;
  PointerBuffer &operator=(const PointerBuffer &) = delete;
  PointerBuffer &operator=(PointerBuffer &&) = delete;
  ~PointerBuffer() { VarnDeallocate(values_); }

  const void **values() const noexcept { return values_; }
  explicit operator bool() const noexcept { return values_ != nullptr; }

 private:
  PointerBuffer() noexcept = default;
  const void **values_ = nullptr;
};

enum class DictionaryPart { kKeys, kValues };

OSStatus CreateArrayOfDictionaryPart(CFDictionaryRef dictionary, DictionaryPart part,
                                     CFArrayRef *array) {
  const CFIndex count = CFDictionaryGetCount(dictionary);
  PointerBuffer buffer = PointerBuffer::Allocate(count);
  if (!buffer) return memFullErr;
  CFDictionaryGetKeysAndValues(dictionary, part == DictionaryPart::kKeys ? buffer.values() : nullptr,
                               part == DictionaryPart::kValues ? buffer.values() : nullptr);
  *array = CFArrayCreate(kCFAllocatorDefault, buffer.values(), count, &kCFTypeArrayCallBacks);
  return VarnError(*array);
}

struct MergeContext {
  CFMutableDictionaryRef destination;
  OSStatus status;
};

// The applier cannot stop the enumeration, so a pair the destination had no
// room for is remembered and the merge goes on with the rest.
void MergeOne(const void *key, const void *value, void *context) {
  auto *merge = static_cast<MergeContext *>(context);
  if (!CFDictionarySetValue(merge->destination, key, value)) merge->status = memFullErr;
}

}  // namespace

CFTypeRef VarnRetain(CFTypeRef value) {
  if (value != nullptr) CFRetain(value);
  return value;
}

OSStatus VarnAllocate(CFIndex size, void **block) {
  *block = CFAllocatorAllocate(kCFAllocatorDefault, size == 0 ? 1 : size, 0);
  return *block != nullptr ? noErr : memFullErr;
}

void VarnDeallocate(void *block) {
  if (block != nullptr) CFAllocatorDeallocate(kCFAllocatorDefault, block);
}

OSStatus VarnDictionaryCreateMutable(CFMutableDictionaryRef *dictionary) {
  *dictionary = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                          &kCFTypeDictionaryValueCallBacks);
  return VarnError(*dictionary);
}

OSStatus VarnStringCopyCString(CFStringRef string, CFStringEncoding encoding, char **cString) {
  const CFRange whole = CFRangeMake(0, CFStringGetLength(string));
  CFIndex byteCount = 0;
  (void)CFStringGetBytes(string, whole, encoding, 0, false, nullptr, 0, &byteCount);
  tolvan::HeapBuffer buffer = tolvan::HeapBuffer::Allocate(static_cast<size_t>(byteCount) + 1);
  *cString = nullptr;
  if (!buffer) return memFullErr;
  const CFIndex converted =
      CFStringGetBytes(string, whole, encoding, 0, false, buffer.data(), byteCount, &byteCount);
  if (converted != whole.length) return kVarnBadValueErr;
  buffer.data()[byteCount] = 0;
  *cString = reinterpret_cast<char *>(buffer.release());
  return noErr;
}

OSStatus VarnDictionarySetNumber(CFMutableDictionaryRef dictionary, CFTypeRef key, long value) {
  auto number = tolvan::CFRef<CFNumberRef>::Adopt(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberLongType, &value));
  if (!number) return coreFoundationUnknownErr;
  return CFDictionarySetValue(dictionary, key, number.get()) ? noErr : memFullErr;
}

OSStatus VarnArrayCreateWithDictionaryKeys(CFDictionaryRef dictionary, CFArrayRef *array) {
  return CreateArrayOfDictionaryPart(dictionary, DictionaryPart::kKeys, array);
}

OSStatus VarnArrayCreateWithDictionaryValues(CFDictionaryRef dictionary, CFArrayRef *array) {
  return CreateArrayOfDictionaryPart(dictionary, DictionaryPart::kValues, array);
}

OSStatus VarnDictionaryCreateWithArrayOfKeysAndValues(CFArrayRef keys, CFArrayRef values,
                                                      CFDictionaryRef *dictionary) {
  const CFIndex count = CFArrayGetCount(keys);
  if (count != CFArrayGetCount(values)) return paramErr;
  PointerBuffer keyBuffer = PointerBuffer::Allocate(count);
  if (!keyBuffer) return memFullErr;
  PointerBuffer valueBuffer = PointerBuffer::Allocate(count);
  if (!valueBuffer) return memFullErr;
  CFArrayGetValues(keys, CFRangeMake(0, count), keyBuffer.values());
  CFArrayGetValues(values, CFRangeMake(0, count), valueBuffer.values());
  *dictionary = CFDictionaryCreate(kCFAllocatorDefault, keyBuffer.values(), valueBuffer.values(),
                                   count, &kCFTypeDictionaryKeyCallBacks,
                                   &kCFTypeDictionaryValueCallBacks);
  return VarnError(*dictionary);
}

OSStatus VarnDictionaryMerge(CFMutableDictionaryRef destination, CFDictionaryRef source) {
  MergeContext merge = {destination, noErr};
  CFDictionaryApplyFunction(source, MergeOne, &merge);
  return merge.status;
}
