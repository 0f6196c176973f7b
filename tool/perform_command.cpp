#include "tool/perform_command.h"

#include <unistd.h>

#include <utility>

#include "platform/base/heap_buffer.hpp"
#include "platform/prefs/preferences.h"
#include "sec/euid.h"

namespace {

constexpr const char kRightName[] = "system.privilege.admin";
// Interaction allowed, rights extended.
constexpr AuthorizationFlags kAuthFlags =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;

// Borrowed keys and values of one request, entry i of one belonging to
// entry i of the other.
struct RequestPairs {
  tolvan::HeapBuffer keys;
  tolvan::HeapBuffer values;
  CFIndex count = 0;

  const void **key_array() const { return reinterpret_cast<const void **>(keys.data()); }
  const void **value_array() const { return reinterpret_cast<const void **>(values.data()); }
};

OSStatus GetPairs(CFDictionaryRef request, RequestPairs *pairs) {
  pairs->count = CFDictionaryGetCount(request);
  const size_t bytes = size_t(pairs->count) * sizeof(const void *);
  pairs->keys = tolvan::HeapBuffer::Allocate(bytes);
  if (!pairs->keys) return memFullErr;
  pairs->values = tolvan::HeapBuffer::Allocate(bytes);
  if (!pairs->values) return memFullErr;
  CFDictionaryGetKeysAndValues(request, pairs->key_array(), pairs->value_array());
  return noErr;
}

// Preference keys are strings; any other key is refused before anyone is
// asked for a password, rather than silently left out of the save.
OSStatus CheckKeysAreStrings(const RequestPairs &pairs) {
  for (CFIndex i = 0; i < pairs.count; ++i) {
    if (CFGetTypeID(pairs.key_array()[i]) != CFStringGetTypeID()) return paramErr;
  }
  return noErr;
}

OSStatus AskForAdministratorRight(AuthorizationRef authorization) {
  AuthorizationItem item = {kRightName, 0, nullptr, 0};
  AuthorizationRights rights = {1, &item};
  return AuthorizationCopyRights(authorization, &rights, nullptr, kAuthFlags, nullptr);
}

// Takes the arrays and frees them once the pairs are staged: the save that
// follows needs the memory more (a 1 MiB request is served under the tool's
// 6 MiB data limit).
void StagePairs(RequestPairs pairs) {
  for (CFIndex i = 0; i < pairs.count; ++i) {
    CFPreferencesSetValue(static_cast<CFStringRef>(pairs.key_array()[i]), pairs.value_array()[i],
                          kProductPreferencesID, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
  }
}

OSStatus SaveStagedPairs() {
  return CFPreferencesSynchronize(kProductPreferencesID, kCFPreferencesAnyUser,
                                  kCFPreferencesCurrentHost)
             ? noErr
             : 1;
}

// Identity changes whose failure cannot change the outcome: the save shows
// whether root was had, and the process ends right after the last one.
void IgnoreIdentityResult(int) {}

// The only code of the tool that runs as root. Root is taken in all three
// user IDs for the store, and given up for good right after the save: made
// while all IDs are 0, setuid(real user) sets all three to that user.
OSStatus SavePairsAsRoot(RequestPairs pairs) {
  IgnoreIdentityResult(TolvanSecSetPrivilegedEUID());
  const uid_t real_user = getuid();
  IgnoreIdentityResult(setuid(0));

  StagePairs(std::move(pairs));
  OSStatus status = SaveStagedPairs();

  IgnoreIdentityResult(setuid(real_user));
  IgnoreIdentityResult(TolvanSecPermanentlySetNonPrivilegedEUID());
  return status;
}

}  // namespace

extern "C" OSStatus PerformCommand(AuthorizationRef authorization, CFDictionaryRef request,
                                   CFDictionaryRef *) {
  RequestPairs pairs;
  OSStatus status = GetPairs(request, &pairs);
  if (status == noErr) status = CheckKeysAreStrings(pairs);
  if (status == noErr) status = AskForAdministratorRight(authorization);
  if (status == noErr) status = SavePairsAsRoot(std::move(pairs));
  return status;
}
