#include "platform/prefs/staged_changes.hpp"

#include "platform/cf/cf_number.h"
#include "plist/varn_basics.h"

namespace tolvan::prefs {
namespace {

bool EnsureDictionary(CFRef<CFMutableDictionaryRef> *dictionary) {
  if (!*dictionary) {
    dictionary->reset(CFDictionaryCreateMutable(kCFAllocatorDefault, 0,
                                                &kCFTypeDictionaryKeyCallBacks,
                                                &kCFTypeDictionaryValueCallBacks));
  }
  return static_cast<bool>(*dictionary);
}

CFIndex CountOf(const CFRef<CFMutableDictionaryRef> &dictionary) {
  return dictionary ? CFDictionaryGetCount(dictionary.get()) : 0;
}

void RemoveFrom(const void *key, const void *, void *dictionary) {
  CFDictionaryRemoveValue(static_cast<CFMutableDictionaryRef>(dictionary), key);
}

}  // namespace

bool StagedChanges::Stage(CFStringRef key, CFTypeRef value) {
  if (value == nullptr) {
    if (!EnsureDictionary(&removals_)) return false;
    // The marker's value is never read: a removal is the key's presence.
    if (!CFDictionarySetValue(removals_.get(), key, kCFBooleanTrue)) return false;
    if (values_) CFDictionaryRemoveValue(values_.get(), key);
    return true;
  }
  if (!EnsureDictionary(&values_)) return false;
  if (!CFDictionarySetValue(values_.get(), key, value)) return false;
  if (removals_) CFDictionaryRemoveValue(removals_.get(), key);
  return true;
}

bool StagedChanges::Lookup(CFStringRef key, CFTypeRef *value) const {
  if (values_ && CFDictionaryGetValueIfPresent(values_.get(), key, value)) return true;
  if (removals_ && CFDictionaryContainsKey(removals_.get(), key)) {
    *value = nullptr;
    return true;
  }
  return false;
}

bool StagedChanges::ApplyTo(CFMutableDictionaryRef dictionary) const {
  // The two sets are disjoint, so the order of the passes does not matter.
  if (removals_) CFDictionaryApplyFunction(removals_.get(), RemoveFrom, dictionary);
  return !values_ || VarnDictionaryMerge(dictionary, values_.get()) == noErr;
}

bool StagedChanges::empty() const { return CountOf(values_) == 0 && CountOf(removals_) == 0; }

void StagedChanges::Clear() {
  values_.reset();
  removals_.reset();
}

}  // namespace tolvan::prefs
