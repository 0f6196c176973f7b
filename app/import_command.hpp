// `tolvan-prefs import FILE|-`: every pair of an XML property-list
// dictionary, in one request to the helper tool.
#ifndef TOLVAN_APP_IMPORT_COMMAND_HPP
#define TOLVAN_APP_IMPORT_COMMAND_HPP

#include "app/arguments.hpp"
#include "app/exit_codes.hpp"

namespace tolvan::app {

ExitCode RunImport(const Invocation &invocation);

}  // namespace tolvan::app

#endif
