#include "platform/prefs/preference_location.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "unix/full_transfer.h"
#include "unix/unique_fd.hpp"

namespace tolvan::prefs {
namespace {

constexpr size_t kHostIDLength = 32;

bool IsApplicationIDCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool IsHostID(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (text.size() != kHostIDLength) return false;
  for (char c : text) {
    if (!IsLowerHexDigit(c)) return false;
  }
  return true;
}

}  // namespace

bool IsValidApplicationID(std::string_view id) {
  if (id.empty() || id.size() > kMaxApplicationIDLength || id.front() == '.') return false;
  for (char c : id) {
    if (!IsApplicationIDCharacter(c)) return false;
  }
  return true;
}

std::string ApplicationIDFromString(CFStringRef id) {
  if (id == nullptr || CFGetTypeID(id) != CFStringGetTypeID()) return {};
  char buffer[kMaxApplicationIDLength + 1];
  if (!CFStringGetCString(id, buffer, sizeof buffer, kCFStringEncodingASCII)) return {};
  std::string_view text(buffer);
  // A NUL inside the string would make the C string shorter than the id.
  if (static_cast<CFIndex>(text.size()) != CFStringGetLength(id)) return {};
  if (!IsValidApplicationID(text)) return {};
  return std::string(text);
}

int ReadHostID(std::string_view root, std::string *host_id) {
  std::string path = std::string(root) + "/etc/machine-id";
  // Only the content is used, and only after it has been checked, so the
  // file may be a link (some systems point it into /run).
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) return errno;
  struct stat status;
  if (::fstat(file.get(), &status) != 0) return errno;
  if (!S_ISREG(status.st_mode)) return EINVAL;
  char buffer[kHostIDLength + 2];
  size_t length = 0;
  int error = TolvanUNIXRead(file.get(), buffer, sizeof buffer, &length);
  if (error != 0 && error != EPIPE) return error;
  std::string_view text(buffer, length);
  // A full buffer means the file is longer than an id and its newline.
  if (error == 0 || !IsHostID(text)) return EINVAL;
  host_id->assign(text.substr(0, kHostIDLength));
  return 0;
}

std::string ByHostFolderPath(std::string_view root) {
  return std::string(root) + "/var/lib/tolvan/preferences/ByHost";
}

std::string DomainFileName(std::string_view app_id, std::string_view host_id) {
  std::string name;
  name.reserve(app_id.size() + host_id.size() + 7);
  name.append(app_id).append(".").append(host_id).append(".plist");
  return name;
}

}  // namespace tolvan::prefs
