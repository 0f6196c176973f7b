#include "unix/descriptor_passing.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>

#include "unix/control_message.hpp"

namespace {

constexpr unsigned char kDummyData = 'D';

// Room for exactly one control message carrying one int, aligned for
// cmsghdr.
union OneDescriptorControl {
  cmsghdr header;
  unsigned char bytes[CMSG_SPACE(sizeof(int))];
};

bool HoldsExactlyOneDescriptor(const msghdr &message, unsigned char data) {
  // MSG_CMSG_CLOEXEC comes back in msg_flags on Linux; it says nothing about
  // the message itself.
  if (data != kDummyData) return false;
  if ((message.msg_flags & ~MSG_CMSG_CLOEXEC) != 0) return false;  // truncated
  if (message.msg_control == nullptr) return false;
  if (message.msg_controllen != sizeof(OneDescriptorControl)) return false;
  const cmsghdr *header = CMSG_FIRSTHDR(&message);
  return header != nullptr && header->cmsg_len == CMSG_LEN(sizeof(int)) &&
         header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS;
}

}  // namespace

extern "C" int TolvanUNIXWriteDescriptor(int socket, int fd) {
  unsigned char data = kDummyData;
  iovec vector = {&data, 1};
  OneDescriptorControl control;
  std::memset(&control, 0, sizeof control);

  msghdr message = {};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control.bytes;
  message.msg_controllen = sizeof control;
  cmsghdr *header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);

  for (;;) {
    errno = 0;
    ssize_t sent = ::sendmsg(socket, &message, 0);
    if (sent == 1) return 0;
    // A stream socket that takes no byte of a one-byte message will not take
    // the descriptor either; errno 0 would read as success.
    if (sent == 0 || errno == 0) return EPIPE;
    if (errno != EINTR) return errno;
  }
}

extern "C" int TolvanUNIXReadDescriptor(int socket, int *fd) {
  if (fd == nullptr) return EINVAL;
  for (;;) {
    unsigned char data = 0;
    iovec vector = {&data, 1};
    OneDescriptorControl control;
    std::memset(&control, 0, sizeof control);

    msghdr message = {};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof control;

    // Close-on-exec from the moment the descriptor exists in this process.
    errno = 0;
    ssize_t received = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    if (received < 0) {
      if (errno == EINTR || errno == 0) continue;
      return errno;
    }
    if (received == 1 && HoldsExactlyOneDescriptor(message, data)) {
      int descriptor;
      std::memcpy(&descriptor, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof descriptor);
      if (descriptor >= 0) {
        *fd = descriptor;
        return 0;
      }
    }
    // Whatever was refused, nothing it carried may stay open here.
    tolvan::CloseControlMessageDescriptors(message);
    return received == 0 ? EPIPE : EINVAL;
  }
}
