#include "sec/self_repair_mode.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sec/read_and_dispatch_command.h"
#include "unix/full_transfer.h"
#include "unix/unique_fd.hpp"

namespace tolvan {
namespace {

// The word the relay waits on: big-endian like the frame's length word.
OSStatus WriteProcessIdWord(int output) {
  const uint32_t word = htonl(static_cast<uint32_t>(getpid()));
  return TolvanUNIXWrite(output, &word, sizeof word, nullptr);
}

bool SameFile(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

OSStatus CheckIsRunningFile(int fd) {
  struct stat opened;
  if (::fstat(fd, &opened) != 0) return errno;
  if (!S_ISREG(opened.st_mode)) return EPERM;
  UniqueFd running(::open("/proc/self/exe", O_PATH | O_CLOEXEC));
  if (!running) return errno;
  struct stat self;
  if (::fstat(running.get(), &self) != 0) return errno;
  return SameFile(opened, self) ? noErr : EPERM;
}

OSStatus ChangeOwnerAndMode(int fd) {
  if (::seteuid(0) != 0) return errno;
  OSStatus status = noErr;
  if (::fchown(fd, 0, static_cast<gid_t>(-1)) != 0) {
    status = errno;
  } else if (::fchmod(fd, static_cast<mode_t>(kRepairedMode)) != 0) {
    status = errno;
  }
  (void)::seteuid(::getuid());
  return status;
}

}  // namespace

OSStatus RepairRunningExecutable(const char *executablePath) noexcept {
  UniqueFd fd(::open(executablePath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0));
  if (!fd) return errno;
  OSStatus status = CheckIsRunningFile(fd.get());
  if (status != noErr) return status;
  return ChangeOwnerAndMode(fd.get());
}

OSStatus RunSelfRepairMode(int input, int output, bool startedAsRoot,
                           AuthorizationRef authorization, CommandProcedure command,
                           const char *executablePath) noexcept {
  OSStatus status = WriteProcessIdWord(output);
  if (status != noErr) return status;
  if (!startedAsRoot || authorization == nullptr) return kHelperToolParamErr;
  status = RepairRunningExecutable(executablePath);
  if (status != noErr) return status;
  return ReadAndDispatchCommand(input, output, authorization, command);
}

}  // namespace tolvan
