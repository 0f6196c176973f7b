#include "app/read_command.hpp"

#include <cstdio>

#include "app/output.hpp"
#include "platform/cf/cf_ref.hpp"
#include "platform/cf/cf_string.h"
#include "platform/prefs/preferences.h"
#include "tool/perform_command.h"

namespace tolvan::app {
namespace {

CFRef<CFPropertyListRef> CopyAllValues() {
  return CFRef<CFPropertyListRef>::Adopt(CFPreferencesCopyMultiple(
      nullptr, kProductPreferencesID, kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
}

ExitCode ReadOneKey(const std::string &name, bool xml) {
  auto key = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, name.c_str(), kCFStringEncodingUTF8));
  if (!key) {
    Complain("the key is not valid UTF-8");
    return kExitUsage;
  }
  auto value = CFRef<CFPropertyListRef>::Adopt(CFPreferencesCopyValue(
      key.get(), kProductPreferencesID, kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
  if (!value) {
    // Tell a missing key from a store that cannot be read.
    if (!CopyAllValues()) {
      Complain("cannot read the machine-wide preferences");
      return kExitFailure;
    }
    Complain("no value for key " + name);
    return kExitNoSuchKey;
  }
  bool printed = xml ? PrintXML(value.get(), stdout) : PrintDescription(value.get(), stdout);
  return printed ? kExitSuccess : kExitFailure;
}

}  // namespace

ExitCode RunRead(const Invocation &invocation) {
  ExitCode code;
  if (!invocation.operands.empty()) {
    code = ReadOneKey(invocation.operands.front(), invocation.xml);
  } else if (CFRef<CFPropertyListRef> values = CopyAllValues()) {
    bool printed = invocation.xml ? PrintXML(values.get(), stdout)
                                  : PrintDescription(values.get(), stdout);
    code = printed ? kExitSuccess : kExitFailure;
  } else {
    Complain("cannot read the machine-wide preferences");
    code = kExitFailure;
  }
  if (std::fflush(stdout) != 0 && code == kExitSuccess) {
    Complain("cannot write to standard output");
    code = kExitFailure;
  }
  return code;
}

}  // namespace tolvan::app
