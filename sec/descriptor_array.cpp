#include "sec/descriptor_array.h"

#include <unistd.h>

#include <optional>

#include "plist/varn_types.hpp"
#include "sec/descriptor_number.hpp"

extern "C" void TolvanSecCloseDescriptorArray(CFArrayRef descriptors) {
  if (!tolvan::IsArray(descriptors)) return;
  CFIndex count = CFArrayGetCount(descriptors);
  for (CFIndex i = 0; i < count; ++i) {
    std::optional<int> fd = tolvan::DescriptorFromElement(CFArrayGetValueAtIndex(descriptors, i));
    if (fd) ::close(*fd);
  }
}
