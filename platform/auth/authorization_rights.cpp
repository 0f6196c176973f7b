// Asking for rights on a reference, and the sets of granted rights handed
// back.
#include <cstdlib>
#include <cstring>

#include "platform/auth/authorization.h"
#include "platform/auth/authorization_reference.hpp"
#include "platform/auth/rights_judgement.hpp"

namespace {

bool IsWellFormed(const AuthorizationRights &rights) {
  if (rights.count > 0 && rights.items == nullptr) return false;
  for (uint32_t i = 0; i < rights.count; ++i) {
    if (rights.items[i].name == nullptr) return false;
  }
  return true;
}

// The admin right is judged at most once per call, however often it is
// listed; every other right is unknown and denied.
class RightsJudge {
 public:
  explicit RightsJudge(AuthorizationFlags flags) : flags_(flags) {}

  OSStatus Judge(const AuthorizationItem &item) {
    if (std::strcmp(item.name, kAuthorizationRightExecute) != 0) return errAuthorizationDenied;
    if (!adminJudged_) {
      adminStatus_ = tolvan::auth::JudgeAdminRight(flags_);
      adminJudged_ = true;
    }
    return adminStatus_;
  }

 private:
  AuthorizationFlags flags_;
  bool adminJudged_ = false;
  OSStatus adminStatus_ = errAuthorizationDenied;
};

// One block: the set, its items, then the names; a single free() releases
// it all, so a caller that frees it by hand does no harm either.
AuthorizationItemSet *NewGrantedSet(const AuthorizationRights &rights, const bool *granted) {
  size_t count = 0;
  size_t namesSize = 0;
  for (uint32_t i = 0; i < rights.count; ++i) {
    if (!granted[i]) continue;
    ++count;
    namesSize += std::strlen(rights.items[i].name) + 1;
  }
  size_t itemsOffset = sizeof(AuthorizationItemSet);
  size_t namesOffset = itemsOffset + count * sizeof(AuthorizationItem);
  auto *block = static_cast<unsigned char *>(std::calloc(1, namesOffset + namesSize));
  if (block == nullptr) return nullptr;
  auto *set = reinterpret_cast<AuthorizationItemSet *>(block);
  auto *items = reinterpret_cast<AuthorizationItem *>(block + itemsOffset);
  char *names = reinterpret_cast<char *>(block + namesOffset);
  set->count = static_cast<uint32_t>(count);
  set->items = count > 0 ? items : nullptr;
  for (uint32_t i = 0; i < rights.count; ++i) {
    if (!granted[i]) continue;
    size_t length = std::strlen(rights.items[i].name) + 1;
    std::memcpy(names, rights.items[i].name, length);
    items->name = names;
    ++items;
    names += length;
  }
  return set;
}

// A status that ends the call even when partial rights are accepted.
bool EndsRequest(OSStatus status) {
  return status != errAuthorizationSuccess && status != errAuthorizationDenied;
}

}  // namespace

extern "C" OSStatus AuthorizationCopyRights(AuthorizationRef authorization,
                                            const AuthorizationRights *rights,
                                            const AuthorizationEnvironment *environment,
                                            AuthorizationFlags flags,
                                            AuthorizationRights **authorizedRights) {
  if (authorizedRights != nullptr) *authorizedRights = nullptr;
  if (!tolvan::auth::IsReference(authorization)) return errAuthorizationInvalidRef;
  if (rights == nullptr || !IsWellFormed(*rights)) return errAuthorizationInvalidSet;
  if ((flags & ~tolvan::auth::kKnownFlags) != 0) return errAuthorizationInvalidFlags;
  const bool partial = (flags & kAuthorizationFlagPartialRights) != 0;

  bool *granted = static_cast<bool *>(std::calloc(rights->count + 1, sizeof(bool)));
  if (granted == nullptr) return memFullErr;
  RightsJudge judge(flags);
  OSStatus status = errAuthorizationSuccess;
  for (uint32_t i = 0; i < rights->count; ++i) {
    OSStatus itemStatus = judge.Judge(rights->items[i]);
    granted[i] = itemStatus == errAuthorizationSuccess;
    if (itemStatus != errAuthorizationSuccess && (!partial || EndsRequest(itemStatus))) {
      status = itemStatus;
      break;
    }
  }
  if (status == errAuthorizationSuccess && authorizedRights != nullptr) {
    *authorizedRights = NewGrantedSet(*rights, granted);
    if (*authorizedRights == nullptr) status = memFullErr;
  }
  std::free(granted);
  return status;
}

extern "C" OSStatus AuthorizationFreeItemSet(AuthorizationItemSet *set) {
  if (set == nullptr) return errAuthorizationInvalidSet;
  std::free(set);
  return errAuthorizationSuccess;
}
