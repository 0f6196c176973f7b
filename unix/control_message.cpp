#include "unix/control_message.hpp"

#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace tolvan {

void CloseControlMessageDescriptors(const msghdr &message) noexcept {
  if (message.msg_control == nullptr || message.msg_controllen < sizeof(cmsghdr)) return;
  const auto *begin = static_cast<const unsigned char *>(message.msg_control);
  const unsigned char *end = begin + message.msg_controllen;
  for (const cmsghdr *header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(const_cast<msghdr *>(&message), const_cast<cmsghdr *>(header))) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    if (header->cmsg_len < CMSG_LEN(0)) continue;
    // A truncated header may claim more than the buffer holds: take only the
    // descriptors whose bytes are really there.
    const unsigned char *data = CMSG_DATA(header);
    size_t claimed = header->cmsg_len - CMSG_LEN(0);
    size_t present = data < end ? static_cast<size_t>(end - data) : 0;
    size_t count = (claimed < present ? claimed : present) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, data + i * sizeof(int), sizeof fd);
      if (fd >= 0) ::close(fd);
    }
  }
}

}  // namespace tolvan
