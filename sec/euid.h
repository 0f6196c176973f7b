/* The helper tool's three identity operations. Each makes one system call
 * and returns 0, or the errno value it failed with.
 *
 * A set-user-ID root tool starts with effective user 0 and a saved
 * set-user-ID of 0. Lowering the effective user ID temporarily keeps the
 * saved ID, so root can be taken back; lowering it permanently, made while
 * the effective user ID is 0, sets all three IDs to the real user and cannot
 * be undone. */
#ifndef TOLVAN_SEC_EUID_H
#define TOLVAN_SEC_EUID_H

#include "platform/base/tolvan_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* seteuid(0): possible while the saved set-user-ID is 0. */
OSStatus TolvanSecSetPrivilegedEUID(void);

/* seteuid(getuid()): the saved set-user-ID stays, so the call above can
 * undo this one. */
OSStatus TolvanSecTemporarilySetNonPrivilegedEUID(void);

/* setuid(getuid()): with effective user 0 this sets the real, effective and
 * saved user IDs to the real user for good. */
OSStatus TolvanSecPermanentlySetNonPrivilegedEUID(void);

#ifdef __cplusplus
}
#endif

#endif
