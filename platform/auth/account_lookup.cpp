#include "platform/auth/account_lookup.hpp"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tolvan::auth {
namespace {

// Enough for any sane database entry; a group with thousands of members
// still fits. Past this the lookup fails rather than growing without end.
constexpr size_t kFirstBufferSize = 4096;
constexpr size_t kLargestBufferSize = 1 << 20;

// Calls a getXXX_r function with a growing buffer. Returns the lookup's
// result pointer (null when there is no entry or it failed).
template <typename Entry, typename Lookup>
Entry *LookUpWithGrowingBuffer(Lookup lookup, Entry *entry, std::vector<char> *buffer) {
  for (size_t size = kFirstBufferSize; size <= kLargestBufferSize; size *= 2) {
    buffer->resize(size);
    Entry *result = nullptr;
    int error = lookup(entry, buffer->data(), buffer->size(), &result);
    if (error != ERANGE) return error == 0 ? result : nullptr;
  }
  return nullptr;
}

}  // namespace

bool LookUpAccount(uid_t uid, Account *out) {
  std::vector<char> buffer;
  struct passwd entry;
  struct passwd *found = LookUpWithGrowingBuffer(
      [uid](struct passwd *e, char *b, size_t s, struct passwd **r) {
        return ::getpwuid_r(uid, e, b, s, r);
      },
      &entry, &buffer);
  if (found == nullptr || found->pw_name == nullptr || found->pw_name[0] == '\0') return false;
  out->uid = found->pw_uid;
  out->gid = found->pw_gid;
  out->name = found->pw_name;
  out->home = found->pw_dir != nullptr ? found->pw_dir : "/";
  return true;
}

bool IsGroupMember(const Account &account, const char *group) {
  std::vector<char> buffer;
  struct group entry;
  struct group *found = LookUpWithGrowingBuffer(
      [group](struct group *e, char *b, size_t s, struct group **r) {
        return ::getgrnam_r(group, e, b, s, r);
      },
      &entry, &buffer);
  if (found == nullptr) return false;
  if (found->gr_gid == account.gid) return true;
  for (char **member = found->gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (account.name == *member) return true;
  }
  return false;
}

}  // namespace tolvan::auth
