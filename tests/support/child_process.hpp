// Running a piece of a test in a forked child, for code that changes
// process-wide state (descriptors, signals, limits, identity) or may hang.
//
// The child's report travels through a shared anonymous mapping rather than
// a descriptor, so that the code under test may close every descriptor,
// lower every limit and drop every privilege on the way.
#ifndef TOLVAN_TESTS_SUPPORT_CHILD_PROCESS_HPP
#define TOLVAN_TESTS_SUPPORT_CHILD_PROCESS_HPP

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace tolvan::test {

struct ChildOutcome {
  bool finished = false;  // exited normally, in time
  std::string report;     // what the child returned; empty means "as expected"
  std::string failure;    // why it did not finish: a signal, a time-out
};

// Runs body() in a child and returns its report. body returns an empty
// string when everything held, otherwise a description of what did not.
// While waiting, the parent calls on_wait() about every 5 ms (to answer a
// prompt on a terminal, say).
template <typename Body, typename OnWait>
ChildOutcome RunInChild(Body body, int timeout_seconds, OnWait on_wait) {
  constexpr size_t kReportSize = 1 << 16;
  ChildOutcome outcome;
  void *shared =
      mmap(nullptr, kReportSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    outcome.failure = "mmap failed";
    return outcome;
  }
  char *report = static_cast<char *>(shared);
  report[0] = '\0';
  pid_t pid = fork();
  if (pid == 0) {
    std::string text = body();
    std::strncpy(report, text.c_str(), kReportSize - 1);
    report[kReportSize - 1] = '\0';
    _exit(0);
  }
  if (pid < 0) {
    outcome.failure = "fork failed";
    munmap(shared, kReportSize);
    return outcome;
  }
  int status = 0;
  const struct timespec pause = {0, 5 * 1000 * 1000};
  for (long waited_ms = 0;; waited_ms += 5) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    on_wait();
    if (waited_ms >= timeout_seconds * 1000L) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      outcome.failure = "timed out";
      munmap(shared, kReportSize);
      return outcome;
    }
    nanosleep(&pause, nullptr);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    outcome.finished = true;
  } else if (WIFSIGNALED(status)) {
    outcome.failure = std::string("killed by signal ") + std::to_string(WTERMSIG(status));
  } else {
    outcome.failure = "exited with " + std::to_string(WEXITSTATUS(status));
  }
  outcome.report = report;
  munmap(shared, kReportSize);
  return outcome;
}

template <typename Body>
ChildOutcome RunInChild(Body body, int timeout_seconds = 30) {
  return RunInChild(body, timeout_seconds, [] {});
}

// For EXPECT_TRUE(ChildSucceeded(RunInChild(...))): the child finished in
// time and reported nothing.
inline ::testing::AssertionResult ChildSucceeded(const ChildOutcome &outcome) {
  if (!outcome.finished) {
    return ::testing::AssertionFailure() << "child did not finish: " << outcome.failure
                                         << (outcome.report.empty() ? "" : "; ") << outcome.report;
  }
  if (!outcome.report.empty()) return ::testing::AssertionFailure() << outcome.report;
  return ::testing::AssertionSuccess();
}

}  // namespace tolvan::test

#endif
