// tolvan-prefs: the command-line program that reads and writes the
// machine-wide preferences through the helper tool.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "app/arguments.hpp"
#include "app/exit_codes.hpp"
#include "app/import_command.hpp"
#include "app/output.hpp"
#include "app/read_command.hpp"
#include "app/status_command.hpp"
#include "app/usage.hpp"
#include "app/write_command.hpp"

namespace {

using namespace tolvan::app;

ExitCode Run(const Invocation &invocation) {
  switch (invocation.command) {
    case Command::kHelp:
      std::fputs(kUsageText, stdout);
      return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
    case Command::kVersion:
      std::printf("tolvan-prefs %s\n", TOLVAN_PREFS_VERSION);
      return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
    case Command::kRead: return RunRead(invocation);
    case Command::kWrite: return RunWrite(invocation);
    case Command::kImport: return RunImport(invocation);
    case Command::kStatus: return RunStatus(invocation);
  }
  return kExitFailure;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    Invocation invocation;
    std::string error;
    if (!ParseArguments(arguments, &invocation, &error)) {
      Complain(error);
      std::fputs("Try 'tolvan-prefs --help'.\n", stderr);
      return kExitUsage;
    }
    return Run(invocation);
  } catch (const std::bad_alloc &) {
    Complain("out of memory");
    return kExitFailure;
  }
}
