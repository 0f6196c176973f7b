// Sending socket messages of any shape, for peers that misbehave.
#ifndef TOLVAN_TESTS_SUPPORT_CRAFTED_MESSAGE_HPP
#define TOLVAN_TESTS_SUPPORT_CRAFTED_MESSAGE_HPP

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstring>
#include <string>
#include <vector>

namespace tolvan::test {

// Sends data with one SCM_RIGHTS control message per entry of rights (each
// carrying that entry's descriptors); no control data when rights is empty.
// Returns what sendmsg returned.
inline ssize_t SendCraftedMessage(int socket, const std::string &data,
                                  const std::vector<std::vector<int>> &rights) {
  size_t controlSize = 0;
  for (const auto &fds : rights) controlSize += CMSG_SPACE(fds.size() * sizeof(int));
  std::vector<cmsghdr> control(controlSize / sizeof(cmsghdr) + 1);
  std::memset(control.data(), 0, control.size() * sizeof(cmsghdr));

  iovec vector = {const_cast<char *>(data.data()), data.size()};
  msghdr message = {};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  if (controlSize > 0) {
    message.msg_control = control.data();
    message.msg_controllen = controlSize;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    for (const auto &fds : rights) {
      header->cmsg_level = SOL_SOCKET;
      header->cmsg_type = SCM_RIGHTS;
      header->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
      if (!fds.empty()) std::memcpy(CMSG_DATA(header), fds.data(), fds.size() * sizeof(int));
      header = CMSG_NXTHDR(&message, header);
    }
  }
  return sendmsg(socket, &message, 0);
}

}  // namespace tolvan::test

#endif
