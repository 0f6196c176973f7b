/* The dispatch step of the helper-tool driver: internal to the library,
 * shared by the driver's normal and self-repair modes. */
#ifndef TOLVAN_SEC_READ_AND_DISPATCH_COMMAND_H
#define TOLVAN_SEC_READ_AND_DISPATCH_COMMAND_H

#include "sec/helper_tool_main.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads one request frame from input, runs command on it with the borrowed
 * authorization, lowers the effective user ID to the real one again, and
 * writes the reply, with the descriptors it lists, to output.
 *
 * The reply is the command's response with kErrorNumberKey added (a signed
 * 32-bit number holding the command's status), or a dictionary with that
 * one pair when the command left no response. A response that already holds
 * kErrorNumberKey is sent unchanged. The descriptors the reply lists are
 * closed afterwards, also when writing it failed.
 *
 * Status: that of reading the request (no command runs and nothing is
 * written), of building the reply (-4960) or of writing it; never the
 * command's status. */
OSStatus ReadAndDispatchCommand(int input, int output, AuthorizationRef authorization,
                                CommandProcedure command);

#ifdef __cplusplus
}
#endif

#endif
