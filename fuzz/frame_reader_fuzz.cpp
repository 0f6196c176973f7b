// The frame reader on arbitrary bytes arriving on a socket: every frame it
// accepts is a dictionary that survives being written and read again, and
// nothing it refuses leaves anything behind. Run with -malloc_limit_mb=1 to
// hold the reader to its bound: no single allocation above 1 MiB.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "tests/support/open_descriptors.hpp"
#include "unix/full_transfer.h"
#include "unix/sigpipe.h"
#include "unix/unique_fd.hpp"

namespace {

using tolvan::CFRef;
using tolvan::UniqueFd;

void CheckRoundTrip(CFDictionaryRef dictionary) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  UniqueFd writer(fds[0]), reader(fds[1]);
  OSStatus written = noErr;
  std::thread send([&] { written = WriteDictionaryToDescriptor(dictionary, writer.get()); });
  CFRef<CFDictionaryRef> again;
  OSStatus status = CopyDictionaryFromDescriptor(reader.get(), again.out());
  reader.reset();  // a writer still sending a refused frame gets EPIPE
  send.join();
  // A dictionary read within the bound may be written back past it (the
  // writer indents); the reader then refuses it like any other.
  if (status == memFullErr) return;
  if (written != noErr || status != noErr || !CFEqual(again.get(), dictionary)) std::abort();
}

// Stands in the out-pointer to show that a failure overwrites it.
const char kUntouched = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Peers hang up on refused frames; that must be EPIPE, not the end.
  return TolvanUNIXIgnoreSIGPIPE();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Counted per input: the fuzzer itself may open descriptors between runs
  // (its symbolizer's pipes).
  const int baseline = tolvan::test::CountOpenDescriptors();
  {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    UniqueFd peer(fds[0]), ours(fds[1]);
    std::thread send([&] {
      (void)TolvanUNIXWrite(peer.get(), data, size, nullptr);
      shutdown(peer.get(), SHUT_WR);
    });
    // Frame after frame, until the stream ends or one is refused.
    for (;;) {
      CFDictionaryRef dictionary = reinterpret_cast<CFDictionaryRef>(&kUntouched);
      OSStatus status = CopyDictionaryFromDescriptor(ours.get(), &dictionary);
      if (status != noErr) {
        if (dictionary != nullptr) std::abort();
        break;
      }
      CFRef<CFDictionaryRef> owned = CFRef<CFDictionaryRef>::Adopt(dictionary);
      if (CFGetTypeID(dictionary) != CFDictionaryGetTypeID()) std::abort();
      CheckRoundTrip(dictionary);
    }
    ours.reset();  // a sender still blocked on a refused frame gets EPIPE
    send.join();
  }
  if (tolvan::test::CountOpenDescriptors() != baseline) std::abort();
  return 0;
}
