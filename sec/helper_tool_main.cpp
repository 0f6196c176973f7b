#include "sec/helper_tool_main.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/auth/held_authorization.hpp"
#include "platform/base/heap_buffer.hpp"
#include "sec/euid.h"
#include "sec/read_and_dispatch_command.h"
#include "sec/self_repair_mode.hpp"
#include "sec/self_repair_relay.hpp"
#include "unix/executable_path.h"
#include "unix/full_transfer.h"

namespace {

using tolvan::auth::HeldAuthorization;

enum class Mode { kNormal, kSelfRepair };

constexpr const char kSelfRepairArgument[] = "--self-repair";

OSStatus ChooseMode(int argc, char *const argv[], Mode *mode) {
  if (argc == 1) {
    *mode = Mode::kNormal;
    return noErr;
  }
  if (argc == 2 && argv != nullptr && argv[1] != nullptr &&
      std::strcmp(argv[1], kSelfRepairArgument) == 0) {
    *mode = Mode::kSelfRepair;
    return noErr;
  }
  return kHelperToolParamErr;
}

// The relay and the self-repair mode need the path of the running file.
OSStatus CopyExecutablePath(tolvan::HeapBuffer *path) {
  char scratch = 0;
  uint32_t size = 0;
  (void)TolvanGetExecutablePath(&scratch, &size);
  if (size == 0) return -1;
  uint32_t allocated = size + 1;
  tolvan::HeapBuffer buffer = tolvan::HeapBuffer::Allocate(allocated);
  if (!buffer) return ENOMEM;
  OSStatus status = TolvanGetExecutablePath(reinterpret_cast<char *>(buffer.data()), &allocated);
  if (status == noErr) *path = std::move(buffer);
  return status;
}

OSStatus ReadAuthorization(int input, HeldAuthorization *held) {
  held->reset();
  AuthorizationExternalForm form;
  OSStatus status = TolvanUNIXRead(input, &form, sizeof form, nullptr);
  if (status != noErr) return status;
  return AuthorizationCreateFromExternalForm(&form, held->out());
}

OSStatus RunNormalMode(int input, int output, bool started_as_root, HeldAuthorization *held,
                       CommandProcedure command, const char *executable_path) {
  OSStatus status = ReadAuthorization(input, held);
  if (status != noErr) return status;
  // Without root the request can only be served by a privileged copy,
  // which repairs this file on the way.
  if (!started_as_root) {
    return tolvan::ExecuteSelfInPrivilegedSelfRepairMode(input, output, held->get(),
                                                         executable_path);
  }
  return ReadAndDispatchCommand(input, output, held->get(), command);
}

}  // namespace

extern "C" OSStatus TolvanSecHelperToolMain(int input, int output, AuthorizationRef authorization,
                                            CommandProcedure command, int argc,
                                            char *const argv[]) {
  HeldAuthorization held(authorization);
  const bool started_as_root = geteuid() == 0;
  OSStatus status = TolvanSecTemporarilySetNonPrivilegedEUID();
  if (status != noErr) return status;

  tolvan::HeapBuffer executable_path;
  status = CopyExecutablePath(&executable_path);
  if (status != noErr) return status;

  Mode mode;
  status = ChooseMode(argc, argv, &mode);
  if (status != noErr) return status;

  const char *path = reinterpret_cast<const char *>(executable_path.data());
  if (mode == Mode::kSelfRepair) {
    return tolvan::RunSelfRepairMode(input, output, started_as_root, held.get(), command, path);
  }
  return RunNormalMode(input, output, started_as_root, &held, command, path);
}
