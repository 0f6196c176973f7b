// The command line of tolvan-prefs: which command, its options and its
// operands, checked for count and kind before anything runs.
#ifndef TOLVAN_APP_ARGUMENTS_HPP
#define TOLVAN_APP_ARGUMENTS_HPP

#include <string>
#include <vector>

#include "app/value_parsing.hpp"

namespace tolvan::app {

enum class Command { kHelp, kVersion, kWrite, kImport, kRead, kStatus };

struct Invocation {
  Command command = Command::kHelp;
  ValueType type = ValueType::kString;  // write
  bool xml = false;                     // read
  std::vector<std::string> operands;    // write: KEY VALUE; import: FILE; read: [KEY]
};

// False on a usage error, with the reason in *error.
bool ParseArguments(const std::vector<std::string> &arguments, Invocation *invocation,
                    std::string *error);

}  // namespace tolvan::app

#endif
