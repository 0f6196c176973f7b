#include "unix/full_transfer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <numeric>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/descriptors.hpp"
#include "tests/support/signals.hpp"

namespace {

using tolvan::test::InterruptingTimer;
using tolvan::test::MakeSocketPair;
using tolvan::test::StartChild;
using tolvan::test::WaitForChild;

std::vector<unsigned char> Pattern(size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  return bytes;
}

TEST(FullTransfer, CountZeroMakesNoSystemCall) {
  // A closed descriptor would give EBADF if anything were called.
  size_t moved = 99;
  unsigned char byte = 0;
  EXPECT_EQ(TolvanUNIXRead(-1, &byte, 0, &moved), 0);
  EXPECT_EQ(moved, 0u);
  moved = 99;
  EXPECT_EQ(TolvanUNIXWrite(-1, &byte, 0, &moved), 0);
  EXPECT_EQ(moved, 0u);
}

TEST(FullTransfer, ReadGathersBytesThatArriveOneAtATime) {
  auto sockets = MakeSocketPair();
  const std::vector<unsigned char> sent = Pattern(300);
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    for (unsigned char byte : sent) {
      if (write(sockets.theirs.get(), &byte, 1) != 1) return 1;
      if (byte % 64 == 0) usleep(1000);
    }
    return 0;
  });
  sockets.theirs.reset();
  std::vector<unsigned char> received(sent.size());
  size_t moved = 0;
  EXPECT_EQ(TolvanUNIXRead(sockets.ours.get(), received.data(), received.size(), &moved), 0);
  EXPECT_EQ(moved, sent.size());
  EXPECT_EQ(received, sent);
  EXPECT_EQ(WaitForChild(child), 0);
}

TEST(FullTransfer, PeerClosingMidWordIsEpipeWithTheCountThatArrived) {
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    const unsigned char three[3] = {0, 0, 1};
    return write(sockets.theirs.get(), three, 3) == 3 ? 0 : 1;
  });
  sockets.theirs.reset();
  unsigned char word[4] = {};
  size_t moved = 0;
  EXPECT_EQ(TolvanUNIXRead(sockets.ours.get(), word, sizeof word, &moved), EPIPE);
  EXPECT_EQ(moved, 3u);
  EXPECT_EQ(word[2], 1);
  EXPECT_EQ(WaitForChild(child), 0);
}

TEST(FullTransfer, FailingCallsReportTheirErrno) {
  unsigned char byte = 0;
  size_t moved = 99;
  EXPECT_EQ(TolvanUNIXRead(-1, &byte, 1, &moved), EBADF);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(TolvanUNIXWrite(-1, &byte, 1, nullptr), EBADF);

  tolvan::UniqueFd readOnly(open("/dev/null", O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(TolvanUNIXWrite(readOnly.get(), &byte, 1, nullptr), EBADF);
}

TEST(FullTransfer, WriteToAPeerThatLeftPartwayIsEpipeWithTheCountThatWent) {
  tolvan::test::IgnoringSigpipe ignoring;
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    std::vector<unsigned char> sink(1000);
    return TolvanUNIXRead(sockets.theirs.get(), sink.data(), sink.size(), nullptr);
  });
  sockets.theirs.reset();
  const std::vector<unsigned char> big = Pattern(8 << 20);
  size_t moved = 0;
  EXPECT_EQ(TolvanUNIXWrite(sockets.ours.get(), big.data(), big.size(), &moved), EPIPE);
  EXPECT_GE(moved, 1000u);
  EXPECT_LT(moved, big.size());
  EXPECT_EQ(WaitForChild(child), 0);
}

// The timer interrupts the read while it is blocked on an empty socket, and
// the write while it is blocked on a full one; both must carry on.
TEST(FullTransfer, InterruptedTransfersResumeAndCompleteTheBlock) {
  auto sockets = MakeSocketPair();
  const std::vector<unsigned char> block = Pattern(4 << 20);
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    usleep(100 * 1000);  // the parent is blocked in read by now
    if (TolvanUNIXWrite(sockets.theirs.get(), block.data(), block.size(), nullptr) != 0) return 1;
    std::vector<unsigned char> echo(block.size());
    usleep(100 * 1000);  // and now blocked in write, on a full buffer
    if (TolvanUNIXRead(sockets.theirs.get(), echo.data(), echo.size(), nullptr) != 0) return 2;
    return echo == block ? 0 : 3;
  });
  sockets.theirs.reset();
  std::vector<unsigned char> received(block.size());
  {
    InterruptingTimer timer(1000);
    ASSERT_EQ(TolvanUNIXRead(sockets.ours.get(), received.data(), received.size(), nullptr), 0);
    EXPECT_EQ(received, block);
    int readFirings = InterruptingTimer::Firings();
    ASSERT_EQ(TolvanUNIXWrite(sockets.ours.get(), received.data(), received.size(), nullptr), 0);
    EXPECT_GT(readFirings, 10);
    EXPECT_GT(InterruptingTimer::Firings() - readFirings, 10);
  }
  EXPECT_EQ(WaitForChild(child), 0);
}

}  // namespace
