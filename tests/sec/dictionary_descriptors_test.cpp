#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sec/descriptor_array.h"
#include "sec/dictionary_channel.h"
#include "sec/reserved_keys.h"
#include "tests/cf/property_list_values.hpp"
#include "tests/plist/varn_test_support.hpp"
#include "tests/support/crafted_message.hpp"
#include "tests/support/descriptors.hpp"
#include "unix/descriptor_passing.h"

namespace {

using tolvan::CFRef;
using tolvan::UniqueFd;
using tolvan::test::Array;
using tolvan::test::CountOpenDescriptors;
using tolvan::test::Dict;
using tolvan::test::Int;
using tolvan::test::MakePipe;
using tolvan::test::MakeSocketPair;
using tolvan::test::StartChild;
using tolvan::test::Str;
using tolvan::test::Value;
using tolvan::test::WaitForChild;

constexpr char kFDs[] = kTolvanSecDescriptorArrayKeyString;

CFDictionaryRef AsDictionary(const Value &value) {
  return static_cast<CFDictionaryRef>(value.get());
}

// The receiver's numbers from a translated reply.
std::vector<int> ListedDescriptors(CFDictionaryRef reply) {
  std::vector<int> fds;
  auto array = static_cast<CFArrayRef>(CFDictionaryGetValue(reply, kDescriptorArrayKey));
  for (CFIndex i = 0; array != nullptr && i < CFArrayGetCount(array); ++i) {
    int fd = -1;
    CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(array, i)),
                     kCFNumberIntType, &fd);
    fds.push_back(fd);
  }
  return fds;
}

// Writes dictionary (and its descriptors) from a child process, so that the
// numbers in its array are the child's, then closes the link.
pid_t WriteFromChild(tolvan::test::SocketPair &sockets, const Value &dictionary,
                     OSStatus expected) {
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    OSStatus status = WriteDictionaryAndDescriptors(AsDictionary(dictionary), sockets.theirs.get());
    return status == expected ? 0 : 1;
  });
  sockets.theirs.reset();
  return child;
}

TEST(TranslatingReader, ReplyWithoutTheKeyComesBackAsReadAndNoMessageIsRead) {
  auto sockets = MakeSocketPair();
  auto reply = Dict({{"status", Int(0)}});
  ASSERT_EQ(WriteDictionaryAndDescriptors(AsDictionary(reply), sockets.theirs.get()), noErr);
  // A descriptor message behind the frame must stay where it is.
  ASSERT_EQ(TolvanUNIXWriteDescriptor(sockets.theirs.get(), 0), 0);

  CFDictionaryRef read = nullptr;
  ASSERT_EQ(CopyDictionaryTranslatingDescriptors(sockets.ours.get(), &read), noErr);
  auto owned = CFRef<CFDictionaryRef>::Adopt(read);
  EXPECT_TRUE(CFEqual(read, reply.get()));
  int fd = -1;
  EXPECT_EQ(TolvanUNIXReadDescriptor(sockets.ours.get(), &fd), 0);
  close(fd);
}

TEST(TranslatingReader, EmptyArrayGivesACopyWithANewEmptyArray) {
  auto sockets = MakeSocketPair();
  auto reply = Dict({{kFDs, Array({})}, {"x", Int(1)}});
  ASSERT_EQ(WriteDictionaryAndDescriptors(AsDictionary(reply), sockets.theirs.get()), noErr);
  ASSERT_EQ(TolvanUNIXWriteDescriptor(sockets.theirs.get(), 0), 0);

  CFDictionaryRef read = nullptr;
  ASSERT_EQ(CopyDictionaryTranslatingDescriptors(sockets.ours.get(), &read), noErr);
  auto owned = CFRef<CFDictionaryRef>::Adopt(read);
  EXPECT_TRUE(CFEqual(read, reply.get()));
  // The object layer aborts on a change to an immutable dictionary.
  CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(read), CFSTR("added"), kCFBooleanTrue);
  int fd = -1;
  EXPECT_EQ(TolvanUNIXReadDescriptor(sockets.ours.get(), &fd), 0) << "no message was consumed";
  close(fd);
}

// Three different kinds of open file cross from a child; each translated
// number must be a new descriptor here that refers to the same open file as
// the sender's element at the same index.
TEST(TranslatingReader, ListsTheReceiversOwnDescriptorsInTheSendersOrder) {
  auto pipe = MakePipe();
  UniqueFd file(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
  auto spare = MakeSocketPair();
  const int sent[] = {pipe.write.get(), file.get(), spare.ours.get()};
  auto reply = Dict({{kFDs, Array({Int(sent[0]), Int(sent[1]), Int(sent[2])})}});

  auto sockets = MakeSocketPair();
  pid_t child = WriteFromChild(sockets, reply, noErr);
  CFDictionaryRef read = nullptr;
  ASSERT_EQ(CopyDictionaryTranslatingDescriptors(sockets.ours.get(), &read), noErr);
  auto owned = CFRef<CFDictionaryRef>::Adopt(read);
  EXPECT_EQ(WaitForChild(child), 0);

  std::vector<int> received = ListedDescriptors(read);
  ASSERT_EQ(received.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(received[i], sent[i]);
    EXPECT_TRUE(tolvan::test::SameOpenFile(received[i], sent[i])) << "element " << i;
    EXPECT_TRUE(tolvan::test::IsCloseOnExec(received[i]));
  }
  pipe.write.reset();  // the received copy alone keeps the pipe's write side
  ASSERT_EQ(write(received[0], "!", 1), 1);
  char byte = 0;
  EXPECT_EQ(::read(pipe.read.get(), &byte, 1), 1);

  int before = CountOpenDescriptors();
  TolvanSecCloseDescriptorArray(
      static_cast<CFArrayRef>(CFDictionaryGetValue(read, kDescriptorArrayKey)));
  EXPECT_EQ(CountOpenDescriptors(), before - 3);
}

TEST(DescriptorWriter, SenderKeepsItsDescriptorsOpen) {
  auto pipe = MakePipe();
  auto reply = Dict({{kFDs, Array({Int(pipe.read.get()), Int(pipe.write.get())})}});
  auto sockets = MakeSocketPair();
  ASSERT_EQ(WriteDictionaryAndDescriptors(AsDictionary(reply), sockets.ours.get()), noErr);
  EXPECT_TRUE(tolvan::test::IsOpen(pipe.read.get()));
  EXPECT_TRUE(tolvan::test::IsOpen(pipe.write.get()));
  CFDictionaryRef read = nullptr;
  ASSERT_EQ(CopyDictionaryTranslatingDescriptors(sockets.theirs.get(), &read), noErr);
  TolvanSecCloseDescriptorArray(
      static_cast<CFArrayRef>(CFDictionaryGetValue(read, kDescriptorArrayKey)));
  CFRelease(read);
}

struct BadArrayCase {
  const char *name;
  Value (*array)(int fd);
  OSStatus writer;
  OSStatus reader;
};

void PrintTo(const BadArrayCase &c, std::ostream *out) { *out << c.name; }

class BadDescriptorArray : public testing::TestWithParam<BadArrayCase> {};

// The writer sends the frame (and the descriptors before the bad element)
// and then refuses; the reader, waiting for what never comes, gets EPIPE
// when the link closes and closes what it did receive.
TEST_P(BadDescriptorArray, WriterRefusesAfterTheFrameAndReaderLeavesNothingOpen) {
  const BadArrayCase &c = GetParam();
  auto pipe = MakePipe();
  auto reply = Dict({{kFDs, c.array(pipe.write.get())}, {"k", Str("v")}});
  auto sockets = MakeSocketPair();
  pid_t child = WriteFromChild(sockets, reply, c.writer);
  ASSERT_EQ(WaitForChild(child), 0);

  int before = CountOpenDescriptors();
  auto placeholder = Dict({});
  CFDictionaryRef read = AsDictionary(placeholder);
  EXPECT_EQ(CopyDictionaryTranslatingDescriptors(sockets.ours.get(), &read), c.reader);
  EXPECT_EQ(read, placeholder.get()) << "the out-pointer stays as the caller set it";
  EXPECT_EQ(CountOpenDescriptors(), before);
  pipe.write.reset();
  // Every copy of the pipe's write side is gone: the received one was closed
  // (and the ones still queued in the socket die with it).
  sockets.ours.reset();
  char byte;
  EXPECT_EQ(::read(pipe.read.get(), &byte, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadDescriptorArray,
    testing::Values(
        BadArrayCase{"StringInsteadOfArray", [](int) { return Str("3"); }, EINVAL,
                     kVarnBadValueErr},
        BadArrayCase{"NumberInsteadOfArray", [](int fd) { return Int(fd); }, EINVAL,
                     kVarnBadValueErr},
        BadArrayCase{"DescriptorThenString", [](int fd) { return Array({Int(fd), Str("x")}); },
                     EINVAL, EPIPE},
        BadArrayCase{"TwoDescriptorsThenAReal",
                     [](int fd) { return Array({Int(fd), Int(fd), tolvan::test::Real(0.5)}); },
                     EINVAL, EPIPE},
        BadArrayCase{"DescriptorThenBeyondInt",
                     [](int fd) { return Array({Int(fd), Int(int64_t{1} << 40)}); }, EINVAL,
                     EPIPE},
        BadArrayCase{"DescriptorThenBoolean",
                     [](int fd) { return Array({Int(fd), tolvan::test::Bool(true)}); }, EINVAL,
                     EPIPE},
        BadArrayCase{"ClosedDescriptor", [](int) { return Array({Int(4000)}); }, EBADF, EPIPE}),
    [](const testing::TestParamInfo<BadArrayCase> &param) { return param.param.name; });

// A peer that announces two descriptors, sends one good message and then a
// bad one: the reader refuses, and neither the good descriptor nor the two
// in the bad message stay open.
TEST(TranslatingReader, RefusedSecondMessageClosesEverythingReceived) {
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    auto reply = Dict({{kFDs, Array({Int(0), Int(1)})}});
    if (WriteDictionaryToDescriptor(AsDictionary(reply), sockets.theirs.get()) != noErr) return 1;
    if (TolvanUNIXWriteDescriptor(sockets.theirs.get(), 0) != 0) return 2;
    int two[] = {open("/dev/null", O_RDONLY), open("/dev/null", O_RDONLY)};
    return tolvan::test::SendCraftedMessage(sockets.theirs.get(), "D", {{two[0], two[1]}}) == 1
               ? 0
               : 3;
  });
  sockets.theirs.reset();
  ASSERT_EQ(WaitForChild(child), 0);
  int before = CountOpenDescriptors();
  CFDictionaryRef read = nullptr;
  EXPECT_EQ(CopyDictionaryTranslatingDescriptors(sockets.ours.get(), &read), EINVAL);
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST(TranslatingReader, FrameFailuresPassThrough) {
  auto sockets = MakeSocketPair();
  sockets.theirs.reset();
  CFDictionaryRef read = nullptr;
  EXPECT_EQ(CopyDictionaryTranslatingDescriptors(sockets.ours.get(), &read), EPIPE);
  EXPECT_EQ(CopyDictionaryTranslatingDescriptors(sockets.ours.get(), nullptr), paramErr);
  EXPECT_EQ(WriteDictionaryAndDescriptors(nullptr, sockets.ours.get()), paramErr);
}

// Requests travel without translation: the array is plain data and nothing
// but the frame is read.
TEST(PlainFrame, DescriptorArrayInARequestIsPlainData) {
  auto sockets = MakeSocketPair();
  auto request = Dict({{kFDs, Array({Int(0), Int(1)})}});
  ASSERT_EQ(WriteDictionaryToDescriptor(AsDictionary(request), sockets.theirs.get()), noErr);
  int before = CountOpenDescriptors();
  CFDictionaryRef read = nullptr;
  ASSERT_EQ(CopyDictionaryFromDescriptor(sockets.ours.get(), &read), noErr);
  auto owned = CFRef<CFDictionaryRef>::Adopt(read);
  EXPECT_TRUE(CFEqual(read, request.get()));
  EXPECT_EQ(CountOpenDescriptors(), before);
}

// Every allocation the reader makes may fail; whichever does, the result is
// a failure status or a complete reply, and no descriptor stays open.
TEST(TranslatingReaderOutOfMemory, EveryAllocationFailureCleansUp) {
  auto pipe = MakePipe();
  auto reply = Dict({{kFDs, Array({Int(pipe.write.get()), Int(pipe.write.get()),
                                   Int(pipe.write.get())})},
                     {"payload", Str("some text")}});
  bool succeeded = false;
  for (long allowed = 0; !succeeded && allowed < 10000; ++allowed) {
    auto sockets = MakeSocketPair();
    ASSERT_EQ(WriteDictionaryAndDescriptors(AsDictionary(reply), sockets.theirs.get()), noErr);
    int before = CountOpenDescriptors();
    CFDictionaryRef read = nullptr;
    OSStatus status;
    {
      varn_test::LimitedDefaultAllocator limited(allowed);
      status = CopyDictionaryTranslatingDescriptors(sockets.ours.get(), &read);
      limited.Unlimit();
    }
    if (status == noErr) {
      succeeded = true;
      EXPECT_EQ(ListedDescriptors(read).size(), 3u);
      TolvanSecCloseDescriptorArray(
          static_cast<CFArrayRef>(CFDictionaryGetValue(read, kDescriptorArrayKey)));
      CFRelease(read);
    } else {
      EXPECT_TRUE(status == coreFoundationUnknownErr || status == memFullErr)
          << "allowed " << allowed << ": " << status;
      EXPECT_EQ(read, nullptr);
    }
    EXPECT_EQ(CountOpenDescriptors(), before) << "allowed " << allowed;
  }
  EXPECT_TRUE(succeeded);
}

}  // namespace
