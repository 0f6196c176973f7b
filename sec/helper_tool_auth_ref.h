/* The authorization reference a privileged launch hands to the helper tool. */
#ifndef TOLVAN_SEC_HELPER_TOOL_AUTH_REF_H
#define TOLVAN_SEC_HELPER_TOOL_AUTH_REF_H

#include "platform/auth/authorization.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The reference the platform passed to this process when it was started
 * with privileges, owned by the caller (free it with AuthorizationFree);
 * null when there is none, which is the normal case for a tool started by
 * an application. Call it first in main, before the inherited process state
 * is reset: the hand-over may travel in that state. */
AuthorizationRef TolvanSecHelperToolCopyAuthRef(void);

#ifdef __cplusplus
}
#endif

#endif
