// The text of `tolvan-prefs --help`.
#ifndef TOLVAN_APP_USAGE_HPP
#define TOLVAN_APP_USAGE_HPP

namespace tolvan::app {

extern const char kUsageText[];

}  // namespace tolvan::app

#endif
