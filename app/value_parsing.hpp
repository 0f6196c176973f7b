// Turning the text a user types after `tolvan-prefs write KEY` into a
// property-list value of the type the option names.
#ifndef TOLVAN_APP_VALUE_PARSING_HPP
#define TOLVAN_APP_VALUE_PARSING_HPP

#include <string>

#include "platform/cf/cf_base.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan::app {

enum class ValueType { kString, kInteger, kReal, kBoolean, kDate, kData };

// The value, owned by the holder; empty when the text is not a value of
// that type, with a reason in *error fit to follow "tolvan-prefs: ".
CFRef<CFPropertyListRef> ParseValue(ValueType type, const std::string &text, std::string *error);

}  // namespace tolvan::app

#endif
