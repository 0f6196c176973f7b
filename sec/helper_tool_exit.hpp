// Waiting for a helper tool and turning how it ended into a status, for
// every process that starts one (the application side, the self-repair
// relay).
#ifndef TOLVAN_SEC_HELPER_TOOL_EXIT_HPP
#define TOLVAN_SEC_HELPER_TOOL_EXIT_HPP

#include <sys/types.h>

#include "platform/base/tolvan_status.h"

namespace tolvan {

// Waits for the child pid and stores its wait status. 0, or the errno of
// the wait that failed. A wait interrupted by a signal is repeated, so that
// the child is never left unreaped; one that fails with ECHILD is repeated
// once.
[[nodiscard]] int WaitForHelperTool(pid_t pid, int *status_word) noexcept;

// 0 or 5361 to 5364 for an exit status by the result-code table; 5364 for a
// tool that did not exit (killed by a signal, or stopped).
[[nodiscard]] OSStatus HelperToolStatusFromWaitStatus(int status_word) noexcept;

// Whether an exchange failed because the tool closed its end first: EPIPE,
// or ECONNRESET, which Linux reports instead when the tool closed its end
// with input still unread.
[[nodiscard]] bool HelperToolEndedEarly(OSStatus exchange_status) noexcept;

}  // namespace tolvan

#endif
