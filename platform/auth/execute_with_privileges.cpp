// Starting a program as root through the set-user-ID trampoline. The
// trampoline judges the right itself; this side only checks that the file
// it is about to start is a set-user-ID file of root's, speaks the
// trampoline's protocol and hands the socket over as a stream.
#include <fcntl.h>
#include <linux/close_range.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/auth/authorization.h"
#include "platform/auth/authorization_reference.hpp"
#include "platform/auth/trampoline_protocol.hpp"
#include "platform/auth/trusted_path.hpp"
#include "platform/base/system_root.hpp"
#include "unix/full_transfer.h"
#include "unix/raised_soft_limit.hpp"
#include "unix/unique_fd.hpp"

using tolvan::UniqueFd;

namespace {

constexpr int kExecFailedStatus = 127;

// A root-owned, set-user-ID trampoline that no one else can write, opened so
// that the file checked is the file executed.
OSStatus OpenTrampoline(UniqueFd *out) {
  int error = 0;
  UniqueFd root = tolvan::auth::OpenSystemRoot(&error);
  if (!root) return errAuthorizationInternal;
  UniqueFd trampoline = tolvan::auth::OpenTrustedPath(root.get(), tolvan::auth::kTrampolinePath,
                                                      tolvan::auth::EntryKind::kFile, &error);
  struct stat info;
  if (!trampoline || ::fstat(trampoline.get(), &info) != 0 || (info.st_mode & S_ISUID) == 0) {
    return errAuthorizationInternal;
  }
  *out = std::move(trampoline);
  return errAuthorizationSuccess;
}

// Puts fd on target without the close-on-exec flag; dup2 onto itself would
// leave the flag set.
bool PlaceOn(int fd, int target) {
  if (fd == target) return ::fcntl(fd, F_SETFD, 0) == 0;
  return ::dup2(fd, target) == target;
}

// After fork: only async-signal-safe calls, everything prepared before.
[[noreturn]] void BecomeTrampoline(int trampoline, int link, char *const argv[]) {
  if (!PlaceOn(link, STDIN_FILENO) || !PlaceOn(link, STDOUT_FILENO)) ::_exit(kExecFailedStatus);
  // The trampoline closes them too; marking them keeps the caller's files
  // out of even its first instructions where the kernel supports it.
  (void)::syscall(SYS_close_range, STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
  char *const empty[] = {nullptr};
  ::syscall(SYS_execveat, trampoline, "", argv, empty, AT_EMPTY_PATH);
  ::_exit(kExecFailedStatus);
}

void Reap(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// The caller may not ignore SIGPIPE; a trampoline that is already gone
// shows up as a missing status word.
void SendForm(int link, const AuthorizationExternalForm &form) {
  size_t sent = 0;
  while (sent < sizeof form.bytes) {
    ssize_t n = ::send(link, form.bytes + sent, sizeof form.bytes - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

OSStatus ReceiveStatus(int link) {
  unsigned char word[tolvan::auth::kStatusWordLength];
  if (TolvanUNIXRead(link, word, sizeof word, nullptr) != 0) {
    return errAuthorizationToolExecuteFailure;
  }
  return tolvan::auth::DecodeStatusWord(word);
}

OSStatus Launch(AuthorizationRef authorization, const char *pathToTool, char *const *arguments,
                FILE **communicationsPipe) {
  UniqueFd trampoline;
  OSStatus status = OpenTrampoline(&trampoline);
  if (status != errAuthorizationSuccess) return status;

  const std::string trampolinePath = tolvan::SystemPath(tolvan::auth::kTrampolinePath);
  std::vector<char *> argv = {const_cast<char *>(trampolinePath.c_str()),
                              const_cast<char *>(tolvan::auth::kExecuteOption),
                              const_cast<char *>(pathToTool)};
  for (char *const *argument = arguments; argument != nullptr && *argument != nullptr; ++argument) {
    argv.push_back(*argument);
  }
  argv.push_back(nullptr);
  AuthorizationExternalForm form;
  status = AuthorizationMakeExternalForm(authorization, &form);
  if (status != errAuthorizationSuccess) return status;

  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return errno;
  UniqueFd ours(ends[0]);
  UniqueFd theirs(ends[1]);
  // Made before the program runs, so that nothing can fail once it does.
  FILE *stream = ::fdopen(ours.get(), "r+");
  if (stream == nullptr) return errno == ENOMEM ? memFullErr : errno;
  (void)ours.release();

  // A tool copy keeps a low soft limit on the user's processes.
  pid_t pid = tolvan::ForkPastSoftProcessLimit();
  if (pid == 0) BecomeTrampoline(trampoline.get(), theirs.get(), argv.data());
  const int forkError = errno;
  theirs.reset();
  if (pid < 0) {
    ::fclose(stream);
    return forkError;
  }
  SendForm(::fileno(stream), form);
  status = ReceiveStatus(::fileno(stream));
  if (status != errAuthorizationSuccess) {
    ::fclose(stream);
    Reap(pid);
    return status;
  }
  *communicationsPipe = stream;
  return errAuthorizationSuccess;
}

}  // namespace

extern "C" OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization,
                                                       const char *pathToTool,
                                                       AuthorizationFlags options,
                                                       char *const *arguments,
                                                       FILE **communicationsPipe) {
  if (communicationsPipe != nullptr) *communicationsPipe = nullptr;
  if (!tolvan::auth::IsReference(authorization)) return errAuthorizationInvalidRef;
  if (pathToTool == nullptr || communicationsPipe == nullptr) {
    return errAuthorizationInvalidPointer;
  }
  if (options != kAuthorizationFlagDefaults) return errAuthorizationInvalidFlags;
  try {
    return Launch(authorization, pathToTool, arguments, communicationsPipe);
  } catch (const std::bad_alloc &) {
    return memFullErr;
  }
}
