// Started through the trampoline by the privileged-launch tests: with the
// arguments "--mark <path>" it first creates that file, to show that it ran
// at all. Then it reads its input to the end and reports on its output how
// it was started - its arguments, user ids, whether a privileged reference
// is handed to it (and to a second request), its environment, ignored and
// blocked signals, open descriptors and what descriptor 2 is - and what it read.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/auth/authorization.h"
#include "sec/tool_data_limit.hpp"

#ifdef TOLVAN_ADDRESS_SANITIZER_BUILD
// Started as a set-user-ID root program would be, so the leak check's
// attaching is refused: it would fail every run.
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }
#endif

extern char **environ;

namespace {

std::string ReadInput() {
  std::string input;
  char buffer[256];
  for (ssize_t got; (got = read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
    if (got < 0) return input + "<read failed>";
    input.append(buffer, static_cast<size_t>(got));
  }
  return input;
}

OSStatus AskForReference() {
  AuthorizationRef reference = nullptr;
  OSStatus status = AuthorizationCopyPrivilegedReference(&reference, kAuthorizationFlagDefaults);
  if (reference != nullptr) AuthorizationFree(reference, kAuthorizationFlagDefaults);
  return status;
}

std::string OpenDescriptors() {
  std::string list;
  DIR *folder = opendir("/proc/self/fd");
  if (folder == nullptr) return "<no /proc>";
  while (const struct dirent *entry = readdir(folder)) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(folder)) continue;
    list += std::string(list.empty() ? "" : " ") + entry->d_name;
  }
  closedir(folder);
  return list;
}

// The "SigIgn:" and "SigBlk:" lines of /proc/self/status.
std::string SignalMasks() {
  std::string masks;
  FILE *status = fopen("/proc/self/status", "re");
  if (status == nullptr) return "<no /proc>\n";
  char line[256];
  while (fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "SigIgn:", 7) == 0) masks += std::string("sigign=") + (line + 8);
    if (std::strncmp(line, "SigBlk:", 7) == 0) masks += std::string("sigblk=") + (line + 8);
  }
  fclose(status);
  return masks;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 2 && std::strcmp(argv[1], "--mark") == 0) {
    close(open(argv[2], O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  }
  const std::string input = ReadInput();
  std::string report = "pid=" + std::to_string(getpid()) + "\n";
  for (int i = 0; i < argc; ++i) report += "arg=" + std::string(argv[i]) + "\n";
  uid_t real = 0, effective = 0, saved = 0;
  getresuid(&real, &effective, &saved);
  report += "ids=" + std::to_string(real) + " " + std::to_string(effective) + " " +
            std::to_string(saved) + "\n";
  report += "reference=" + std::to_string(AskForReference()) + "\n";
  report += "again=" + std::to_string(AskForReference()) + "\n";
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    report += "env=" + std::string(*entry) + "\n";
  }
  report += SignalMasks();
  report += "fds=" + OpenDescriptors() + "\n";
  char target[256] = {};
  ssize_t length = readlink("/proc/self/fd/2", target, sizeof target - 1);
  report += "stderr=" + std::string(target, length > 0 ? static_cast<size_t>(length) : 0) + "\n";
  report += "input=" + input + "\n";
  fputs(report.c_str(), stdout);
  return fflush(stdout) == 0 ? 0 : 1;
}
