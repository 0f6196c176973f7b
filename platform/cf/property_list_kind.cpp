#include "platform/cf/property_list_kind.hpp"

#include "platform/cf/cf_array.h"
#include "platform/cf/cf_data.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_number.h"
#include "platform/cf/cf_string.h"

namespace tolvan {

PropertyListKinds::PropertyListKinds() noexcept
    : string_(CFStringGetTypeID()),
      number_(CFNumberGetTypeID()),
      boolean_(CFBooleanGetTypeID()),
      date_(CFDateGetTypeID()),
      data_(CFDataGetTypeID()),
      array_(CFArrayGetTypeID()),
      dictionary_(CFDictionaryGetTypeID()) {}

PropertyListKind PropertyListKinds::Of(CFTypeRef object) const noexcept {
  if (object == nullptr) return PropertyListKind::kNotPropertyList;
  const CFTypeID type = CFGetTypeID(object);
  if (type == string_) return PropertyListKind::kString;
  if (type == dictionary_) return PropertyListKind::kDictionary;
  if (type == number_) return PropertyListKind::kNumber;
  if (type == array_) return PropertyListKind::kArray;
  if (type == boolean_) return PropertyListKind::kBoolean;
  if (type == data_) return PropertyListKind::kData;
  if (type == date_) return PropertyListKind::kDate;
  return PropertyListKind::kNotPropertyList;
}

}  // namespace tolvan
