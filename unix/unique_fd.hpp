// A move-only owner of one POSIX descriptor: closing is part of the
// declaration, so every path out of a function closes what it opened.
#ifndef TOLVAN_UNIX_UNIQUE_FD_HPP
#define TOLVAN_UNIX_UNIQUE_FD_HPP

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tolvan {

class UniqueFd {
 public:
  UniqueFd() noexcept = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { reset(); }

  UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return valid(); }

  // Hands the descriptor to the caller, who now closes it.
  [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }

  // Closes the held descriptor (keeping errno as the caller left it, so a
  // failure being reported is not overwritten by the clean-up).
  void reset(int fd = -1) noexcept {
    int old = std::exchange(fd_, fd);
    if (old >= 0) {
      int saved = errno;
      ::close(old);
      errno = saved;
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace tolvan

#endif
