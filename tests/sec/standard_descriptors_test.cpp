#include "sec/standard_descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/child_process.hpp"

namespace {

using tolvan::test::ChildSucceeded;
using tolvan::test::RunInChild;

bool IsDevNull(int fd) {
  struct stat seen, null_device;
  return fstat(fd, &seen) == 0 && stat("/dev/null", &null_device) == 0 &&
         seen.st_rdev == null_device.st_rdev && S_ISCHR(seen.st_mode);
}

TEST(StandardDescriptors, FillsTheClosedOnesAndLeavesTheOpenOnes) {
  // Every combination of closed standard descriptors.
  for (int closed = 0; closed < 8; ++closed) {
    EXPECT_TRUE(ChildSucceeded(RunInChild([closed] {
      int pipe_fds[2];
      if (pipe(pipe_fds) != 0) return std::string("pipe");
      for (int fd = 0; fd <= 2; ++fd) {
        if (closed & (1 << fd)) {
          close(fd);
        } else {
          dup2(pipe_fds[0], fd);
        }
      }
      const int ahead = fcntl(pipe_fds[0], F_DUPFD_CLOEXEC, 10);
      close(pipe_fds[0]);
      close(pipe_fds[1]);
      OSStatus status = TolvanSecOpenMissingStandardDescriptors();
      if (status != noErr) return "status " + std::to_string(status);
      std::string report;
      struct stat kept;
      fstat(ahead, &kept);
      for (int fd = 0; fd <= 2; ++fd) {
        struct stat seen;
        if (fstat(fd, &seen) != 0) {
          report += "fd " + std::to_string(fd) + " not open\n";
        } else if (closed & (1 << fd)) {
          if (!IsDevNull(fd)) report += "fd " + std::to_string(fd) + " is not /dev/null\n";
        } else if (seen.st_ino != kept.st_ino) {
          report += "fd " + std::to_string(fd) + " was replaced\n";
        }
      }
      // The next file opened does not take a standard number.
      int next = open("/dev/zero", O_RDONLY | O_CLOEXEC);
      if (next <= 2) report += "next descriptor is " + std::to_string(next) + "\n";
      return report;
    }))) << "closed mask "
         << closed;
  }
}

}  // namespace
