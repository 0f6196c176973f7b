#include "unix/sigpipe.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "gtest/gtest.h"
#include "tests/support/descriptors.hpp"
#include "unix/full_transfer.h"

namespace {

class SigpipeAction : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(sigaction(SIGPIPE, nullptr, &saved_), 0); }
  void TearDown() override { sigaction(SIGPIPE, &saved_, nullptr); }
  struct sigaction saved_ = {};
};

TEST_F(SigpipeAction, BecomesIgnoredKeepingMaskAndFlags) {
  struct sigaction custom = {};
  custom.sa_handler = [](int) {};
  sigemptyset(&custom.sa_mask);
  sigaddset(&custom.sa_mask, SIGUSR1);
  sigaddset(&custom.sa_mask, SIGTERM);
  custom.sa_flags = SA_RESTART | SA_NODEFER;
  ASSERT_EQ(sigaction(SIGPIPE, &custom, nullptr), 0);

  EXPECT_EQ(TolvanUNIXIgnoreSIGPIPE(), 0);
  struct sigaction now = {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  EXPECT_EQ(now.sa_flags & (SA_RESTART | SA_NODEFER), SA_RESTART | SA_NODEFER);
  EXPECT_TRUE(sigismember(&now.sa_mask, SIGUSR1));
  EXPECT_TRUE(sigismember(&now.sa_mask, SIGTERM));
  EXPECT_FALSE(sigismember(&now.sa_mask, SIGINT));
}

TEST_F(SigpipeAction, WriteToAPeerThatLeftIsEpipeInsteadOfDeath) {
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  ASSERT_EQ(sigaction(SIGPIPE, &fallback, nullptr), 0);
  ASSERT_EQ(TolvanUNIXIgnoreSIGPIPE(), 0);

  auto sockets = tolvan::test::MakeSocketPair();
  sockets.theirs.reset();
  const char byte = 'x';
  EXPECT_EQ(TolvanUNIXWrite(sockets.ours.get(), &byte, 1, nullptr), EPIPE);
}

}  // namespace
