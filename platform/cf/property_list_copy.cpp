// CFPropertyListCreateDeepCopy: a copy of a property-list tree in which no
// container (and, with kCFPropertyListMutableContainersAndLeaves, no string
// or data) is shared with the original.
//
// The walk recurses, one small frame per level, and stops at
// kTolvanPropertyListMaxDepth, which also ends a mutable container that
// holds itself.
#include "platform/cf/allocator_vector.hpp"
#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/cf/property_list_kind.hpp"

namespace tolvan {
namespace {

class DeepCopier {
 public:
  DeepCopier(CFAllocatorRef allocator, CFOptionFlags mutability) noexcept
      : allocator_(allocator),
        mutable_containers_(mutability == kCFPropertyListMutableContainers ||
                            mutability == kCFPropertyListMutableContainersAndLeaves),
        mutable_leaves_(mutability == kCFPropertyListMutableContainersAndLeaves),
        copies_(allocator) {}

  DeepCopier(const DeepCopier &) = delete;
  DeepCopier &operator=(const DeepCopier &) = delete;

  // level counts the containers around the value.
  CFTypeRef Copy(CFTypeRef value, int level) noexcept {
    switch (kinds_.Of(value)) {
      case PropertyListKind::kString:
        return CopyString(static_cast<CFStringRef>(value));
      case PropertyListKind::kData:
        return mutable_leaves_
                   ? CFDataCreateMutableCopy(allocator_, 0, static_cast<CFDataRef>(value))
                   : CFDataCreateCopy(allocator_, static_cast<CFDataRef>(value));
      case PropertyListKind::kNumber:
      case PropertyListKind::kBoolean:
      case PropertyListKind::kDate:
        // Immutable in every mode, so sharing them is a copy.
        return CFRetain(value);
      case PropertyListKind::kArray:
        return CopyArray(static_cast<CFArrayRef>(value), level);
      case PropertyListKind::kDictionary:
        return CopyDictionary(static_cast<CFDictionaryRef>(value), level);
      case PropertyListKind::kNotPropertyList:
        break;
    }
    return nullptr;
  }

 private:
  CFTypeRef CopyString(CFStringRef string) noexcept {
    return mutable_leaves_ ? CFStringCreateMutableCopy(allocator_, 0, string)
                           : CFStringCreateCopy(allocator_, string);
  }

  // The copies of a container's elements wait on one shared stack, owned,
  // until the container is built; deeper levels push above them.
  bool PushCopies(const void **originals, size_t count, int level) noexcept {
    for (size_t i = 0; i < count; ++i) {
      CFTypeRef copy = Copy(originals[i], level);
      if (copy == nullptr) return false;
      if (!copies_.PushBack(copy)) {
        CFRelease(copy);
        return false;
      }
    }
    return true;
  }

  void ReleaseCopiesFrom(size_t base) noexcept {
    for (size_t i = base; i < copies_.size(); ++i) CFRelease(copies_[i]);
    copies_.Truncate(base);
  }

  CFTypeRef CopyArray(CFArrayRef array, int level) noexcept {
    if (level >= kTolvanPropertyListMaxDepth) return nullptr;
    const auto count = static_cast<size_t>(CFArrayGetCount(array));
    AllocatorVector<const void *> originals(allocator_);
    const void **slots = originals.Extend(count);
    if (count != 0 && slots == nullptr) return nullptr;
    CFArrayGetValues(array, CFRangeMake(0, static_cast<CFIndex>(count)), slots);
    const size_t base = copies_.size();
    CFTypeRef result = nullptr;
    if (PushCopies(slots, count, level + 1)) result = BuildArray(base, count);
    ReleaseCopiesFrom(base);
    return result;
  }

  CFTypeRef BuildArray(size_t base, size_t count) noexcept {
    const void **values = copies_.data() + base;
    if (!mutable_containers_) {
      return CFArrayCreate(allocator_, values, static_cast<CFIndex>(count),
                           &kCFTypeArrayCallBacks);
    }
    auto array = CFRef<CFMutableArrayRef>::Adopt(
        CFArrayCreateMutable(allocator_, 0, &kCFTypeArrayCallBacks));
    if (!array) return nullptr;
    for (size_t i = 0; i < count; ++i) {
      if (!CFArrayAppendValue(array.get(), values[i])) return nullptr;
    }
    return array.release();
  }

  CFTypeRef CopyDictionary(CFDictionaryRef dictionary, int level) noexcept {
    if (level >= kTolvanPropertyListMaxDepth) return nullptr;
    const auto count = static_cast<size_t>(CFDictionaryGetCount(dictionary));
    AllocatorVector<const void *> originals(allocator_);
    const void **slots = originals.Extend(2 * count);
    if (count != 0 && slots == nullptr) return nullptr;
    CFDictionaryGetKeysAndValues(dictionary, slots, slots + count);
    for (size_t i = 0; i < count; ++i) {
      if (kinds_.Of(slots[i]) != PropertyListKind::kString) return nullptr;
    }
    // Keys stay immutable strings whatever the mode: a dictionary must not
    // see its keys change.
    const size_t base = copies_.size();
    CFTypeRef result = nullptr;
    if (CopyKeys(slots, count) && PushCopies(slots + count, count, level + 1)) {
      result = BuildDictionary(base, count);
    }
    ReleaseCopiesFrom(base);
    return result;
  }

  bool CopyKeys(const void **keys, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) {
      CFStringRef key = CFStringCreateCopy(allocator_, static_cast<CFStringRef>(keys[i]));
      if (key == nullptr) return false;
      if (!copies_.PushBack(key)) {
        CFRelease(key);
        return false;
      }
    }
    return true;
  }

  CFTypeRef BuildDictionary(size_t base, size_t count) noexcept {
    const void **keys = copies_.data() + base;
    const void **values = keys + count;
    if (!mutable_containers_) {
      return CFDictionaryCreate(allocator_, keys, values, static_cast<CFIndex>(count),
                                &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    }
    auto copy = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
        allocator_, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    if (!copy) return nullptr;
    for (size_t i = 0; i < count; ++i) {
      if (!CFDictionarySetValue(copy.get(), keys[i], values[i])) return nullptr;
    }
    return copy.release();
  }

  CFAllocatorRef allocator_;
  const bool mutable_containers_;
  const bool mutable_leaves_;
  PropertyListKinds kinds_;
  AllocatorVector<const void *> copies_;
};

}  // namespace
}  // namespace tolvan

extern "C" CFPropertyListRef CFPropertyListCreateDeepCopy(CFAllocatorRef allocator,
                                                          CFPropertyListRef propertyList,
                                                          CFOptionFlags mutabilityOption) {
  if (allocator == kCFAllocatorDefault) allocator = CFAllocatorGetDefault();
  tolvan::DeepCopier copier(allocator, mutabilityOption);
  return copier.Copy(propertyList, 0);
}
