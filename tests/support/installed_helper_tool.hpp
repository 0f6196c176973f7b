// Installing the built helper tool and the trampoline in the build's system
// root the way a package would: a root-owned folder chain, the files owned
// by root and set-user-ID. For the end-to-end tests and the benchmark, which
// run as root.
#ifndef TOLVAN_TESTS_SUPPORT_INSTALLED_HELPER_TOOL_HPP
#define TOLVAN_TESTS_SUPPORT_INSTALLED_HELPER_TOOL_HPP

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/authorization_accounts.hpp"
#include "unix/copy.h"

namespace tolvan::test {

inline bool CopyFileContent(const std::string &from, int to) {
  int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  bool ok = TolvanUNIXCopyDescriptorToDescriptor(source, to) == 0;
  close(source);
  return ok;
}

// Copies the built file source to <system root>/usr/libexec/tolvan/<name>,
// owned by root with mode, replacing an earlier copy. The path, or "" on
// failure.
inline std::string InstallRootOwnedCopy(const std::string &source, const std::string &name,
                                        mode_t mode) {
  const std::string folder = SystemRootPath("usr/libexec/tolvan");
  const std::string path = folder + "/" + name;
  // Test programs run in parallel and may install the same file at once.
  const std::string temporary = path + ".new." + std::to_string(getpid());
  if (!MakeRootOwnedFolders(folder)) return "";
  unlink(temporary.c_str());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
  if (fd < 0) return "";
  bool ok = CopyFileContent(source, fd) && fchown(fd, 0, 0) == 0 && fchmod(fd, mode) == 0 &&
            fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  // Renamed into place, so that a running copy is never written to.
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return path;
  unlink(temporary.c_str());
  return "";
}

// The helper tool, mode 04555.
inline std::string InstallHelperTool(const std::string &name) {
  return InstallRootOwnedCopy(TOLVAN_HELPER_PATH, name, 04555);
}

// The trampoline AuthorizationExecuteWithPrivileges starts, at its fixed
// path, root's with mode 04755. Every test that launches through it writes
// the shared policy and so holds AuthorizationSetupLock; a test that
// installs it with another mode must hold that lock until it has put the
// set-user-ID copy back.
#ifdef TOLVAN_AUTHEXEC_PATH
inline std::string InstallTrampoline(mode_t mode = 04755) {
  return InstallRootOwnedCopy(TOLVAN_AUTHEXEC_PATH, "tolvan-authexec", mode);
}
#endif

// The preference store names its files after <system root>/etc/machine-id.
inline bool EnsureSystemRootMachineID() {
  const std::string path = SystemRootPath("etc/machine-id");
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0) return true;
  return WriteRootOwnedFile(path, "5eed70015eed70015eed70015eed7001\n", 0444);
}

}  // namespace tolvan::test

#endif
