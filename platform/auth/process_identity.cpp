#include "platform/auth/process_identity.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/auth/bounded_read.hpp"

namespace tolvan::auth {
namespace {

// A stat line is about 52 numbers and a 15-byte name: far below this.
constexpr size_t kStatCapacity = 2048;
// status grows with the number of groups and the CPU masks; the Uid line
// comes early, so a bounded prefix is enough.
constexpr size_t kStatusCapacity = 8192;

// Position of each field after the command name, counting the state as 0.
constexpr size_t kSessionField = 3;
constexpr size_t kTerminalField = 4;
constexpr size_t kStartTimeField = 19;

// Decimal digits only (no sign, no spaces), without overflow.
template <typename Number>
bool ParseDecimal(std::string_view text, Number *out) {
  if (text.empty() || text[0] == '-') return false;
  Number value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  *out = value;
  return true;
}

bool ParsePid(std::string_view text, pid_t *out) {
  int value = 0;
  if (!ParseDecimal(text, &value) || value <= 0) return false;
  *out = value;
  return true;
}

// Splits text at single spaces into at most capacity fields; false when a
// field is empty.
size_t SplitFields(std::string_view text, std::string_view *fields, size_t capacity) {
  size_t count = 0;
  while (!text.empty() && count < capacity) {
    size_t space = text.find(' ');
    std::string_view field = text.substr(0, space);
    if (field.empty()) return 0;
    fields[count++] = field;
    if (space == std::string_view::npos) break;
    text.remove_prefix(space + 1);
  }
  return count;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseProcStat(const char *text, size_t length, ProcStat *out) noexcept {
  std::string_view line(text, length);
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  size_t open = line.find(" (");
  size_t close = line.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2) {
    return false;
  }
  ProcStat parsed;
  if (!ParsePid(line.substr(0, open), &parsed.pid)) return false;
  if (close + 2 > line.size() || line[close + 1] != ' ') return false;
  std::string_view fields[kStartTimeField + 1];
  size_t count = SplitFields(line.substr(close + 2), fields, kStartTimeField + 1);
  if (count != kStartTimeField + 1) return false;
  // A session id of 0 is the kernel's own: no session to scope anything to.
  int session = 0;
  if (!ParseDecimal(fields[kSessionField], &session) || session < 0) return false;
  parsed.session = session;
  if (!ParseDecimal(fields[kTerminalField], &parsed.terminal)) return false;
  if (!ParseDecimal(fields[kStartTimeField], &parsed.startTime)) return false;
  *out = parsed;
  return true;
}

bool ParseProcStatusRealUid(const char *text, size_t length, uid_t *out) noexcept {
  std::string_view rest(text, length);
  constexpr std::string_view kLabel = "Uid:\t";
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.substr(0, kLabel.size()) != kLabel) continue;
    line.remove_prefix(kLabel.size());
    uid_t uid = 0;
    if (!ParseDecimal(line.substr(0, line.find('\t')), &uid) || uid == static_cast<uid_t>(-1)) {
      return false;
    }
    *out = uid;
    return true;
  }
  return false;
}

bool ParseBootId(const char *text, size_t length, BootId *out) noexcept {
  constexpr size_t kUuidLength = 36;
  if (length == kUuidLength + 1 && text[kUuidLength] == '\n') length = kUuidLength;
  if (length != kUuidLength) return false;
  BootId parsed;
  size_t filled = 0;
  for (size_t i = 0; i < kUuidLength;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    int high = HexValue(text[i]);
    int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    parsed.bytes[filled++] = static_cast<unsigned char>(high << 4 | low);
    i += 2;
  }
  *out = parsed;
  return true;
}

UniqueFd OpenProcessFolder(pid_t pid) noexcept {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
  return UniqueFd(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool ReadProcStat(int processFolder, ProcStat *out) noexcept {
  char text[kStatCapacity];
  size_t length = 0;
  return ReadFileBounded(processFolder, "stat", text, sizeof text, &length) &&
         ParseProcStat(text, length, out);
}

bool ReadProcessRealUid(int processFolder, uid_t *out) noexcept {
  UniqueFd fd(::openat(processFolder, "status", O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return false;
  char text[kStatusCapacity];
  size_t filled = 0;
  // Only a prefix is needed; a longer file is not an error here.
  while (filled < sizeof text) {
    ssize_t got = ::read(fd.get(), text + filled, sizeof text - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  return ParseProcStatusRealUid(text, filled, out);
}

bool ReadSelfStat(ProcStat *out) noexcept {
  UniqueFd self(::open("/proc/self", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return self && ReadProcStat(self.get(), out);
}

bool ReadBootId(BootId *out) noexcept {
  UniqueFd folder(::open("/proc/sys/kernel/random", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return false;
  char text[64];
  size_t length = 0;
  return ReadFileBounded(folder.get(), "boot_id", text, sizeof text, &length) &&
         ParseBootId(text, length, out);
}

}  // namespace tolvan::auth
