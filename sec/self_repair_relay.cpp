#include "sec/self_repair_relay.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "sec/helper_tool_exit.hpp"
#include "sec/listed_descriptors.hpp"
#include "unix/copy.h"
#include "unix/full_transfer.h"

namespace tolvan {
namespace {

constexpr pid_t kAnyChild = -1;

// How the exchange over the link ended, and whom to wait for.
struct RelayEnd {
  OSStatus status = noErr;
  // The link itself broke: the copy went away before the exchange was
  // over, so its own outcome says what happened.
  bool copyLeftEarly = false;
  pid_t copy = kAnyChild;
};

// The privileged copy writes its process id big-endian, like the frame's
// length word. A word cut short, or one that names no single process,
// leaves the wait to any child: the copy is this process's only one.
OSStatus ReadProcessIdWord(int link, pid_t *copy) {
  uint32_t word = 0;
  OSStatus status = TolvanUNIXRead(link, &word, sizeof word, nullptr);
  const auto announced = static_cast<pid_t>(ntohl(word));
  if (status == noErr && announced > 0) *copy = announced;
  return status;
}

// The reply's descriptors are closed here once passed on, also when passing
// them on failed; the application holds its own copies.
void ForwardReply(int link, int output, RelayEnd *end) {
  CFRef<CFDictionaryRef> reply;
  end->status = CopyDictionaryTranslatingDescriptors(link, reply.out());
  if (end->status != noErr) {
    end->copyLeftEarly = HelperToolEndedEarly(end->status);
    return;
  }
  end->status = WriteDictionaryAndDescriptors(reply.get(), output);
  CloseListedDescriptors(reply.get());
}

RelayEnd ExchangeOverLink(int input, int output, FILE *link) {
  RelayEnd end;
  const int fd = ::fileno(link);
  if (fd < 0) {
    end.status = errno;
    return end;
  }
  end.status = ReadProcessIdWord(fd, &end.copy);
  if (end.status != noErr) {
    end.copyLeftEarly = HelperToolEndedEarly(end.status);
    return end;
  }
  end.status = TolvanUNIXCopyDescriptorToDescriptor(input, fd);
  if (end.status != noErr) {
    // Reading the application's input never gives EPIPE: that is a write
    // to the link. An ECONNRESET here is the input's.
    end.copyLeftEarly = end.status == EPIPE;
    return end;
  }
  if (::shutdown(fd, SHUT_WR) != 0) {
    end.status = errno;
    return end;
  }
  ForwardReply(fd, output, &end);
  return end;
}

}  // namespace

OSStatus RelayThroughPrivilegedCopy(int input, int output, FILE *link) noexcept {
  const RelayEnd end = ExchangeOverLink(input, output, link);
  // Closing the link first lets a copy still reading or writing it end.
  (void)::fclose(link);
  int waitStatus = 0;
  const OSStatus waitError = WaitForHelperTool(end.copy, &waitStatus);
  // No status is decoded that no wait has filled.
  const OSStatus outcome =
      waitError == noErr ? HelperToolStatusFromWaitStatus(waitStatus) : waitError;
  if (end.status == noErr) return outcome;
  if (end.copyLeftEarly) {
    // A copy that left the exchange unfinished has not served the request,
    // whatever it says.
    return waitError != noErr || outcome == noErr ? kHelperToolInternalErr : outcome;
  }
  return end.status;
}

}  // namespace tolvan
