// Test helpers for code that moves descriptors: counting what is open, a
// socket pair, and a child process that plays the peer.
#ifndef TOLVAN_TESTS_SUPPORT_DESCRIPTORS_HPP
#define TOLVAN_TESTS_SUPPORT_DESCRIPTORS_HPP

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "gtest/gtest.h"
#include "tests/support/open_descriptors.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::test {

struct SocketPair {
  UniqueFd ours;
  UniqueFd theirs;
};

inline SocketPair MakeSocketPair(int type = SOCK_STREAM) {
  int fds[2] = {-1, -1};
  EXPECT_EQ(socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds), 0);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

inline Pipe MakePipe() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Runs body in a child process that then exits with 0 (or with what body
// returns); the parent goes on at once. Wait with WaitForChild.
inline pid_t StartChild(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  EXPECT_GT(pid, 0);
  return pid;
}

// The child's exit status, or -1 when it did not exit normally.
inline int WaitForChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool SameOpenFile(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

inline bool IsCloseOnExec(int fd) {
  int flags = fcntl(fd, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

inline bool IsOpen(int fd) { return fcntl(fd, F_GETFD) >= 0; }

}  // namespace tolvan::test

#endif
