#include "sec/execute_request.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/cf/cf_ref.hpp"
#include "plist/varn_shared.h"
#include "sec/dictionary_channel.h"
#include "sec/helper_tool_exit.hpp"
#include "sec/helper_tool_result.h"
#include "sec/listed_descriptors.hpp"
#include "unix/full_transfer.h"
#include "unix/unique_fd.hpp"

namespace tolvan {
namespace {

constexpr CFIndex kToolPathSize = kFSRefPathCapacity;
constexpr pid_t kNoChild = -1;

OSStatus CopyToolPath(CFURLRef toolURL, char (&path)[kToolPathSize]) {
  return VarnErrorBoolean(CFURLGetFileSystemRepresentation(
      toolURL, true, reinterpret_cast<UInt8 *>(path), kToolPathSize));
}

// An application started with descriptor 0 or 1 closed gets a pair end
// there. The child's dup2 onto 0 and 1 followed by closing both ends would
// then close the tool's own input or output, so both ends live above the
// standard descriptors.
int MoveAboveStandardDescriptors(UniqueFd *end) {
  if (end->get() > STDERR_FILENO) return 0;
  const int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) return errno;
  end->reset(moved);
  return 0;
}

// Close-on-exec, so that no other child of the application inherits an
// end; dup2 gives the tool its descriptors 0 and 1 without the flag.
int CreateSocketPair(UniqueFd *tool_end, UniqueFd *application_end) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return errno;
  tool_end->reset(pair[0]);
  application_end->reset(pair[1]);
  const int error = MoveAboveStandardDescriptors(tool_end);
  return error != 0 ? error : MoveAboveStandardDescriptors(application_end);
}

// Until it calls execl or _exit the child runs on this process's memory and
// stack, so it makes no call but these. Every failure leaves with the exit
// status that TolvanSecErrorToHelperToolResult gives for any errno value.
pid_t StartTool(const char *path, int tool_end, int application_end) {
  const pid_t pid = ::vfork();
  if (pid != 0) return pid;
  if (::dup2(tool_end, STDIN_FILENO) < 0 || ::dup2(tool_end, STDOUT_FILENO) < 0) {
    ::_exit(kToolStatusInternal);
  }
  ::close(tool_end);
  ::close(application_end);
  ::execl(path, path, static_cast<char *>(nullptr));
  ::_exit(kToolStatusInternal);
}

OSStatus Exchange(int socket, const AuthorizationExternalForm &form, CFDictionaryRef request,
                  CFRef<CFDictionaryRef> *reply) {
  OSStatus status = TolvanUNIXWrite(socket, form.bytes, sizeof form.bytes, nullptr);
  if (status == noErr) status = WriteDictionaryToDescriptor(request, socket);
  // The tool (or the relay copying the request) reads until this end.
  if (status == noErr && ::shutdown(socket, SHUT_WR) != 0) status = errno;
  if (status == noErr) status = CopyDictionaryTranslatingDescriptors(socket, reply->out());
  return status;
}

OSStatus DecideResult(OSStatus exchange_status, OSStatus wait_error, int status_word) {
  if (exchange_status != noErr && !HelperToolEndedEarly(exchange_status)) return exchange_status;
  if (wait_error != noErr) return wait_error;
  const OSStatus tool_status = HelperToolStatusFromWaitStatus(status_word);
  // A tool that went away before replying cannot have succeeded, whatever
  // it exited with: there is no reply to hand out.
  if (exchange_status != noErr && tool_status == noErr) return kHelperToolInternalErr;
  return tool_status;
}

void CloseAndRelease(CFRef<CFDictionaryRef> *reply) {
  if (!*reply) return;
  CloseListedDescriptors(reply->get());
  reply->reset();
}

// One run from socket pair to reaped child. Both ends are closed on every
// path, the application's before the wait, so that a tool still reading or
// writing sees the end of the stream instead of blocking the wait.
OSStatus RunTool(const char *path, const AuthorizationExternalForm &form, CFDictionaryRef request,
                 CFRef<CFDictionaryRef> *reply) {
  UniqueFd tool_end, application_end;
  const int pair_error = CreateSocketPair(&tool_end, &application_end);
  if (pair_error != 0) return pair_error;
  const pid_t child = StartTool(path, tool_end.get(), application_end.get());
  const int start_error = child == kNoChild ? errno : 0;
  tool_end.reset();
  if (child == kNoChild) return start_error;
  const OSStatus exchange_status = Exchange(application_end.get(), form, request, reply);
  application_end.reset();
  int status_word = 0;
  const OSStatus wait_error = WaitForHelperTool(child, &status_word);
  return DecideResult(exchange_status, wait_error, status_word);
}

}  // namespace
}  // namespace tolvan

extern "C" OSStatus TolvanSecExecuteRequestInHelperTool(CFURLRef toolURL,
                                                        AuthorizationRef authorization,
                                                        CFDictionaryRef request,
                                                        CFDictionaryRef *response) {
  using namespace tolvan;
  if (toolURL == nullptr || request == nullptr || response == nullptr || *response != nullptr) {
    return paramErr;
  }
  char path[kToolPathSize];
  OSStatus status = CopyToolPath(toolURL, path);
  if (status != noErr) return status;
  AuthorizationExternalForm form;
  status = AuthorizationMakeExternalForm(authorization, &form);
  if (status != noErr) return status;
  CFRef<CFDictionaryRef> reply;
  status = RunTool(path, form, request, &reply);
  if (status != noErr) {
    CloseAndRelease(&reply);
    return status;
  }
  *response = reply.release();
  return noErr;
}
