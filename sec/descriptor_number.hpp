// The elements of a kDescriptorArrayKey array: numbers holding an int.
#ifndef TOLVAN_SEC_DESCRIPTOR_NUMBER_HPP
#define TOLVAN_SEC_DESCRIPTOR_NUMBER_HPP

#include <optional>

#include "platform/cf/cf_base.h"
#include "platform/cf/cf_number.h"

namespace tolvan {

// The descriptor an array element names; nothing for a null element, one
// that is not a number, or one whose value does not fit an int exactly.
inline std::optional<int> DescriptorFromElement(CFTypeRef element) noexcept {
  if (element == nullptr || CFGetTypeID(element) != CFNumberGetTypeID()) return std::nullopt;
  int fd = -1;
  if (!CFNumberGetValue(static_cast<CFNumberRef>(element), kCFNumberIntType, &fd)) {
    return std::nullopt;
  }
  return fd;
}

}  // namespace tolvan

#endif
