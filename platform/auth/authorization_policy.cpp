#include "platform/auth/authorization_policy.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "platform/auth/bounded_read.hpp"
#include "platform/auth/trusted_path.hpp"

namespace tolvan::auth {
namespace {

constexpr unsigned kLongestAgentTimeout = 3600;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool CopyInto(std::string_view value, char *target, size_t capacity) {
  if (value.size() >= capacity) return false;
  std::memcpy(target, value.data(), value.size());
  target[value.size()] = '\0';
  return true;
}

// The portable user and group name set; a leading "-" would read as an
// option to the tools that handle groups.
bool IsGroupName(std::string_view name) {
  if (name.empty() || name.front() == '-') return false;
  for (char c : name) {
    bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '_' || c == '-' || c == '.';
    if (!allowed) return false;
  }
  return true;
}

bool IsAgentPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

bool ParseTimeout(std::string_view text, unsigned *out) {
  unsigned value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
  if (value == 0 || value > kLongestAgentTimeout) return false;
  *out = value;
  return true;
}

enum Key : unsigned { kAdminGroup = 1, kAgent = 2, kAgentTimeout = 4 };

bool ApplySetting(std::string_view key, std::string_view value, unsigned *seen,
                  AuthorizationPolicy *policy) {
  Key which;
  bool valid;
  if (key == "admin-group") {
    which = kAdminGroup;
    valid = IsGroupName(value) && CopyInto(value, policy->adminGroup, sizeof policy->adminGroup);
  } else if (key == "agent") {
    which = kAgent;
    valid = IsAgentPath(value) && CopyInto(value, policy->agent, sizeof policy->agent);
  } else if (key == "agent-timeout") {
    which = kAgentTimeout;
    valid = ParseTimeout(value, &policy->agentTimeoutSeconds);
  } else {
    return false;
  }
  if (!valid || (*seen & which) != 0) return false;
  *seen |= which;
  return true;
}

}  // namespace

bool ParseAuthorizationPolicy(const char *text, size_t length, AuthorizationPolicy *out) noexcept {
  std::string_view rest(text, length);
  if (rest.find('\0') != std::string_view::npos) return false;
  AuthorizationPolicy policy;
  unsigned seen = 0;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = Trim(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    if (!ApplySetting(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), &seen,
                      &policy)) {
      return false;
    }
  }
  *out = policy;
  return true;
}

OSStatus LoadAuthorizationPolicy(int root, AuthorizationPolicy *out) noexcept {
  int error = 0;
  UniqueFd file = OpenTrustedPath(root, "etc/tolvan/authorization", EntryKind::kFile, &error);
  if (!file) {
    if (error != ENOENT) return errAuthorizationInternal;
    *out = AuthorizationPolicy();
    return errAuthorizationSuccess;
  }
  char text[kPolicyFileCapacity];
  size_t length = 0;
  if (!ReadToEndBounded(file.get(), text, sizeof text, &length) ||
      !ParseAuthorizationPolicy(text, length, out)) {
    return errAuthorizationInternal;
  }
  return errAuthorizationSuccess;
}

}  // namespace tolvan::auth
