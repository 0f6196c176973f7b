// Closing the descriptors a message dictionary lists, for every process
// that receives or builds a reply and must not leak what it carries.
#ifndef TOLVAN_SEC_LISTED_DESCRIPTORS_HPP
#define TOLVAN_SEC_LISTED_DESCRIPTORS_HPP

#include "platform/cf/cf_array.h"
#include "platform/cf/cf_dictionary.h"
#include "sec/descriptor_array.h"
#include "sec/reserved_keys.h"

namespace tolvan {

// The value may be anything a command stored under the key; what is not an
// array of numbers is skipped.
inline void CloseListedDescriptors(CFDictionaryRef dictionary) noexcept {
  TolvanSecCloseDescriptorArray(
      static_cast<CFArrayRef>(CFDictionaryGetValue(dictionary, kDescriptorArrayKey)));
}

}  // namespace tolvan

#endif
