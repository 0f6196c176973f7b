#include "platform/auth/rights_judgement.hpp"

#include <unistd.h>

#include <new>
#include <string>

#include "platform/auth/account_lookup.hpp"
#include "platform/auth/authentication_agent.hpp"
#include "platform/auth/authorization_policy.hpp"
#include "platform/auth/pam_conversation.hpp"
#include "platform/auth/root_privilege.hpp"
#include "platform/auth/session_scope.hpp"
#include "platform/auth/terminal_prompt.hpp"
#include "platform/auth/timestamp_store.hpp"
#include "platform/auth/trusted_path.hpp"
#include "platform/base/system_root.hpp"
#include "unix/raised_soft_limit.hpp"

namespace tolvan::auth {
namespace {

// What the judgement learns as root before anyone is asked.
struct Grounds {
  UniqueFd root;
  AuthorizationPolicy policy;
  Account account;
};

// As root: the system root, the policy, the account and its membership of
// the admin group, and a trusted PAM configuration.
OSStatus GatherGrounds(uid_t user, Grounds *grounds) {
  int error = 0;
  grounds->root = OpenSystemRoot(&error);
  if (!grounds->root) return errAuthorizationInternal;
  OSStatus status = LoadAuthorizationPolicy(grounds->root.get(), &grounds->policy);
  if (status != errAuthorizationSuccess) return status;
  if (!LookUpAccount(user, &grounds->account)) return errAuthorizationDenied;
  if (!IsGroupMember(grounds->account, grounds->policy.adminGroup)) return errAuthorizationDenied;
  UniqueFd pamConfig =
      OpenTrustedPath(grounds->root.get(), "etc/pam.d/tolvan", EntryKind::kFile, &error);
  return pamConfig ? errAuthorizationSuccess : errAuthorizationInternal;
}

AskOutcome AskForPassword(const Grounds &grounds, const std::string &prompt,
                          SecretBuffer *password) {
  const AuthorizationPolicy &policy = grounds.policy;
  if (policy.agent[0] != '\0') {
    return AskAgent(policy.agent, policy.agentTimeoutSeconds, prompt.c_str(), grounds.account,
                    password);
  }
  return AskAtTerminal(prompt.c_str(), password);
}

// Asks (as the user) and checks with PAM (as root), up to three times.
OSStatus Authenticate(const Grounds &grounds) {
  const std::string prompt = "Password for " + grounds.account.name + ": ";
  const std::string pamFolder = SystemPath("etc/pam.d");
  for (int attempt = 0; attempt < kPasswordTries; ++attempt) {
    SecretBuffer password;
    switch (AskForPassword(grounds, prompt, &password)) {
      case AskOutcome::kAnswered:
        break;
      case AskOutcome::kTooLong:
        continue;
      case AskOutcome::kCancelled:
        return errAuthorizationCanceled;
      case AskOutcome::kUnavailable:
        return errAuthorizationDenied;
    }
    PamVerdict verdict = PamVerdict::kBroken;
    if (!AsRoot([&] {
          verdict = CheckPasswordWithPam(pamFolder.c_str(), grounds.account.name.c_str(), password);
        })) {
      return errAuthorizationInternal;
    }
    switch (verdict) {
      case PamVerdict::kGranted:
        return errAuthorizationSuccess;
      case PamVerdict::kWrongPassword:
        continue;
      case PamVerdict::kAccountRefused:
        return errAuthorizationDenied;
      case PamVerdict::kBroken:
        return errAuthorizationInternal;
    }
  }
  return errAuthorizationDenied;
}

OSStatus Judge(AuthorizationFlags flags) {
  const uid_t user = ::getuid();
  if (user == 0) return errAuthorizationSuccess;
  // Without root at hand neither PAM nor the timestamps can be trusted.
  if (!RootIsAtHand()) return errAuthorizationDenied;

  Grounds grounds;
  OSStatus status = errAuthorizationInternal;
  if (!AsRoot([&] { status = GatherGrounds(user, &grounds); })) return errAuthorizationInternal;
  if (status != errAuthorizationSuccess) return status;

  SessionScope scope;
  const bool scoped = CurrentSessionScope(user, &scope);
  bool remembered = false;
  if (scoped && !AsRoot([&] {
        remembered = TimestampGrants(grounds.root.get(), scope, BootClockNow());
      })) {
    return errAuthorizationInternal;
  }
  if (remembered) return errAuthorizationSuccess;
  if ((flags & kAuthorizationFlagInteractionAllowed) == 0) return errAuthorizationDenied;

  status = Authenticate(grounds);
  if (status == errAuthorizationSuccess && scoped) {
    (void)AsRoot([&] { RememberGrant(grounds.root.get(), scope, BootClockNow()); });
  }
  return status;
}

}  // namespace

OSStatus JudgeAdminRight(AuthorizationFlags flags) noexcept {
  // The tool and the trampoline keep a small data limit for their own work,
  // but checking a password takes more: Debian's default hash (yescrypt)
  // alone maps 16 MiB. The soft limit is raised to the hard one while the
  // right is judged, and set back after.
  RaisedSoftLimit data(RLIMIT_DATA);
  try {
    return Judge(flags);
  } catch (const std::bad_alloc &) {
    return memFullErr;
  }
}

void ForgetAdminRight() noexcept {
  SessionScope scope;
  if (!RootIsAtHand() || !CurrentSessionScope(::getuid(), &scope)) return;
  (void)AsRootAtSystemRoot([&](int root) { ForgetGrant(root, scope); });
}

}  // namespace tolvan::auth
