#include "platform/auth/pam_conversation.hpp"

#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>

namespace tolvan::auth {
namespace {

constexpr char kServiceName[] = "tolvan";
constexpr int kLargestMessageCount = 32;

struct ConversationState {
  const SecretBuffer *password;
  bool handedOver;
};

void FreeReplies(struct pam_response *replies, int count) {
  for (int i = 0; i < count; ++i) {
    if (replies[i].resp != nullptr) {
      ::explicit_bzero(replies[i].resp, std::strlen(replies[i].resp));
      std::free(replies[i].resp);
    }
  }
  std::free(replies);
}

// PAM frees what it is given, so the password is copied into malloc'd memory;
// PAM wipes its copy of the token when the handle ends.
char *CopyPassword(const SecretBuffer &password) {
  auto *copy = static_cast<char *>(std::malloc(password.length() + 1));
  if (copy != nullptr) std::memcpy(copy, password.c_str(), password.length() + 1);
  return copy;
}

// Answers the one hidden prompt with the password and ignores information
// and error messages. Anything else - a visible prompt, a second hidden one
// (a one-time code, a new password) - this request cannot answer.
int Converse(int count, const struct pam_message **messages, struct pam_response **responses,
             void *data) {
  if (count <= 0 || count > kLargestMessageCount || messages == nullptr) return PAM_CONV_ERR;
  auto *state = static_cast<ConversationState *>(data);
  auto *replies = static_cast<struct pam_response *>(
      std::calloc(static_cast<size_t>(count), sizeof(struct pam_response)));
  if (replies == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    int style = messages[i] != nullptr ? messages[i]->msg_style : -1;
    if (style == PAM_ERROR_MSG || style == PAM_TEXT_INFO) continue;
    if (style != PAM_PROMPT_ECHO_OFF || state->handedOver) {
      FreeReplies(replies, count);
      return PAM_CONV_ERR;
    }
    replies[i].resp = CopyPassword(*state->password);
    if (replies[i].resp == nullptr) {
      FreeReplies(replies, count);
      return PAM_BUF_ERR;
    }
    state->handedOver = true;
  }
  *responses = replies;
  return PAM_SUCCESS;
}

PamVerdict VerdictOfAuthentication(int result) {
  switch (result) {
    case PAM_AUTH_ERR:
    case PAM_CRED_INSUFFICIENT:
    case PAM_USER_UNKNOWN:
    case PAM_CONV_ERR:
      return PamVerdict::kWrongPassword;
    case PAM_MAXTRIES:
      return PamVerdict::kAccountRefused;
    default:
      return PamVerdict::kBroken;
  }
}

}  // namespace

PamVerdict CheckPasswordWithPam(const char *configFolder, const char *user,
                                const SecretBuffer &password) noexcept {
  ConversationState state{&password, false};
  const struct pam_conv conversation { Converse, &state };
  pam_handle_t *handle = nullptr;
  int result = ::pam_start_confdir(kServiceName, user, &conversation, configFolder, &handle);
  if (result != PAM_SUCCESS) return PamVerdict::kBroken;
  PamVerdict verdict = PamVerdict::kBroken;
  result = ::pam_set_item(handle, PAM_RUSER, user);
  if (result == PAM_SUCCESS) {
    result = ::pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (result == PAM_SUCCESS) {
      result = ::pam_acct_mgmt(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
      verdict = result == PAM_SUCCESS ? PamVerdict::kGranted : PamVerdict::kAccountRefused;
    } else {
      verdict = VerdictOfAuthentication(result);
    }
  }
  ::pam_end(handle, result);
  return verdict;
}

}  // namespace tolvan::auth
