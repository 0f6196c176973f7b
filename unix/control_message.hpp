// What arrives in the control data of a received socket message.
#ifndef TOLVAN_UNIX_CONTROL_MESSAGE_HPP
#define TOLVAN_UNIX_CONTROL_MESSAGE_HPP

#include <sys/socket.h>

namespace tolvan {

// Closes every descriptor that the kernel installed for the control data of
// a message received with recvmsg, whatever the message looked like: several
// SCM_RIGHTS headers, several descriptors in one, a truncated last header.
// Only the bytes within msg_controllen are looked at.
void CloseControlMessageDescriptors(const msghdr &message) noexcept;

}  // namespace tolvan

#endif
