// Installing the built helper tool in the build's system root the way a
// package would: a root-owned folder chain, the file owned by root with
// mode 04555. For the end-to-end tests and the benchmark, which run as root.
#ifndef TOLVAN_TESTS_SUPPORT_INSTALLED_HELPER_TOOL_HPP
#define TOLVAN_TESTS_SUPPORT_INSTALLED_HELPER_TOOL_HPP

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tolvan::test {

// Creates every missing folder of path (absolute) owned by root, mode 0755.
inline bool MakeRootFolders(const std::string &path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

inline bool CopyFileContent(const std::string &from, int to) {
  int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = read(source, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 || write(to, buffer, size_t(n)) != n) {
      ok = false;
      break;
    }
  }
  close(source);
  return ok;
}

// Copies the built tool to <system root>/usr/libexec/tolvan/<name>, owned by
// root with mode 04555, replacing an earlier copy. The path, or "" on
// failure.
inline std::string InstallHelperTool(const std::string &name) {
  const std::string folder = std::string(TOLVAN_SYSTEM_ROOT) + "/usr/libexec/tolvan";
  const std::string path = folder + "/" + name;
  const std::string temporary = path + ".new";
  if (!MakeRootFolders(folder)) return "";
  unlink(temporary.c_str());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
  if (fd < 0) return "";
  bool ok = CopyFileContent(TOLVAN_HELPER_PATH, fd) && fchown(fd, 0, 0) == 0 &&
            fchmod(fd, 04555) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  // Renamed into place, so that a running copy is never written to.
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return path;
  unlink(temporary.c_str());
  return "";
}

// The preference store names its files after <system root>/etc/machine-id.
inline bool EnsureSystemRootMachineID() {
  const std::string folder = std::string(TOLVAN_SYSTEM_ROOT) + "/etc";
  const std::string path = folder + "/machine-id";
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0) return true;
  if (!MakeRootFolders(folder)) return false;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
  if (fd < 0) return errno == EEXIST;
  static const char kID[] = "5eed70015eed70015eed70015eed7001\n";
  bool ok = write(fd, kID, sizeof kID - 1) == ssize_t(sizeof kID - 1);
  return close(fd) == 0 && ok;
}

}  // namespace tolvan::test

#endif
