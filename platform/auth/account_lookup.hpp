// The real user's entry in the password database and whether the policy's
// admin group holds them. Call as root: NSS modules may need it.
#ifndef TOLVAN_PLATFORM_AUTH_ACCOUNT_LOOKUP_HPP
#define TOLVAN_PLATFORM_AUTH_ACCOUNT_LOOKUP_HPP

#include <sys/types.h>

#include <string>

namespace tolvan::auth {

struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
};

// False when the user id has no entry (or the lookup fails).
[[nodiscard]] bool LookUpAccount(uid_t uid, Account *out);

// Member by primary group or by the group's member list. False when the
// group does not exist.
[[nodiscard]] bool IsGroupMember(const Account &account, const char *group);

}  // namespace tolvan::auth

#endif
