// The pairs staged for one domain and not yet saved: values to set and keys
// to remove, kept apart so that a removal needs no marker value.
#ifndef TOLVAN_PLATFORM_PREFS_STAGED_CHANGES_HPP
#define TOLVAN_PLATFORM_PREFS_STAGED_CHANGES_HPP

#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan::prefs {

class StagedChanges {
 public:
  // A null value stages the removal of key; the later of two changes to a
  // key wins. False when memory runs out (the change is not staged).
  bool Stage(CFStringRef key, CFTypeRef value);

  // Whether key has a staged change; *value is then the staged value
  // (borrowed), or null for a staged removal.
  bool Lookup(CFStringRef key, CFTypeRef *value) const;

  // Applies every change to dictionary. False when memory runs out, and the
  // dictionary then holds only some of them.
  bool ApplyTo(CFMutableDictionaryRef dictionary) const;

  bool empty() const;
  void Clear();

 private:
  CFRef<CFMutableDictionaryRef> values_;
  CFRef<CFMutableDictionaryRef> removals_;
};

}  // namespace tolvan::prefs

#endif
