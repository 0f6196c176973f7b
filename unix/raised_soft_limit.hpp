// Raising one resource limit's soft value to its hard value for a scope and
// putting the old soft value back at its end. Used where a process keeps a
// deliberately low soft limit for its own work and one step needs more: the
// helper tool's per-user process count (which counts every thread of the
// user's desktop) around a fork, its data limit around a password check.
#ifndef TOLVAN_UNIX_RAISED_SOFT_LIMIT_HPP
#define TOLVAN_UNIX_RAISED_SOFT_LIMIT_HPP

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace tolvan {

class RaisedSoftLimit {
 public:
  explicit RaisedSoftLimit(int resource) noexcept : resource_(resource) {
    raised_ = ::getrlimit(resource_, &saved_) == 0 && saved_.rlim_cur != saved_.rlim_max;
    if (raised_) {
      const struct rlimit hard = {saved_.rlim_max, saved_.rlim_max};
      raised_ = ::setrlimit(resource_, &hard) == 0;
    }
  }
  ~RaisedSoftLimit() { Restore(); }
  RaisedSoftLimit(const RaisedSoftLimit &) = delete;
  RaisedSoftLimit &operator=(const RaisedSoftLimit &) = delete;

  // Puts the old soft value back now rather than at the end of the scope.
  void Restore() noexcept {
    if (raised_) (void)::setrlimit(resource_, &saved_);
    raised_ = false;
  }
  // Leaves the raised value in place, for a child that goes on to exec.
  void Keep() noexcept { raised_ = false; }

 private:
  int resource_;
  struct rlimit saved_ = {};
  bool raised_ = false;
};

// fork() counted against the hard limit on the user's processes rather
// than a process's low soft one, which also counts every thread of the
// user's desktop. The parent's soft limit is put back at once; the child
// keeps the raised one. errno is fork's.
inline pid_t ForkPastSoftProcessLimit() noexcept {
  RaisedSoftLimit processes(RLIMIT_NPROC);
  const pid_t pid = ::fork();
  const int error = errno;
  if (pid == 0) {
    processes.Keep();
  } else {
    processes.Restore();
  }
  errno = error;
  return pid;
}

}  // namespace tolvan

#endif
