// `tolvan-prefs write [TYPE] KEY VALUE`: one pair, in one request to the
// helper tool.
#ifndef TOLVAN_APP_WRITE_COMMAND_HPP
#define TOLVAN_APP_WRITE_COMMAND_HPP

#include "app/arguments.hpp"
#include "app/exit_codes.hpp"

namespace tolvan::app {

ExitCode RunWrite(const Invocation &invocation);

}  // namespace tolvan::app

#endif
