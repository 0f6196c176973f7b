// Descriptor messages of any shape, sent with real descriptors over a socket
// pair, read with TolvanUNIXReadDescriptor or, behind a reply frame, with
// CopyDictionaryTranslatingDescriptors. Whatever arrives, the receiver ends
// up holding exactly the descriptors it reports and nothing else.
//
// Input: byte 0 picks the reader (bit 0) and, for the translating reader, the
// announced count (bits 1-3) and whether the key holds an array (bit 4).
// Then messages, each a shape byte (bits 0-1: data bytes, bits 2-4:
// descriptors, bit 5: split them over two control headers, bit 6: add a
// credentials header) followed by its data bytes.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/descriptor_array.h"
#include "sec/dictionary_channel.h"
#include "sec/reserved_keys.h"
#include "tests/support/open_descriptors.hpp"
#include "unix/descriptor_passing.h"
#include "unix/unique_fd.hpp"

namespace {

using tolvan::CFRef;
using tolvan::UniqueFd;

constexpr size_t kMaxMessages = 24;

struct Reader {
  const uint8_t *at;
  const uint8_t *end;
  bool more() const { return at < end; }
  uint8_t next() { return at < end ? *at++ : 0; }
};

void AppendRights(std::vector<unsigned char> &control, const std::vector<int> &fds) {
  size_t offset = control.size();
  control.resize(offset + CMSG_SPACE(fds.size() * sizeof(int)));
  cmsghdr header = {};
  header.cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
  header.cmsg_level = SOL_SOCKET;
  header.cmsg_type = SCM_RIGHTS;
  std::memcpy(control.data() + offset, &header, sizeof header);
  std::memcpy(control.data() + offset + CMSG_LEN(0), fds.data(), fds.size() * sizeof(int));
}

void AppendCredentials(std::vector<unsigned char> &control) {
  size_t offset = control.size();
  control.resize(offset + CMSG_SPACE(sizeof(ucred)));
  cmsghdr header = {};
  header.cmsg_len = CMSG_LEN(sizeof(ucred));
  header.cmsg_level = SOL_SOCKET;
  header.cmsg_type = SCM_CREDENTIALS;
  ucred credentials = {getpid(), getuid(), getgid()};
  std::memcpy(control.data() + offset, &header, sizeof header);
  std::memcpy(control.data() + offset + CMSG_LEN(0), &credentials, sizeof credentials);
}

// Sends one message as the shape byte says; the sender's copies of the
// descriptors are closed afterwards, as a peer process's would be.
void SendMessage(int socket, Reader &input) {
  uint8_t shape = input.next();
  std::vector<unsigned char> data;
  for (int i = 0; i < (shape & 3); ++i) data.push_back(input.next());
  std::vector<int> fds;
  for (int i = 0; i < ((shape >> 2) & 7); ++i) {
    fds.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
  }

  std::vector<unsigned char> control;
  bool split = (shape & 0x20) != 0 && fds.size() >= 2;
  size_t half = split ? fds.size() / 2 : fds.size();
  if (!fds.empty()) AppendRights(control, std::vector<int>(fds.begin(), fds.begin() + half));
  if (split) AppendRights(control, std::vector<int>(fds.begin() + half, fds.end()));
  if (shape & 0x40) AppendCredentials(control);

  iovec vector = {data.data(), data.size()};
  msghdr message = {};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  if (!control.empty()) {
    message.msg_control = control.data();
    message.msg_controllen = control.size();
  }
  (void)sendmsg(socket, &message, MSG_DONTWAIT);
  for (int fd : fds) close(fd);
}

CFRef<CFDictionaryRef> ReplyAnnouncing(int count, bool asArray) {
  std::vector<CFRef<CFNumberRef>> numbers;
  std::vector<const void *> values;
  for (int i = 0; i < count; ++i) {
    int fd = 100 + i;  // the sender's numbers, meaningless to the receiver
    numbers.push_back(CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberIntType, &fd)));
    values.push_back(numbers.back().get());
  }
  CFRef<CFTypeRef> value;
  if (asArray) {
    value = CFRef<CFTypeRef>::Adopt(
        CFArrayCreate(nullptr, values.data(), count, &kCFTypeArrayCallBacks));
  } else {
    value = CFRef<CFTypeRef>::Retain(CFSTR("not an array"));
  }
  const void *keys[] = {kDescriptorArrayKey};
  const void *items[] = {value.get()};
  return CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      nullptr, keys, items, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

void CheckOpenDescriptors(int expected) {
  if (tolvan::test::CountOpenDescriptors() != expected) std::abort();
}

void ReadOne(int socket, int baseline) {
  int fd = -7;
  int result = TolvanUNIXReadDescriptor(socket, &fd);
  if (result == 0) {
    if (fd < 0) std::abort();
    CheckOpenDescriptors(baseline + 1);
    close(fd);
  } else if (fd != -7) {
    std::abort();
  }
}

void ReadTranslated(int socket, int announced, bool asArray, int baseline) {
  CFDictionaryRef reply = nullptr;
  OSStatus status = CopyDictionaryTranslatingDescriptors(socket, &reply);
  if (status != noErr) {
    if (reply != nullptr) std::abort();
    return;
  }
  CFRef<CFDictionaryRef> owned = CFRef<CFDictionaryRef>::Adopt(reply);
  auto listed = static_cast<CFArrayRef>(CFDictionaryGetValue(reply, kDescriptorArrayKey));
  if (!asArray || listed == nullptr || CFArrayGetCount(listed) != announced) std::abort();
  CheckOpenDescriptors(baseline + announced);
  TolvanSecCloseDescriptorArray(listed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Counted per input: the fuzzer itself may open descriptors between runs
  // (its symbolizer's pipes).
  const int baseline = tolvan::test::CountOpenDescriptors();
  Reader input = {data, data + size};
  uint8_t mode = input.next();
  bool translating = (mode & 1) != 0;
  int announced = (mode >> 1) & 7;
  bool asArray = (mode & 0x10) == 0;
  {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    UniqueFd peer(fds[0]), ours(fds[1]);
    if (translating &&
        WriteDictionaryToDescriptor(ReplyAnnouncing(announced, asArray).get(), peer.get()) !=
            noErr) {
      std::abort();
    }
    for (size_t n = 0; n < kMaxMessages && input.more(); ++n) SendMessage(peer.get(), input);
    shutdown(peer.get(), SHUT_WR);
    // Descriptors still queued in the socket are not this process's yet;
    // they die with the socket.
    const int withPair = baseline + 2;
    CheckOpenDescriptors(withPair);
    if (translating) {
      ReadTranslated(ours.get(), announced, asArray, withPair);
    } else {
      ReadOne(ours.get(), withPair);
    }
  }
  CheckOpenDescriptors(baseline);
  return 0;
}
