// `tolvan-prefs status`: where the valid helper tool copy is, or why there
// is none, and what the next write will have to do.
#ifndef TOLVAN_APP_STATUS_COMMAND_HPP
#define TOLVAN_APP_STATUS_COMMAND_HPP

#include "app/arguments.hpp"
#include "app/exit_codes.hpp"

namespace tolvan::app {

ExitCode RunStatus(const Invocation &invocation);

}  // namespace tolvan::app

#endif
