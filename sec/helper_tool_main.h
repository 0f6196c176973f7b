/* The generic helper-tool driver: one process serves one request.
 *
 * The tool's main prepares the process, then hands its standard input and
 * output (one local stream socket), the reference from
 * TolvanSecHelperToolCopyAuthRef and its command to TolvanSecHelperToolMain,
 * and turns the returned status into its exit status with
 * TolvanSecErrorToHelperToolResult (sec/helper_tool_result.h). */
#ifndef TOLVAN_SEC_HELPER_TOOL_MAIN_H
#define TOLVAN_SEC_HELPER_TOOL_MAIN_H

#include "platform/auth/authorization.h"
#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_dictionary.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A command: runs one request. authorization and request are borrowed.
 * *response is null on entry; the command may store a dictionary it owns
 * there, which the caller then releases (and whose kDescriptorArrayKey
 * descriptors it closes). The status travels to the application inside the
 * reply, under kErrorNumberKey, unless the response carries that key
 * itself. */
typedef OSStatus (*CommandProcedure)(AuthorizationRef authorization, CFDictionaryRef request,
                                     CFDictionaryRef *response);

/* Serves one request read from input with command, and writes the reply to
 * output. Owns authorization (which may be null) from the call on, and
 * frees it, or the reference it replaces it with, before returning.
 *
 * Arguments: none (argc 1) is the normal mode: the input carries the 32-byte
 * authorization external form, then one request frame. Exactly
 * "--self-repair" (argc 2) is the self-repair mode: it writes its process id
 * as a 4-byte big-endian word to output; without root at the start or
 * without a reference it then returns kHelperToolParamErr; otherwise it
 * makes the running executable root-owned with mode 04555 (refusing a path
 * that no longer names the running file) and only then serves the request
 * (docs/self-repair.md).
 * Anything else returns kHelperToolParamErr without reading or writing.
 *
 * The effective user ID is lowered to the real one before anything is read.
 * A process not started as root cannot serve a request itself: once the
 * external form has been accepted it relays the request through a
 * privileged copy of its executable started with "--self-repair"
 * (sec/self_repair_relay.hpp) and returns that copy's outcome, or the
 * status of the refused launch without reading the request.
 *
 * Status: 0 when the reply was written (also when the command failed: its
 * status is in the reply); otherwise the failure that ended the run: the
 * errno of lowering the effective user ID; -1, ENOMEM or an errno when the
 * executable's path cannot be found; 5361 for wrong arguments; EPIPE or an
 * errno when the external form cannot be read in full; the status of
 * AuthorizationCreateFromExternalForm; the status of reading the request,
 * building the reply or writing it; or the relay's status. */
OSStatus TolvanSecHelperToolMain(int input, int output, AuthorizationRef authorization,
                                 CommandProcedure command, int argc, char *const argv[]);

#ifdef __cplusplus
}
#endif

#endif
