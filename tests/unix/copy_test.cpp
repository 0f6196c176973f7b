#include "unix/copy.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/descriptors.hpp"
#include "tests/support/signals.hpp"
#include "unix/full_transfer.h"

namespace {

using tolvan::UniqueFd;
using tolvan::test::CountOpenDescriptors;
using tolvan::test::MakePipe;
using tolvan::test::MakeSocketPair;
using tolvan::test::StartChild;
using tolvan::test::WaitForChild;

constexpr size_t kBuffer = 65536;

std::vector<unsigned char> Pattern(size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 13 + i / 251);
  return bytes;
}

// A sequenced-packet destination keeps the boundaries of every write, so the
// sizes that write was handed can be read off the far end.
struct WriteRecorder {
  tolvan::test::SocketPair sockets = MakeSocketPair(SOCK_SEQPACKET);
  std::vector<size_t> writes;
  std::vector<unsigned char> bytes;
  std::thread reader;

  WriteRecorder() {
    int size = 4 << 20;
    setsockopt(sockets.ours.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    reader = std::thread([this] {
      std::vector<unsigned char> packet(2 * kBuffer);
      for (;;) {
        ssize_t n = recv(sockets.theirs.get(), packet.data(), packet.size(), 0);
        if (n <= 0) break;
        writes.push_back(static_cast<size_t>(n));
        bytes.insert(bytes.end(), packet.begin(), packet.begin() + n);
      }
    });
  }
  int destination() const { return sockets.ours.get(); }
  void Finish() {
    shutdown(sockets.ours.get(), SHUT_WR);
    reader.join();
  }
};

struct CopySizeCase {
  size_t size;
  size_t pieceSize;  // how the source delivers it
  std::vector<size_t> expectedWrites;
};

void PrintTo(const CopySizeCase &c, std::ostream *out) {
  *out << c.size << " bytes in pieces of " << c.pieceSize;
}

class DescriptorCopy : public testing::TestWithParam<CopySizeCase> {};

TEST_P(DescriptorCopy, HandsWriteWholeBuffers) {
  const CopySizeCase &c = GetParam();
  const std::vector<unsigned char> content = Pattern(c.size);
  auto source = MakePipe();
  pid_t child = StartChild([&] {
    source.read.reset();
    for (size_t at = 0; at < content.size(); at += c.pieceSize) {
      size_t n = std::min(c.pieceSize, content.size() - at);
      if (TolvanUNIXWrite(source.write.get(), content.data() + at, n, nullptr) != 0) return 1;
    }
    return 0;
  });
  source.write.reset();

  WriteRecorder recorder;
  EXPECT_EQ(TolvanUNIXCopyDescriptorToDescriptor(source.read.get(), recorder.destination()), 0);
  recorder.Finish();
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_EQ(recorder.writes, c.expectedWrites);
  EXPECT_EQ(recorder.bytes, content);
  EXPECT_TRUE(tolvan::test::IsOpen(source.read.get()));
  EXPECT_TRUE(tolvan::test::IsOpen(recorder.destination()));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DescriptorCopy,
    testing::Values(CopySizeCase{0, 1, {}}, CopySizeCase{1, 1, {1}},
                    CopySizeCase{kBuffer, 4096, {kBuffer}},
                    CopySizeCase{kBuffer + 1, 1000, {kBuffer, 1}},
                    CopySizeCase{3 * kBuffer + 5, 7777, {kBuffer, kBuffer, kBuffer, 5}}));

TEST(DescriptorCopyFailure, ReadFailureIsItsErrnoAndNothingIsWritten) {
  UniqueFd folder(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  auto destination = MakePipe();
  EXPECT_EQ(TolvanUNIXCopyDescriptorToDescriptor(folder.get(), destination.write.get()), EISDIR);
  fcntl(destination.read.get(), F_SETFL, O_NONBLOCK);
  char byte;
  EXPECT_EQ(read(destination.read.get(), &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST(DescriptorCopyFailure, DestinationWhoseReaderLeftIsEpipe) {
  tolvan::test::IgnoringSigpipe ignoring;
  UniqueFd zero(open("/dev/zero", O_RDONLY | O_CLOEXEC));
  auto destination = MakePipe();
  destination.read.reset();
  EXPECT_EQ(TolvanUNIXCopyDescriptorToDescriptor(zero.get(), destination.write.get()), EPIPE);
}

TEST(DescriptorCopyFailure, BadDescriptorsReportEbadf) {
  UniqueFd zero(open("/dev/zero", O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(TolvanUNIXCopyDescriptorToDescriptor(-1, 1), EBADF);
  EXPECT_EQ(TolvanUNIXCopyDescriptorToDescriptor(zero.get(), -1), EBADF);
}

TEST(DescriptorCopyInterrupted, ResumesAndCompletes) {
  const std::vector<unsigned char> content = Pattern(2 << 20);
  auto source = MakeSocketPair();
  auto destination = MakeSocketPair();
  pid_t child = StartChild([&] {
    source.ours.reset();
    destination.ours.reset();
    // The reader starts late, so the copy also blocks in write on a full
    // socket; the writer starts late, so it first blocks in read.
    std::vector<unsigned char> copied(content.size());
    int readResult = -1;
    std::thread reader([&] {
      usleep(100 * 1000);
      readResult = TolvanUNIXRead(destination.theirs.get(), copied.data(), copied.size(), nullptr);
    });
    usleep(50 * 1000);
    int writeResult = TolvanUNIXWrite(source.theirs.get(), content.data(), content.size(), nullptr);
    source.theirs.reset();
    reader.join();
    if (writeResult != 0 || readResult != 0) return 1;
    return copied == content ? 0 : 2;
  });
  source.theirs.reset();
  destination.theirs.reset();
  {
    tolvan::test::InterruptingTimer timer(1000);
    EXPECT_EQ(TolvanUNIXCopyDescriptorToDescriptor(source.ours.get(), destination.ours.get()), 0);
    EXPECT_GT(tolvan::test::InterruptingTimer::Firings(), 20);
  }
  destination.ours.reset();
  EXPECT_EQ(WaitForChild(child), 0);
}

// ---- file copy ------------------------------------------------------------

class FileCopy : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "tolvan-copy-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    previousUmask_ = umask(0);
    umask(previousUmask_);
  }
  void TearDown() override {
    umask(previousUmask_);
    std::string command = "rm -rf '" + folder_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string Path(const std::string &name) const { return folder_ + "/" + name; }

  void WriteFile(const std::string &path, const std::vector<unsigned char> &content,
                 mode_t mode) {
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(fd);
    ASSERT_EQ(TolvanUNIXWrite(fd.get(), content.data(), content.size(), nullptr), 0);
    ASSERT_EQ(fchmod(fd.get(), mode), 0);
  }

  static std::vector<unsigned char> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static struct stat Stat(const std::string &path) {
    struct stat status = {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
  }

  std::string folder_;
  mode_t previousUmask_ = 0;
};

struct ModeCase {
  mode_t source;
  mode_t umask;
  mode_t expected;
};

void PrintTo(const ModeCase &c, std::ostream *out) {
  *out << std::oct << "mode 0" << c.source << " umask 0" << c.umask << std::dec;
}

class FileCopyModes : public FileCopy, public testing::WithParamInterface<ModeCase> {};

TEST_P(FileCopyModes, DropSetIdAndStickyBitsAndHonourTheUmask) {
  const ModeCase &c = GetParam();
  WriteFile(Path("source"), Pattern(10), c.source);
  umask(c.umask);
  EXPECT_EQ(TolvanUNIXCopyFile(Path("source").c_str(), Path("copy").c_str()), 0);
  EXPECT_EQ(Stat(Path("copy")).st_mode & 07777, c.expected);
  EXPECT_TRUE(S_ISREG(Stat(Path("copy")).st_mode));
}

INSTANTIATE_TEST_SUITE_P(Modes, FileCopyModes,
                         testing::Values(ModeCase{04555, 0, 0555}, ModeCase{04555, 022, 0555},
                                         ModeCase{06755, 0, 0755}, ModeCase{02775, 022, 0755},
                                         ModeCase{01777, 0, 0777}, ModeCase{07777, 027, 0750},
                                         ModeCase{0600, 0, 0600}, ModeCase{0, 0, 0}));

struct TimesCase {
  timespec access;
  timespec modification;
};

void PrintTo(const TimesCase &c, std::ostream *out) {
  *out << "atime " << c.access.tv_sec << "." << c.access.tv_nsec << " mtime "
       << c.modification.tv_sec << "." << c.modification.tv_nsec;
}

class FileCopyTimes : public FileCopy, public testing::WithParamInterface<TimesCase> {};

TEST_P(FileCopyTimes, CarryAtLeastToTheMicrosecond) {
  const TimesCase &c = GetParam();
  for (size_t size : {size_t{0}, size_t{3 * kBuffer + 1}}) {
    WriteFile(Path("source"), Pattern(size), 0644);
    const timespec times[2] = {c.access, c.modification};
    ASSERT_EQ(utimensat(AT_FDCWD, Path("source").c_str(), times, 0), 0);
    struct stat source = Stat(Path("source"));

    EXPECT_EQ(TolvanUNIXCopyFile(Path("source").c_str(), Path("copy").c_str()), 0);
    struct stat copy = Stat(Path("copy"));
    EXPECT_EQ(copy.st_size, static_cast<off_t>(size));
    EXPECT_EQ(copy.st_atim.tv_sec, source.st_atim.tv_sec);
    EXPECT_EQ(copy.st_mtim.tv_sec, source.st_mtim.tv_sec);
    EXPECT_EQ(copy.st_atim.tv_nsec / 1000, source.st_atim.tv_nsec / 1000);
    EXPECT_EQ(copy.st_mtim.tv_nsec / 1000, source.st_mtim.tv_nsec / 1000);
    // Set through the descriptor, the nanoseconds come along too.
    EXPECT_EQ(copy.st_mtim.tv_nsec, source.st_mtim.tv_nsec);
    unlink(Path("copy").c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Times, FileCopyTimes,
    testing::Values(TimesCase{{1234567890, 999999999}, {1000000000, 999999999}},
                    TimesCase{{0, 0}, {1, 1}}, TimesCase{{2000000000, 500}, {86400, 123456789}},
                    TimesCase{{1700000000, 0}, {4102444800, 1000}}));

TEST_F(FileCopy, CopiesTheContent) {
  const std::vector<unsigned char> content = Pattern(5 * kBuffer + 17);
  WriteFile(Path("source"), content, 0644);
  EXPECT_EQ(TolvanUNIXCopyFile(Path("source").c_str(), Path("copy").c_str()), 0);
  EXPECT_EQ(ReadFile(Path("copy")), content);
}

TEST_F(FileCopy, ExistingDestinationIsTruncatedAndKeepsItsMode) {
  WriteFile(Path("source"), Pattern(10), 04755);
  WriteFile(Path("copy"), std::vector<unsigned char>(100000, 'x'), 0640);
  const timespec times[2] = {{1111111111, 0}, {1222222222, 333333000}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("source").c_str(), times, 0), 0);

  EXPECT_EQ(TolvanUNIXCopyFile(Path("source").c_str(), Path("copy").c_str()), 0);
  EXPECT_EQ(ReadFile(Path("copy")), Pattern(10));
  struct stat copy = Stat(Path("copy"));
  EXPECT_EQ(copy.st_mode & 07777, 0640u);
  EXPECT_EQ(copy.st_mtim.tv_sec, 1222222222);
  EXPECT_EQ(copy.st_mtim.tv_nsec, 333333000);
}

TEST_F(FileCopy, LinkAtTheDestinationIsRefusedAndItsTargetUntouched) {
  WriteFile(Path("source"), Pattern(10), 0644);
  WriteFile(Path("target"), {'k', 'e', 'e', 'p'}, 0644);
  ASSERT_EQ(symlink(Path("target").c_str(), Path("copy").c_str()), 0);
  int before = CountOpenDescriptors();
  EXPECT_EQ(TolvanUNIXCopyFile(Path("source").c_str(), Path("copy").c_str()), ELOOP);
  EXPECT_EQ(ReadFile(Path("target")), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(FileCopy, FailuresReportErrnoAndCloseWhatWasOpened) {
  WriteFile(Path("source"), Pattern(10), 0644);
  int before = CountOpenDescriptors();

  EXPECT_EQ(TolvanUNIXCopyFile(Path("missing").c_str(), Path("copy").c_str()), ENOENT);
  EXPECT_NE(access(Path("copy").c_str(), F_OK), 0) << "nothing is created for a missing source";

  EXPECT_EQ(TolvanUNIXCopyFile(Path("source").c_str(), Path("no/such/copy").c_str()), ENOENT);
  EXPECT_EQ(TolvanUNIXCopyFile(Path("source").c_str(), folder_.c_str()), EISDIR);
  // A folder opens for reading but does not read.
  EXPECT_EQ(TolvanUNIXCopyFile(folder_.c_str(), Path("copy").c_str()), EISDIR);
  EXPECT_EQ(TolvanUNIXCopyFile(nullptr, Path("copy").c_str()), EINVAL);
  EXPECT_EQ(CountOpenDescriptors(), before);
}

}  // namespace
