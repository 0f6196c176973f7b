// `tolvan-prefs read [--xml] [KEY]`: the machine-wide values of the
// product's preferences, which anyone may read.
#ifndef TOLVAN_APP_READ_COMMAND_HPP
#define TOLVAN_APP_READ_COMMAND_HPP

#include "app/arguments.hpp"
#include "app/exit_codes.hpp"

namespace tolvan::app {

ExitCode RunRead(const Invocation &invocation);

}  // namespace tolvan::app

#endif
