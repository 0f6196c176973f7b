// What the trampoline leaves for the program it starts: which process it
// became (pid and start time), for which real user, and which file it
// executed (device and inode of the open descriptor). Fixed-size and
// versioned; decoding checks every byte.
#ifndef TOLVAN_PLATFORM_AUTH_LAUNCH_RECORD_HPP
#define TOLVAN_PLATFORM_AUTH_LAUNCH_RECORD_HPP

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tolvan::auth {

constexpr size_t kLaunchRecordSize = 40;

struct LaunchRecord {
  pid_t pid = 0;
  uid_t uid = 0;
  // Clock ticks after boot, as in /proc/<pid>/stat.
  uint64_t startTime = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
};

void EncodeLaunchRecord(const LaunchRecord &record, unsigned char bytes[kLaunchRecordSize]) noexcept;

// False unless length is the record size, magic, version and reserved bytes
// are exactly as written and the pid is positive.
[[nodiscard]] bool DecodeLaunchRecord(const unsigned char *bytes, size_t length,
                                      LaunchRecord *out) noexcept;

// The record of this process running the file executable describes: its
// pid, start time and real user. False when /proc/self/stat cannot be read.
[[nodiscard]] bool DescribeThisProcessRunning(const struct stat &executable,
                                              LaunchRecord *out) noexcept;

// Whether record names exactly the process and executable of expected.
[[nodiscard]] bool SameLaunch(const LaunchRecord &record, const LaunchRecord &expected) noexcept;

}  // namespace tolvan::auth

#endif
