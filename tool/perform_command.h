/* The helper tool's one command: writing preference pairs machine-wide. */
#ifndef TOLVAN_TOOL_PERFORM_COMMAND_H
#define TOLVAN_TOOL_PERFORM_COMMAND_H

#include "platform/auth/authorization.h"
#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_string.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The application id under which every pair is stored, for any user on the
 * current host. */
#define kProductPreferencesIDString "org.tolvan.prefs"
#define kProductPreferencesID CFSTR(kProductPreferencesIDString)

/* A CommandProcedure (sec/helper_tool_main.h). Asks for
 * "system.privilege.admin" on authorization (borrowed), with interaction;
 * once it is granted, becomes root, stages every pair of request (borrowed)
 * unchanged in kProductPreferencesID for any user on the current host, in
 * the request's enumeration order, saves them, and gives up root for good.
 * response is never written.
 *
 * 0 when the pairs were saved; 1 when the save failed (no pair is undone);
 * -50 when a key is not a string (nothing asked, nothing written); -108 out
 * of memory (nothing asked); otherwise the status of AuthorizationCopyRights
 * (-60005 denied, -60006 cancelled), with nothing written and the identity
 * untouched. */
OSStatus PerformCommand(AuthorizationRef authorization, CFDictionaryRef request,
                        CFDictionaryRef *response);

#ifdef __cplusplus
}
#endif

#endif
