// The set-user-ID trampoline: runs one program as root for an administrator
// who has just been judged here. Started by AuthorizationExecuteWithPrivileges
// as
//   tolvan-authexec --execute <absolute program path> [args...]
// with descriptors 0 and 1 on a local stream socket; it reads the caller's
// 32-byte external form, answers with one status word, and on 0 becomes the
// program. The caller controls everything it inherits, so nothing of that
// is trusted, and the program is executed from the descriptor that was
// checked, never from its path again.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "platform/auth/authorization.h"
#include "platform/auth/held_authorization.hpp"
#include "platform/auth/launch_record_store.hpp"
#include "platform/auth/rights_judgement.hpp"
#include "platform/auth/trampoline_protocol.hpp"
#include "platform/auth/trusted_path.hpp"
#include "sec/destroy_inherited_environment.h"
#include "sec/euid.h"
#include "sec/standard_descriptors.h"
#include "sec/tool_data_limit.hpp"
#include "unix/full_transfer.h"
#include "unix/raised_soft_limit.hpp"
#include "unix/sigpipe.h"
#include "unix/unique_fd.hpp"

#ifdef TOLVAN_ADDRESS_SANITIZER_BUILD
// The leak check at exit attaches to the process the way a debugger does,
// which a set-user-ID (non-dumpable) process refuses.
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }
#endif

namespace {

using tolvan::UniqueFd;

constexpr int kFormInput = 0;
constexpr int kStatusOutput = 1;
constexpr int kUsageExit = 1;
constexpr int kRefusedExit = 1;
constexpr int kExecFailedExit = 127;
constexpr int kProgramArgument = 2;

// The program's whole environment: a root program started by a user must
// not look up commands or libraries where that user says.
char kProgramPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
char *const kProgramEnvironment[] = {kProgramPath, nullptr};

bool IsInvocation(int argc, char **argv) {
  return argc > kProgramArgument && argv != nullptr &&
         std::strcmp(argv[1], tolvan::auth::kExecuteOption) == 0;
}

// Root's own file, set-user-ID, and started that way (not, say, copied by a
// user or run from a nosuid mount).
OSStatus CheckStartedSetUserIDRoot() {
  struct stat self;
  if (::stat("/proc/self/exe", &self) != 0 || self.st_uid != 0 || (self.st_mode & S_ISUID) == 0 ||
      ::geteuid() != 0) {
    return errAuthorizationInternal;
  }
  return errAuthorizationSuccess;
}

bool SendStatus(OSStatus status) {
  unsigned char word[tolvan::auth::kStatusWordLength];
  tolvan::auth::EncodeStatusWord(status, word);
  return TolvanUNIXWrite(kStatusOutput, word, sizeof word, nullptr) == 0;
}

OSStatus ReceiveReference(AuthorizationRef *authorization) {
  AuthorizationExternalForm form;
  if (TolvanUNIXRead(kFormInput, form.bytes, sizeof form.bytes, nullptr) != 0) {
    return errAuthorizationInvalidRef;
  }
  return AuthorizationCreateFromExternalForm(&form, authorization);
}

// What the kernel will run from an open descriptor: an ELF image with an
// execute bit on a volume that allows execution. A script would need its
// path again (the interpreter opens it by name), so it is refused here,
// before the caller is told the program runs.
bool IsExecutableImage(int fd, const struct stat &info) {
  static constexpr unsigned char kElfMagic[4] = {0x7f, 'E', 'L', 'F'};
  unsigned char magic[sizeof kElfMagic];
  struct statvfs volume;
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0 &&
         ::fstatvfs(fd, &volume) == 0 && (volume.f_flag & ST_NOEXEC) == 0 &&
         ::pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
         std::memcmp(magic, kElfMagic, sizeof magic) == 0;
}

// Opened as the real user, so only what that user may read can be named;
// O_NONBLOCK keeps a FIFO from holding the trampoline.
OSStatus OpenProgram(const char *path, UniqueFd *out, struct stat *info) {
  if (path[0] != '/') return errAuthorizationToolExecuteFailure;
  UniqueFd program(::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!program || ::fstat(program.get(), info) != 0 || !IsExecutableImage(program.get(), *info)) {
    return errAuthorizationToolExecuteFailure;
  }
  *out = std::move(program);
  return errAuthorizationSuccess;
}

OSStatus LeaveRecord(const struct stat &program) {
  tolvan::auth::LaunchRecord record;
  if (!tolvan::auth::DescribeThisProcessRunning(program, &record)) return errAuthorizationInternal;
  bool stored = false;
  const bool ran = tolvan::auth::AsRootAtSystemRoot(
      [&](int root) { stored = tolvan::auth::StoreLaunchRecord(root, record); });
  return ran && stored ? errAuthorizationSuccess : errAuthorizationInternal;
}

void DiscardRecord() {
  (void)tolvan::auth::AsRootAtSystemRoot(
      [](int root) { tolvan::auth::DiscardLaunchRecord(root, ::getpid()); });
}

// Everything up to the status word: the judgement and the program.
OSStatus PrepareLaunch(const char *path, UniqueFd *program) {
  OSStatus status = CheckStartedSetUserIDRoot();
  if (status != errAuthorizationSuccess) return status;
  status = TolvanSecTemporarilySetNonPrivilegedEUID();
  if (status != noErr) return errAuthorizationInternal;
  // The reference only proves the form; the right is judged for the real user.
  tolvan::auth::HeldAuthorization authorization;
  status = ReceiveReference(authorization.out());
  if (status != errAuthorizationSuccess) return status;
  authorization.reset();
  status = tolvan::auth::JudgeAdminRight(kAuthorizationFlagInteractionAllowed);
  if (status != errAuthorizationSuccess) return status;
  struct stat info;
  status = OpenProgram(path, program, &info);
  if (status != errAuthorizationSuccess) return status;
  return LeaveRecord(info);
}

// The program starts as a set-user-ID root program started by the caller
// would: real user the caller's, effective and saved user root.
[[noreturn]] void BecomeProgram(int program, char **argv) {
  if (TolvanSecSetPrivilegedEUID() == noErr) {
    // The data limit of the table suits this process, not the program's
    // work; the exec ends this scope without putting it back.
    tolvan::RaisedSoftLimit data(RLIMIT_DATA);
    ::signal(SIGPIPE, SIG_DFL);
    ::syscall(SYS_execveat, program, "", argv, kProgramEnvironment, AT_EMPTY_PATH);
  }
  DiscardRecord();
  ::_exit(kExecFailedExit);
}

}  // namespace

int main(int argc, char **argv) {
  if (!IsInvocation(argc, argv)) return kUsageExit;
  // Before anything is opened that would take a closed standard
  // descriptor's number and be read as the form or written as the status.
  if (TolvanSecOpenMissingStandardDescriptors() != noErr) return kRefusedExit;
  if (TolvanSecDestroyInheritedEnvironment(kPreserveStandardDescriptors, argv) != noErr ||
      TolvanUNIXIgnoreSIGPIPE() != 0) {
    return kRefusedExit;
  }
  UniqueFd program;
  const OSStatus status = PrepareLaunch(argv[kProgramArgument], &program);
  if (status != errAuthorizationSuccess) {
    (void)SendStatus(status);
    return kRefusedExit;
  }
  // No one is left to talk to the program.
  if (!SendStatus(errAuthorizationSuccess)) {
    DiscardRecord();
    return kRefusedExit;
  }
  BecomeProgram(program.get(), argv + kProgramArgument);
}
