#include "app/write_command.hpp"

#include "app/output.hpp"
#include "app/request_sender.hpp"
#include "app/value_parsing.hpp"
#include "platform/cf/cf_dictionary.h"

namespace tolvan::app {

ExitCode RunWrite(const Invocation &invocation) {
  std::string error;
  CFRef<CFPropertyListRef> key = ParseValue(ValueType::kString, invocation.operands.at(0), &error);
  if (!key) {
    Complain("the key: " + error);
    return kExitUsage;
  }
  CFRef<CFPropertyListRef> value = ParseValue(invocation.type, invocation.operands.at(1), &error);
  if (!value) {
    Complain(error);
    return kExitUsage;
  }
  const void *keys[] = {key.get()};
  const void *values[] = {value.get()};
  auto request = CFRef<CFDictionaryRef>::Adopt(
      CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                         &kCFTypeDictionaryValueCallBacks));
  if (!request) {
    Complain("out of memory");
    return kExitFailure;
  }
  return SendRequestAndReport(request.get());
}

}  // namespace tolvan::app
