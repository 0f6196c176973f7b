// Layout (native byte order: both ends run on the same machine):
//   0  magic "TvAu"        8  pid (u32)        16 start time (u64, ticks)
//   4  version (u16) = 1  12  real uid (u32)   24 nonce (8 random bytes)
//   6  reserved (u16) = 0
#include "platform/auth/external_form.hpp"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/auth/native_fields.hpp"
#include "platform/auth/process_identity.hpp"

namespace tolvan::auth {
namespace {

constexpr unsigned char kMagic[4] = {'T', 'v', 'A', 'u'};
constexpr uint16_t kVersion = 1;

constexpr size_t kVersionOffset = 4;
constexpr size_t kReservedOffset = 6;
constexpr size_t kPidOffset = 8;
constexpr size_t kUidOffset = 12;
constexpr size_t kStartTimeOffset = 16;
constexpr size_t kNonceOffset = 24;
static_assert(kNonceOffset + kFormNonceLength == kAuthorizationExternalFormLength);

template <typename Value>
void Put(AuthorizationExternalForm *form, size_t offset, Value value) {
  PutField(reinterpret_cast<unsigned char *>(form->bytes), offset, value);
}

template <typename Value>
Value Get(const AuthorizationExternalForm &form, size_t offset) {
  return GetField<Value>(reinterpret_cast<const unsigned char *>(form.bytes), offset);
}

bool IsAllZero(const unsigned char *bytes, size_t length) {
  unsigned char seen = 0;
  for (size_t i = 0; i < length; ++i) seen |= bytes[i];
  return seen == 0;
}

bool FillRandom(unsigned char *bytes, size_t length) {
  size_t filled = 0;
  while (filled < length) {
    ssize_t got = ::getrandom(bytes + filled, length - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    filled += static_cast<size_t>(got);
  }
  return true;
}

// The kernel's view of the named process must agree with the form. The
// folder descriptor pins one process, so a pid reused between the two reads
// makes the second read fail rather than describe another process.
bool NamesLiveProcess(const FormContents &contents) {
  UniqueFd folder = OpenProcessFolder(contents.pid);
  if (!folder) return false;
  ProcStat stat;
  uid_t realUid = 0;
  return ReadProcStat(folder.get(), &stat) && stat.pid == contents.pid &&
         stat.startTime == contents.startTime && ReadProcessRealUid(folder.get(), &realUid) &&
         realUid == contents.uid;
}

}  // namespace

void EncodeExternalForm(const FormContents &contents, AuthorizationExternalForm *form) noexcept {
  std::memcpy(form->bytes, kMagic, sizeof kMagic);
  Put<uint16_t>(form, kVersionOffset, kVersion);
  Put<uint16_t>(form, kReservedOffset, 0);
  Put<uint32_t>(form, kPidOffset, static_cast<uint32_t>(contents.pid));
  Put<uint32_t>(form, kUidOffset, static_cast<uint32_t>(contents.uid));
  Put<uint64_t>(form, kStartTimeOffset, contents.startTime);
  std::memcpy(form->bytes + kNonceOffset, contents.nonce, kFormNonceLength);
}

bool DecodeExternalForm(const AuthorizationExternalForm &form, FormContents *contents) noexcept {
  if (std::memcmp(form.bytes, kMagic, sizeof kMagic) != 0) return false;
  if (Get<uint16_t>(form, kVersionOffset) != kVersion) return false;
  if (Get<uint16_t>(form, kReservedOffset) != 0) return false;
  uint32_t pid = Get<uint32_t>(form, kPidOffset);
  if (pid == 0 || pid > static_cast<uint32_t>(INT32_MAX)) return false;
  FormContents decoded;
  decoded.pid = static_cast<pid_t>(pid);
  decoded.uid = static_cast<uid_t>(Get<uint32_t>(form, kUidOffset));
  decoded.startTime = Get<uint64_t>(form, kStartTimeOffset);
  std::memcpy(decoded.nonce, form.bytes + kNonceOffset, kFormNonceLength);
  if (IsAllZero(decoded.nonce, kFormNonceLength)) return false;
  *contents = decoded;
  return true;
}

bool DescribeCallingProcess(FormContents *contents) noexcept {
  ProcStat self;
  if (!ReadSelfStat(&self)) return false;
  FormContents described;
  described.pid = self.pid;
  described.uid = ::getuid();
  described.startTime = self.startTime;
  do {
    if (!FillRandom(described.nonce, kFormNonceLength)) return false;
  } while (IsAllZero(described.nonce, kFormNonceLength));
  *contents = described;
  return true;
}

OSStatus ValidateExternalForm(const AuthorizationExternalForm &form,
                              FormContents *contents) noexcept {
  FormContents decoded;
  if (!DecodeExternalForm(form, &decoded)) return errAuthorizationInvalidRef;
  if (decoded.uid != ::getuid()) return errAuthorizationInvalidRef;
  if (!NamesLiveProcess(decoded)) return errAuthorizationInvalidRef;
  *contents = decoded;
  return errAuthorizationSuccess;
}

}  // namespace tolvan::auth
