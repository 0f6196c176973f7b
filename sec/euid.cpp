#include "sec/euid.h"

#include <unistd.h>

#include <cerrno>

namespace {

OSStatus StatusOf(int result) { return result == 0 ? noErr : errno; }

}  // namespace

extern "C" OSStatus TolvanSecSetPrivilegedEUID(void) { return StatusOf(seteuid(0)); }

extern "C" OSStatus TolvanSecTemporarilySetNonPrivilegedEUID(void) {
  return StatusOf(seteuid(getuid()));
}

extern "C" OSStatus TolvanSecPermanentlySetNonPrivilegedEUID(void) {
  return StatusOf(setuid(getuid()));
}
