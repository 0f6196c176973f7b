#include "sec/helper_tool_exit.hpp"

#include <sys/wait.h>

#include <cerrno>

#include "sec/helper_tool_result.h"

namespace tolvan {

int WaitForHelperTool(pid_t pid, int *status_word) noexcept {
  bool retried_echild = false;
  for (;;) {
    if (::waitpid(pid, status_word, 0) >= 0) return 0;
    const int error = errno;
    if (error == EINTR) continue;
    if (error == ECHILD && !retried_echild) {
      retried_echild = true;
      continue;
    }
    return error;
  }
}

OSStatus HelperToolStatusFromWaitStatus(int status_word) noexcept {
  if (!WIFEXITED(status_word)) return kHelperToolInternalErr;
  return TolvanSecHelperToolResultToError(WEXITSTATUS(status_word));
}

bool HelperToolEndedEarly(OSStatus exchange_status) noexcept {
  return exchange_status == EPIPE || exchange_status == ECONNRESET;
}

}  // namespace tolvan
