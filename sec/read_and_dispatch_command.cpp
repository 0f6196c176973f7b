#include "sec/read_and_dispatch_command.h"

#include <utility>

#include "platform/cf/cf_number.h"
#include "platform/cf/cf_ref.hpp"
#include "plist/varn_shared.h"
#include "sec/dictionary_channel.h"
#include "sec/euid.h"
#include "sec/listed_descriptors.hpp"
#include "sec/reserved_keys.h"

namespace {

using tolvan::CFRef;

// Replaces *reply (the command's response, possibly empty) by the reply
// that carries status under kErrorNumberKey. On failure *reply is left as
// it was, so its descriptors are still closed by the caller.
OSStatus AddErrorNumber(CFRef<CFDictionaryRef> *reply, OSStatus command_status) {
  int32_t value = command_status;
  auto number =
      CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value));
  OSStatus status = VarnError(number.get());
  if (status != noErr) return status;
  if (!*reply) {
    const void *keys[] = {kErrorNumberKey};
    const void *values[] = {number.get()};
    auto created = CFRef<CFDictionaryRef>::Adopt(
        CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                           &kCFTypeDictionaryValueCallBacks));
    status = VarnError(created.get());
    if (status == noErr) *reply = std::move(created);
    return status;
  }
  auto copy = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, reply->get()));
  status = VarnError(copy.get());
  if (status == noErr) {
    status = VarnErrorBoolean(CFDictionarySetValue(copy.get(), kErrorNumberKey, number.get()));
  }
  if (status == noErr) reply->reset(copy.release());
  return status;
}

}  // namespace

extern "C" OSStatus ReadAndDispatchCommand(int input, int output, AuthorizationRef authorization,
                                           CommandProcedure command) {
  CFRef<CFDictionaryRef> request;
  OSStatus status = CopyDictionaryFromDescriptor(input, request.out());
  if (status != noErr) return status;

  CFRef<CFDictionaryRef> reply;
  OSStatus command_status = command(authorization, request.get(), reply.out());
  // Whatever the command did with the identity, the reply goes out as the
  // real user.
  (void)TolvanSecTemporarilySetNonPrivilegedEUID();

  if (!reply || !CFDictionaryContainsKey(reply.get(), kErrorNumberKey)) {
    status = AddErrorNumber(&reply, command_status);
  }
  if (status == noErr) status = WriteDictionaryAndDescriptors(reply.get(), output);
  if (reply) tolvan::CloseListedDescriptors(reply.get());
  return status;
}
