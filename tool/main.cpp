// The helper tool: started by an application on one end of a local stream
// socket (descriptors 0 and 1), installed owned by root and set-user-ID.
// It serves one request and reports how it went in its exit status.
#include <malloc.h>

#include "platform/auth/authorization.h"
#include "sec/destroy_inherited_environment.h"
#include "sec/helper_tool_auth_ref.h"
#include "sec/helper_tool_main.h"
#include "sec/helper_tool_result.h"
#include "sec/standard_descriptors.h"
#include "sec/tool_data_limit.hpp"
#include "tool/perform_command.h"
#include "unix/sigpipe.h"

#ifdef TOLVAN_ADDRESS_SANITIZER_BUILD
// The leak check at exit attaches to the process the way a debugger does,
// which a set-user-ID (non-dumpable) process refuses: it would fail every
// run. The library's leaks are checked by the in-process tests instead.
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }
#endif

namespace {

constexpr int kRequestInput = 0;
constexpr int kReplyOutput = 1;

}  // namespace

int main(int argc, char **argv) {
  // An empty argument vector has no argv[0] to replace: writing it would
  // turn the first environment entry into an argument.
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) return kToolStatusParam;
  // Before anything can open a file that would take a closed standard
  // descriptor's number and be read as the request or written as the reply.
  if (TolvanSecOpenMissingStandardDescriptors() != noErr) return kToolStatusInternal;
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);

  AuthorizationRef authorization = TolvanSecHelperToolCopyAuthRef();
  OSStatus status = TolvanSecDestroyInheritedEnvironment(kPreserveStandardDescriptors, argv);
  if (status == noErr) status = TolvanUNIXIgnoreSIGPIPE();
  if (status == noErr) {
    status = TolvanSecHelperToolMain(kRequestInput, kReplyOutput, authorization, PerformCommand,
                                     argc, argv);
  }
  return TolvanSecErrorToHelperToolResult(status);
}
