#include "plist/varn_traversal.h"

#include "platform/base/heap_buffer.hpp"
#include "platform/cf/cf_array.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_number.h"
#include "platform/cf/cf_ref.hpp"
#include "plist/varn_types.hpp"

namespace {

// The dictionary's keys in enumeration order; an empty buffer when the
// dictionary is empty or the list could not be allocated.
tolvan::HeapBuffer CopyKeyList(CFDictionaryRef dictionary, CFIndex count) {
  if (count <= 0) return tolvan::HeapBuffer();
  tolvan::HeapBuffer buffer =
      tolvan::HeapBuffer::Allocate(static_cast<size_t>(count) * sizeof(CFTypeRef));
  if (buffer) {
    CFDictionaryGetKeysAndValues(dictionary, reinterpret_cast<CFTypeRef *>(buffer.data()),
                                 nullptr);
  }
  return buffer;
}

const CFTypeRef *KeysOf(const tolvan::HeapBuffer &list) {
  return reinterpret_cast<const CFTypeRef *>(list.data());
}

// Each level of the tree costs one frame of this function, so it holds only
// the key list and the loop state.
void DeepApply(CFTypeRef node, VarnDeepApplierFunction function, void *context) {
  function(node, context);
  if (tolvan::IsDictionary(node)) {
    const auto dictionary = static_cast<CFDictionaryRef>(node);
    const CFIndex count = CFDictionaryGetCount(dictionary);
    const tolvan::HeapBuffer list = CopyKeyList(dictionary, count);
    if (!list) return;
    for (CFIndex i = 0; i < count; ++i) {
      DeepApply(CFDictionaryGetValue(dictionary, KeysOf(list)[i]), function, context);
    }
  } else if (tolvan::IsArray(node)) {
    const auto array = static_cast<CFArrayRef>(node);
    const CFIndex count = CFArrayGetCount(array);
    for (CFIndex i = 0; i < count; ++i) {
      DeepApply(CFArrayGetValueAtIndex(array, i), function, context);
    }
  }
}

void ShallowApplyToDictionary(CFDictionaryRef dictionary, VarnShallowApplierFunction function,
                              void *context) {
  const CFIndex count = CFDictionaryGetCount(dictionary);
  const tolvan::HeapBuffer list = CopyKeyList(dictionary, count);
  if (!list) return;
  for (CFIndex i = 0; i < count; ++i) {
    const CFTypeRef key = KeysOf(list)[i];
    function(key, CFDictionaryGetValue(dictionary, key), context);
  }
}

void ShallowApplyToArray(CFArrayRef array, VarnShallowApplierFunction function, void *context) {
  const CFIndex count = CFArrayGetCount(array);
  for (CFIndex i = 0; i < count; ++i) {
    const long index = i;
    auto number = tolvan::CFRef<CFNumberRef>::Adopt(
        CFNumberCreate(kCFAllocatorDefault, kCFNumberLongType, &index));
    if (!number) continue;
    function(number.get(), CFArrayGetValueAtIndex(array, i), context);
  }
}

}  // namespace

Boolean VarnPropertyListIsLeaf(CFTypeRef value) {
  return !tolvan::IsDictionary(value) && !tolvan::IsArray(value);
}

void VarnPropertyListDeepApplyFunction(CFTypeRef root, VarnDeepApplierFunction function,
                                       void *context) {
  DeepApply(root, function, context);
}

void VarnPropertyListShallowApplyFunction(CFTypeRef container, VarnShallowApplierFunction function,
                                          void *context) {
  if (tolvan::IsDictionary(container)) {
    ShallowApplyToDictionary(static_cast<CFDictionaryRef>(container), function, context);
  } else if (tolvan::IsArray(container)) {
    ShallowApplyToArray(static_cast<CFArrayRef>(container), function, context);
  }
}
