/* Copying a stream to its end, and copying a file with its permissions and
 * times. */
#ifndef TOLVAN_UNIX_COPY_H
#define TOLVAN_UNIX_COPY_H

#ifdef __cplusplus
extern "C" {
#endif

/* Copies everything source delivers to destination, until end of input.
 * Data is passed on in whole 64 KiB buffers: nothing is written until a
 * buffer is full or the input has ended. Both descriptors stay open.
 * 0 at a clean end of input; ENOMEM when the buffer cannot be had; EPIPE when
 * a write accepts no bytes; or the errno of the failing read or write (the
 * bytes of a buffer whose read failed are dropped). EINTR is retried. */
int TolvanUNIXCopyDescriptorToDescriptor(int source, int destination);

/* Copies the file at sourcePath to destinationPath. The destination gets the
 * source's permission bits less set-user-ID, set-group-ID and sticky (and
 * less the umask) when it is created; an existing destination is truncated
 * and keeps its mode and owner. A symbolic link at the destination's last
 * component is refused (ELOOP). After a complete copy the destination
 * receives the source's access and modification times. 0 or an errno value;
 * a failed copy leaves the partial destination in place. */
int TolvanUNIXCopyFile(const char *sourcePath, const char *destinationPath);

#ifdef __cplusplus
}
#endif

#endif
