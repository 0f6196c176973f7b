// The container tests of the property-list utilities, by type identifier.
#ifndef TOLVAN_PLIST_VARN_TYPES_HPP
#define TOLVAN_PLIST_VARN_TYPES_HPP

#include "platform/cf/cf_array.h"
#include "platform/cf/cf_base.h"
#include "platform/cf/cf_dictionary.h"

namespace tolvan {

inline bool IsDictionary(CFTypeRef value) noexcept {
  return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

inline bool IsArray(CFTypeRef value) noexcept {
  return value != nullptr && CFGetTypeID(value) == CFArrayGetTypeID();
}

}  // namespace tolvan

#endif
