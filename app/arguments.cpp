#include "app/arguments.hpp"

#include <cstddef>

namespace tolvan::app {
namespace {

struct CommandName {
  const char *name;
  Command command;
  size_t fewest_operands;
  size_t most_operands;
};

constexpr CommandName kCommands[] = {
    {"write", Command::kWrite, 2, 2},
    {"import", Command::kImport, 1, 1},
    {"read", Command::kRead, 0, 1},
    {"status", Command::kStatus, 0, 0},
};

struct TypeOption {
  const char *name;
  ValueType type;
};

constexpr TypeOption kTypeOptions[] = {
    {"--string", ValueType::kString}, {"--int", ValueType::kInteger},
    {"--real", ValueType::kReal},     {"--bool", ValueType::kBoolean},
    {"--date", ValueType::kDate},     {"--data", ValueType::kData},
};

bool ParseOption(const std::string &option, bool *type_seen, Invocation *invocation,
                 std::string *error) {
  if (invocation->command == Command::kWrite) {
    for (const TypeOption &candidate : kTypeOptions) {
      if (option != candidate.name) continue;
      if (*type_seen) {
        *error = "write takes one type option";
        return false;
      }
      *type_seen = true;
      invocation->type = candidate.type;
      return true;
    }
  }
  if (invocation->command == Command::kRead && option == "--xml") {
    invocation->xml = true;
    return true;
  }
  *error = "unknown option for this command: " + option;
  return false;
}

const CommandName *FindCommand(const std::string &word) {
  for (const CommandName &candidate : kCommands) {
    if (word == candidate.name) return &candidate;
  }
  return nullptr;
}

// Options are long ones only, so that "-" (standard input for import) and
// negative numbers are operands; every word after "--" is one too, so that
// a key or value may start with "--".
bool IsOption(const std::string &word) { return word.size() > 2 && word.compare(0, 2, "--") == 0; }

}  // namespace

bool ParseArguments(const std::vector<std::string> &arguments, Invocation *invocation,
                    std::string *error) {
  *invocation = Invocation{};
  if (arguments.empty()) {
    *error = "no command given";
    return false;
  }
  for (const std::string &word : arguments) {
    if (word == "--help" || word == "-h") return true;
    if (word == "--") break;
  }
  const std::string &first = arguments.front();
  if (first == "--version") {
    invocation->command = Command::kVersion;
    return arguments.size() == 1 || (*error = "--version takes no arguments", false);
  }
  const CommandName *command = FindCommand(first);
  if (command == nullptr) {
    *error = "unknown command: " + first;
    return false;
  }
  invocation->command = command->command;
  bool type_seen = false;
  bool options_ended = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string &word = arguments[i];
    if (!options_ended && word == "--") {
      options_ended = true;
    } else if (!options_ended && IsOption(word)) {
      if (!ParseOption(word, &type_seen, invocation, error)) return false;
    } else {
      invocation->operands.push_back(word);
    }
  }
  size_t count = invocation->operands.size();
  if (count < command->fewest_operands || count > command->most_operands) {
    *error = std::string("wrong number of arguments for ") + command->name;
    return false;
  }
  return true;
}

}  // namespace tolvan::app
