#include "unix/descriptor_passing.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>

#include "unix/control_message.hpp"

namespace {

constexpr unsigned char kDummyData = 'D';

// One data byte and room for exactly one control message carrying one int;
// message points into the object, which therefore stays where it was made.
struct OneDescriptorMessage {
  unsigned char data = 0;
  iovec vector = {};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))];
  msghdr message = {};

  OneDescriptorMessage() {
    std::memset(&control, 0, sizeof control);
    vector = {&data, 1};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  OneDescriptorMessage(const OneDescriptorMessage &) = delete;
  OneDescriptorMessage &operator=(const OneDescriptorMessage &) = delete;

  bool HoldsExactlyOneDescriptor() const {
    if (data != kDummyData) return false;
    // MSG_CMSG_CLOEXEC comes back in msg_flags on Linux; it says nothing
    // about the message. Anything else means truncated data or control data.
    if ((message.msg_flags & ~MSG_CMSG_CLOEXEC) != 0) return false;
    if (message.msg_control == nullptr) return false;
    if (message.msg_controllen != sizeof control) return false;
    const cmsghdr *header = CMSG_FIRSTHDR(&message);
    return header != nullptr && header->cmsg_len == CMSG_LEN(sizeof(int)) &&
           header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS;
  }

  int Descriptor() const {
    int fd;
    std::memcpy(&fd, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof fd);
    return fd;
  }
};

}  // namespace

extern "C" int TolvanUNIXWriteDescriptor(int socket, int fd) {
  OneDescriptorMessage out;
  out.data = kDummyData;
  cmsghdr *header = CMSG_FIRSTHDR(&out.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);

  for (;;) {
    errno = 0;
    ssize_t sent = ::sendmsg(socket, &out.message, 0);
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
    OneDescriptorMessage in;
    // Close-on-exec from the moment the descriptor exists in this process.
    errno = 0;
    ssize_t received = ::recvmsg(socket, &in.message, MSG_CMSG_CLOEXEC);
    if (received < 0) {
      if (errno == EINTR || errno == 0) continue;
      return errno;
    }
    if (received == 1 && in.HoldsExactlyOneDescriptor() && in.Descriptor() >= 0) {
      *fd = in.Descriptor();
      return 0;
    }
    // Whatever was refused, nothing it carried may stay open here.
    tolvan::CloseControlMessageDescriptors(in.message);
    return received == 0 ? EPIPE : EINVAL;
  }
}
