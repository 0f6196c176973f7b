// Which of the seven property-list types an object is, found with one type
// check each, for the writer and the deep copy.
#ifndef TOLVAN_PLATFORM_CF_PROPERTY_LIST_KIND_HPP
#define TOLVAN_PLATFORM_CF_PROPERTY_LIST_KIND_HPP

#include "platform/cf/cf_base.h"

namespace tolvan {

enum class PropertyListKind {
  kString,
  kNumber,
  kBoolean,
  kDate,
  kData,
  kArray,
  kDictionary,
  kNotPropertyList
};

// Looks the type identifiers up once, so that a walk over a large tree
// does not ask for them at every node.
class PropertyListKinds {
 public:
  PropertyListKinds() noexcept;
  PropertyListKind Of(CFTypeRef object) const noexcept;

 private:
  CFTypeID string_, number_, boolean_, date_, data_, array_, dictionary_;
};

}  // namespace tolvan

#endif
