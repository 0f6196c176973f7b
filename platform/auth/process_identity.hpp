// What the kernel says about a process, read from /proc. The parsers take
// the raw text so that they can be fuzzed; the readers open the files
// relative to a /proc/<pid> folder descriptor, which stays bound to the one
// process it was opened for even if its pid is reused meanwhile.
#ifndef TOLVAN_PLATFORM_AUTH_PROCESS_IDENTITY_HPP
#define TOLVAN_PLATFORM_AUTH_PROCESS_IDENTITY_HPP

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "unix/unique_fd.hpp"

namespace tolvan::auth {

// The fields of /proc/<pid>/stat that identify a process and its session.
struct ProcStat {
  pid_t pid = 0;
  pid_t session = 0;
  // The controlling terminal as the kernel encodes it (0 when there is none).
  uint32_t terminal = 0;
  // Clock ticks after boot at which the process started.
  uint64_t startTime = 0;
};

// The kernel's random identifier of the current boot.
struct BootId {
  unsigned char bytes[16] = {};
};

// Parses the one line of /proc/<pid>/stat. The command name between the
// first "(" and the last ")" may hold any bytes.
[[nodiscard]] bool ParseProcStat(const char *text, size_t length, ProcStat *out) noexcept;

// Finds the real user id in the "Uid:" line of /proc/<pid>/status.
[[nodiscard]] bool ParseProcStatusRealUid(const char *text, size_t length, uid_t *out) noexcept;

// Parses /proc/sys/kernel/random/boot_id (36 characters of a UUID, then an
// optional newline).
[[nodiscard]] bool ParseBootId(const char *text, size_t length, BootId *out) noexcept;

// Opens /proc/<pid> (invalid when the process does not exist).
[[nodiscard]] UniqueFd OpenProcessFolder(pid_t pid) noexcept;

[[nodiscard]] bool ReadProcStat(int processFolder, ProcStat *out) noexcept;
[[nodiscard]] bool ReadProcessRealUid(int processFolder, uid_t *out) noexcept;
[[nodiscard]] bool ReadSelfStat(ProcStat *out) noexcept;
[[nodiscard]] bool ReadBootId(BootId *out) noexcept;

}  // namespace tolvan::auth

#endif
