// What AuthorizationExecuteWithPrivileges and the set-user-ID trampoline
// agree on. The caller runs
//   <root>/usr/libexec/tolvan/tolvan-authexec --execute <program> [args...]
// with descriptors 0 and 1 one end of a local stream socket, writes the
// 32-byte external form of its reference, and reads one status word: 0
// when the program is about to run on that socket, else why nothing runs.
#ifndef TOLVAN_PLATFORM_AUTH_TRAMPOLINE_PROTOCOL_HPP
#define TOLVAN_PLATFORM_AUTH_TRAMPOLINE_PROTOCOL_HPP

#include <cstdint>

#include "platform/base/tolvan_status.h"

namespace tolvan::auth {

// Relative to the system root.
constexpr char kTrampolinePath[] = "usr/libexec/tolvan/tolvan-authexec";
constexpr char kExecuteOption[] = "--execute";

constexpr unsigned kStatusWordLength = 4;

// Big-endian, like the frame length words of the helper tool's channel.
inline void EncodeStatusWord(OSStatus status, unsigned char (&word)[kStatusWordLength]) noexcept {
  const uint32_t value = static_cast<uint32_t>(status);
  for (unsigned i = 0; i < kStatusWordLength; ++i) {
    word[i] = static_cast<unsigned char>(value >> (8 * (kStatusWordLength - 1 - i)));
  }
}

inline OSStatus DecodeStatusWord(const unsigned char (&word)[kStatusWordLength]) noexcept {
  uint32_t value = 0;
  for (unsigned char byte : word) value = (value << 8) | byte;
  return static_cast<OSStatus>(value);
}

}  // namespace tolvan::auth

#endif
