#include "sec/destroy_inherited_environment.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sec/tool_data_limit.hpp"
#include "unix/executable_path.h"

extern char **environ;

namespace {

using Step = OSStatus (*)(char **argv);

OSStatus ReplaceArgv0WithExecutablePath(char **argv) {
  // With an empty argument vector argv[0] is the vector's terminator, and
  // writing it would turn the first environment entry into an argument.
  if (argv == nullptr || argv[0] == nullptr) return paramErr;
  char dummy = 0;
  uint32_t size = 0;
  (void)TolvanGetExecutablePath(&dummy, &size);
  if (size == 0) return -1;
  uint32_t allocated = size + 1;
  char *path = static_cast<char *>(std::malloc(allocated));
  if (path == nullptr) return ENOMEM;
  int status = TolvanGetExecutablePath(path, &allocated);
  if (status != 0) {
    std::free(path);
    return status;
  }
  argv[0] = path;  // stays allocated for the life of the process
  return noErr;
}

// unsetenv cannot remove an entry without '=' (nor one whose name is empty),
// so each pass must remove the first entry or the environment is cleared
// wholesale; either way the loop ends with no entry left.
OSStatus EmptyEnvironment(char **) {
  while (environ != nullptr && environ[0] != nullptr) {
    const char *first = environ[0];
    const char *equals = std::strchr(first, '=');
    size_t name_length = equals != nullptr ? size_t(equals - first) : std::strlen(first);
    char name[256];
    bool removed = false;
    if (equals != nullptr && name_length > 0 && name_length < sizeof name) {
      std::memcpy(name, first, name_length);
      name[name_length] = '\0';
      (void)unsetenv(name);
      removed = environ == nullptr || environ[0] != first;
    }
    if (!removed) (void)clearenv();
  }
  return noErr;
}

OSStatus CloseIgnoringNotOpen(int fd) {
  if (close(fd) == 0 || errno == EBADF) return noErr;
  return errno;
}

OSStatus CloseStandardDescriptors(char **) {
  for (int fd = 0; fd <= 2; ++fd) {
    OSStatus status = CloseIgnoringNotOpen(fd);
    if (status != noErr) return status;
  }
  return noErr;
}

// One call closes every descriptor from 3 up, also those above the current
// open-file limit (a caller can lower the limit after opening them), however
// large the descriptor table is. The loop is for kernels without the call.
OSStatus CloseOtherDescriptors(char **) {
  if (close_range(3, ~0U, 0) == 0) return noErr;
  if (errno != ENOSYS) return errno;
  int table_size = getdtablesize();
  for (int fd = 3; fd < table_size; ++fd) {
    OSStatus status = CloseIgnoringNotOpen(fd);
    if (status != noErr) return status;
  }
  return noErr;
}

bool DispositionIsFixed(int signal_number) {
  return signal_number == 0 || signal_number == SIGKILL || signal_number == SIGSTOP;
}

OSStatus ResetSignals(char **) {
  for (int signal_number = 0; signal_number < 32; ++signal_number) {
    if (signal(signal_number, SIG_DFL) == SIG_ERR && !DispositionIsFixed(signal_number)) {
      return errno;
    }
  }
  // An ignored real-time signal survives exec just like a standard one.
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    if (signal(signal_number, SIG_DFL) == SIG_ERR) return errno;
  }
  sigset_t empty;
  sigemptyset(&empty);
  if (sigprocmask(SIG_SETMASK, &empty, nullptr) != 0) return errno;
  return noErr;
}

OSStatus ResetUmask(char **) {
  (void)umask(077);
  return noErr;
}

// nice returns the new priority, and -1 is a legitimate one: only errno
// tells a failure apart.
OSStatus ResetNice(char **) {
  errno = 0;
  if (nice(0) == -1 && errno != 0) return errno;
  return noErr;
}

struct ResourceLimit {
  int32_t resource;
  uint64_t soft;
  uint64_t hard;
};

constexpr ResourceLimit kResourceLimits[] = {
    {RLIMIT_CPU, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_FSIZE, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_DATA, tolvan::kToolDataLimit, RLIM_INFINITY},
    {RLIMIT_STACK, 524288, 67108864},
    {RLIMIT_CORE, 0, RLIM_INFINITY},
    {RLIMIT_AS, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_MEMLOCK, RLIM_INFINITY, RLIM_INFINITY},
    {RLIMIT_NPROC, 100, RLIM_INFINITY},
    {RLIMIT_NOFILE, 256, RLIM_INFINITY},
};

// The hard limit is raised or lowered to the table's only where the
// kernel allows it: root without CAP_SYS_RESOURCE (in a container) cannot
// raise one, and no one can raise the open-file limit above fs.nr_open, so
// RLIM_INFINITY is always refused there. Where it cannot be set, and for
// every process that is not root, the inherited hard limit stays and the
// soft limit is the table's, lowered to that hard limit when it is above it.
// The safety of the table lies in the soft limits it lowers, which is always
// allowed; a caller's low hard limit then bites as a clean failure later.
OSStatus ApplyResourceLimit(const ResourceLimit &entry) {
  struct rlimit inherited;
  if (getrlimit(entry.resource, &inherited) != 0) return errno;
  if (geteuid() == 0) {
    const struct rlimit table = {entry.soft, entry.hard};
    if (setrlimit(entry.resource, &table) == 0) return noErr;
    if (errno != EPERM) return errno;
  }
  const struct rlimit kept = {std::min<rlim_t>(entry.soft, inherited.rlim_max), inherited.rlim_max};
  if (setrlimit(entry.resource, &kept) != 0) return errno;
  return noErr;
}

// The soft core limit of 0 could be raised again by the process itself;
// a non-dumpable process never writes a core file (which could hold a
// password or the root-only store), and cannot be attached to by the user.
OSStatus ResetResourceLimits(char **) {
  for (const ResourceLimit &entry : kResourceLimits) {
    OSStatus status = ApplyResourceLimit(entry);
    if (status != noErr) return status;
  }
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return errno;
  return noErr;
}

OSStatus ResetWorkingDirectory(char **) {
  if (chdir("/") != 0) return errno;
  return noErr;
}

OSStatus DisarmTimers(char **) {
  const struct itimerval disarmed = {};
  constexpr int kTimers[] = {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF};
  for (int timer : kTimers) {
    if (setitimer(timer, &disarmed, nullptr) != 0) return errno;
  }
  return noErr;
}

struct PreparationStep {
  uint32_t preserve_flag;
  Step run;
};

constexpr PreparationStep kSteps[] = {
    {kPreserveArgv0, ReplaceArgv0WithExecutablePath},
    {kPreserveEnvironment, EmptyEnvironment},
    {kPreserveStandardDescriptors, CloseStandardDescriptors},
    {kPreserveOtherDescriptors, CloseOtherDescriptors},
    {kPreserveSignals, ResetSignals},
    {kPreserveUmask, ResetUmask},
    {kPreserveNice, ResetNice},
    {kPreserveResourceLimits, ResetResourceLimits},
    {kPreserveWorkingDirectory, ResetWorkingDirectory},
    {kPreserveTimers, DisarmTimers},
};

}  // namespace

extern "C" OSStatus TolvanSecDestroyInheritedEnvironment(uint32_t flags, char **argv) {
  for (const PreparationStep &step : kSteps) {
    if ((flags & step.preserve_flag) != 0) continue;
    OSStatus status = step.run(argv);
    if (status != noErr) return status;
  }
  return noErr;
}
