/* Passing one open descriptor over a local stream socket.
 *
 * One descriptor travels in one socket message: a single data byte 'D' and
 * one SOL_SOCKET / SCM_RIGHTS control message that carries exactly one int.
 * Both calls repeat a call interrupted by EINTR. */
#ifndef TOLVAN_UNIX_DESCRIPTOR_PASSING_H
#define TOLVAN_UNIX_DESCRIPTOR_PASSING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sends fd over socket. The descriptor is neither checked nor closed: it
 * stays open in the sender. 0, EPIPE when the socket accepts nothing, or the
 * errno of sendmsg. */
int TolvanUNIXWriteDescriptor(int socket, int fd);

/* Receives one descriptor from socket into *fd; the new descriptor is
 * close-on-exec and owned by the caller. 0; EPIPE when the peer closed
 * first; EINVAL when the message is not exactly one 'D' byte with one
 * descriptor (every descriptor that did arrive with a refused message is
 * closed) or when fd is null (nothing is received then); or the errno of
 * recvmsg. *fd is written only on success. */
int TolvanUNIXReadDescriptor(int socket, int *fd);

#ifdef __cplusplus
}
#endif

#endif
