/* The path of the running executable. */
#ifndef TOLVAN_UNIX_EXECUTABLE_PATH_H
#define TOLVAN_UNIX_EXECUTABLE_PATH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Stores the absolute path of the running executable, with its terminating
 * zero byte, in buffer, whose size in bytes is *bufferSize.
 * 0 on success, *bufferSize then holding the path's length plus 1.
 * -1 when the buffer is too small (*bufferSize then receives the size
 * needed, so a first call with a size of 0 always reports it), or when the
 * executable has no path any more (it was removed while running).
 * EINVAL when bufferSize is null, or buffer is null with a non-zero size;
 * another errno value when the path cannot be read. */
int TolvanGetExecutablePath(char *buffer, uint32_t *bufferSize);

#ifdef __cplusplus
}
#endif

#endif
