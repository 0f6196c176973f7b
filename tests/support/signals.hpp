// Test helpers for interrupted system calls.
#ifndef TOLVAN_TESTS_SUPPORT_SIGNALS_HPP
#define TOLVAN_TESTS_SUPPORT_SIGNALS_HPP

#include <signal.h>
#include <sys/time.h>

#include <atomic>

namespace tolvan::test {

// While it lives, SIGALRM fires every interval_us microseconds, caught by a
// handler installed without SA_RESTART, so that a blocked read, write,
// sendmsg or recvmsg fails with EINTR (or returns short) instead of being
// restarted by the kernel. Firings() says how often it went off.
class InterruptingTimer {
 public:
  explicit InterruptingTimer(long interval_us = 2000) {
    firings_ = 0;
    struct sigaction action = {};
    action.sa_handler = [](int) { firings_.fetch_add(1, std::memory_order_relaxed); };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGALRM, &action, &previous_);
    itimerval timer = {{0, interval_us}, {0, interval_us}};
    setitimer(ITIMER_REAL, &timer, nullptr);
  }
  ~InterruptingTimer() {
    itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous_, nullptr);
  }
  InterruptingTimer(const InterruptingTimer &) = delete;
  InterruptingTimer &operator=(const InterruptingTimer &) = delete;

  static int Firings() { return firings_.load(std::memory_order_relaxed); }

 private:
  static inline std::atomic<int> firings_{0};
  struct sigaction previous_ = {};
};

// SIGPIPE ignored for the life of the object, then restored.
class IgnoringSigpipe {
 public:
  IgnoringSigpipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous_);
  }
  ~IgnoringSigpipe() { sigaction(SIGPIPE, &previous_, nullptr); }
  IgnoringSigpipe(const IgnoringSigpipe &) = delete;
  IgnoringSigpipe &operator=(const IgnoringSigpipe &) = delete;

 private:
  struct sigaction previous_ = {};
};

}  // namespace tolvan::test

#endif
