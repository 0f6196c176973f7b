/* The result-code table between a helper tool's status and its process exit
 * status. The tool maps its status to an exit status 0 to 4 on the way out;
 * whoever waits for the tool (the relay, the application) maps the exit
 * status back to 0 or 5361 to 5364. A denied or cancelled authorization
 * therefore comes back from the round trip as 5362 or 5363, and every status
 * outside the table as 5364. */
#ifndef TOLVAN_SEC_HELPER_TOOL_RESULT_H
#define TOLVAN_SEC_HELPER_TOOL_RESULT_H

#include "platform/base/tolvan_status.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  kToolStatusSuccess = 0,
  kToolStatusParam = 1,
  kToolStatusDenied = 2,
  kToolStatusCancelled = 3,
  kToolStatusInternal = 4
};

/* 0 for 0; 2 for errAuthorizationDenied; 3 for errAuthorizationCanceled;
 * 1 to 4 for 5361 to 5364; 4 for everything else. */
int TolvanSecErrorToHelperToolResult(OSStatus status);

/* 0 for 0; 5360 plus the value for 1 to 4; 5364 (kHelperToolInternalErr) for
 * every other value, negative ones included. */
OSStatus TolvanSecHelperToolResultToError(int tool_result);

#ifdef __cplusplus
}
#endif

#endif
