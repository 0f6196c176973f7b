/* Full-transfer reads and writes: move exactly the requested number of bytes
 * or fail.
 *
 * Both calls repeat a read or write that was interrupted (EINTR, or a
 * failure that left errno 0), so an interruption is never reported. End of
 * input before the count is reached, or a write that accepts no bytes, is
 * EPIPE. A count of 0 makes no system call. */
#ifndef TOLVAN_UNIX_FULL_TRANSFER_H
#define TOLVAN_UNIX_FULL_TRANSFER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads count bytes from fd into buffer. 0, EPIPE when the input ends
 * first, or the errno of the failing read. When bytesRead is not null it
 * receives the number of bytes that did arrive, whatever the result. */
int TolvanUNIXRead(int fd, void *buffer, size_t count, size_t *bytesRead);

/* Writes count bytes from buffer to fd. 0, EPIPE when a write accepts no
 * bytes (or the peer has gone and SIGPIPE is ignored), or the errno of the
 * failing write. When bytesWritten is not null it receives the number of
 * bytes that did go out, whatever the result. */
int TolvanUNIXWrite(int fd, const void *buffer, size_t count, size_t *bytesWritten);

#ifdef __cplusplus
}
#endif

#endif
