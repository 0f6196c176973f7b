#include "unix/descriptor_passing.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/crafted_message.hpp"
#include "tests/support/descriptors.hpp"
#include "tests/support/signals.hpp"

namespace {

using tolvan::UniqueFd;
using tolvan::test::CountOpenDescriptors;
using tolvan::test::MakePipe;
using tolvan::test::MakeSocketPair;
using tolvan::test::StartChild;
using tolvan::test::WaitForChild;

TEST(DescriptorPassing, CompileTimeSizesOfTheMessage) {
  EXPECT_EQ(CMSG_SPACE(sizeof(int)), 24u);
  EXPECT_EQ(CMSG_LEN(sizeof(int)), 20u);
}

TEST(DescriptorPassing, ReceivedDescriptorIsTheSameOpenFileAndCloseOnExec) {
  auto sockets = MakeSocketPair();
  auto pipe = MakePipe();
  ASSERT_EQ(TolvanUNIXWriteDescriptor(sockets.ours.get(), pipe.write.get()), 0);
  EXPECT_TRUE(tolvan::test::IsOpen(pipe.write.get())) << "sending must not close";

  int raw = -1;
  ASSERT_EQ(TolvanUNIXReadDescriptor(sockets.theirs.get(), &raw), 0);
  UniqueFd received(raw);
  EXPECT_NE(received.get(), pipe.write.get());
  EXPECT_TRUE(tolvan::test::SameOpenFile(received.get(), pipe.write.get()));
  EXPECT_TRUE(tolvan::test::IsCloseOnExec(received.get()));

  pipe.write.reset();  // only the received copy keeps the pipe open now
  ASSERT_EQ(write(received.get(), "x", 1), 1);
  char byte = 0;
  EXPECT_EQ(read(pipe.read.get(), &byte, 1), 1);
  EXPECT_EQ(byte, 'x');
}

TEST(DescriptorPassing, DescriptorsCrossIntoAnotherProcess) {
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    auto pipe = MakePipe();
    if (write(pipe.write.get(), "hello", 5) != 5) return 1;
    pipe.write.reset();
    return TolvanUNIXWriteDescriptor(sockets.theirs.get(), pipe.read.get());
  });
  sockets.theirs.reset();
  int raw = -1;
  ASSERT_EQ(TolvanUNIXReadDescriptor(sockets.ours.get(), &raw), 0);
  UniqueFd received(raw);
  EXPECT_EQ(WaitForChild(child), 0);
  char text[6] = {};
  EXPECT_EQ(read(received.get(), text, 5), 5);
  EXPECT_STREQ(text, "hello");
}

struct CraftedCase {
  const char *name;
  std::string data;
  int rightsMessages;  // SCM_RIGHTS headers sent
  int descriptorsEach;
  int expected;
};

void PrintTo(const CraftedCase &c, std::ostream *out) { *out << c.name; }

class CraftedMessage : public testing::TestWithParam<CraftedCase> {};

// A peer in a child process sends one message of the given shape; whatever
// the receiver refuses, it must close every descriptor that arrived.
TEST_P(CraftedMessage, IsAnsweredAndLeavesNothingOpen) {
  const CraftedCase &c = GetParam();
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    std::vector<std::vector<int>> rights;
    for (int m = 0; m < c.rightsMessages; ++m) {
      std::vector<int> fds;
      for (int i = 0; i < c.descriptorsEach; ++i) fds.push_back(open("/dev/null", O_RDONLY));
      rights.push_back(fds);
    }
    if (!c.data.empty() &&
        tolvan::test::SendCraftedMessage(sockets.theirs.get(), c.data, rights) < 0) {
      return 1;
    }
    return 0;
  });
  sockets.theirs.reset();
  ASSERT_EQ(WaitForChild(child), 0);

  int before = CountOpenDescriptors();
  int fd = -12345;
  EXPECT_EQ(TolvanUNIXReadDescriptor(sockets.ours.get(), &fd), c.expected);
  if (c.expected == 0) {
    EXPECT_GE(fd, 0);
    EXPECT_EQ(CountOpenDescriptors(), before + 1);
    close(fd);
  } else {
    EXPECT_EQ(fd, -12345) << "the out-pointer is left untouched";
    EXPECT_EQ(CountOpenDescriptors(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CraftedMessage,
    testing::Values(CraftedCase{"OneDescriptor", "D", 1, 1, 0},
                    CraftedCase{"WrongByte", "X", 1, 1, EINVAL},
                    CraftedCase{"NoControlData", "D", 0, 0, EINVAL},
                    CraftedCase{"TwoDescriptorsInOneHeader", "D", 1, 2, EINVAL},
                    // Three do not fit the control buffer: truncated.
                    CraftedCase{"ThreeDescriptorsTruncated", "D", 1, 3, EINVAL},
                    CraftedCase{"TwoHeadersOfOne", "D", 2, 1, EINVAL},
                    CraftedCase{"EmptyRightsHeader", "D", 1, 0, EINVAL},
                    CraftedCase{"PeerClosedFirst", "", 0, 0, EPIPE}),
    [](const testing::TestParamInfo<CraftedCase> &param) { return param.param.name; });

TEST(DescriptorPassing, InterruptedReceiveWaitsForTheDescriptor) {
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    usleep(100 * 1000);
    return TolvanUNIXWriteDescriptor(sockets.theirs.get(), 0);
  });
  sockets.theirs.reset();
  int raw = -1;
  {
    tolvan::test::InterruptingTimer timer(1000);
    ASSERT_EQ(TolvanUNIXReadDescriptor(sockets.ours.get(), &raw), 0);
    EXPECT_GT(tolvan::test::InterruptingTimer::Firings(), 10);
  }
  close(raw);
  EXPECT_EQ(WaitForChild(child), 0);
}

TEST(DescriptorPassing, SendingToAPeerThatLeftIsEpipe) {
  tolvan::test::IgnoringSigpipe ignoring;
  auto sockets = MakeSocketPair();
  sockets.theirs.reset();
  EXPECT_EQ(TolvanUNIXWriteDescriptor(sockets.ours.get(), 0), EPIPE);
}

TEST(DescriptorPassing, SystemCallFailuresReportTheirErrno) {
  auto sockets = MakeSocketPair();
  EXPECT_EQ(TolvanUNIXWriteDescriptor(sockets.ours.get(), 4000), EBADF);
  EXPECT_EQ(TolvanUNIXWriteDescriptor(-1, 0), EBADF);
  int fd = -7;
  EXPECT_EQ(TolvanUNIXReadDescriptor(-1, &fd), EBADF);
  EXPECT_EQ(fd, -7);
  auto pipe = MakePipe();
  EXPECT_EQ(TolvanUNIXReadDescriptor(pipe.read.get(), &fd), ENOTSOCK);
  EXPECT_EQ(TolvanUNIXReadDescriptor(sockets.ours.get(), nullptr), EINVAL);
}

}  // namespace
