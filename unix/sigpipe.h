/* Ignoring SIGPIPE, so that a write to a peer that has gone away fails with
 * EPIPE instead of ending the process. */
#ifndef TOLVAN_UNIX_SIGPIPE_H
#define TOLVAN_UNIX_SIGPIPE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sets SIGPIPE's handler to SIG_IGN, keeping the action's mask and flags.
 * 0 or the errno of sigaction. */
int TolvanUNIXIgnoreSIGPIPE(void);

#ifdef __cplusplus
}
#endif

#endif
