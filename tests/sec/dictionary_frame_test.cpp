#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sec/dictionary_channel.h"
#include "tests/cf/property_list_values.hpp"
#include "tests/support/descriptors.hpp"
#include "tests/support/signals.hpp"
#include "unix/full_transfer.h"

namespace {

using tolvan::CFRef;
using tolvan::test::Dict;
using tolvan::test::Int;
using tolvan::test::MakeSocketPair;
using tolvan::test::StartChild;
using tolvan::test::Str;
using tolvan::test::WaitForChild;
using tolvan::test::Write;

std::string LengthWord(uint32_t length) {
  uint32_t word = htonl(length);
  return std::string(reinterpret_cast<const char *>(&word), sizeof word);
}

std::string Frame(const std::string &payload) {
  return LengthWord(static_cast<uint32_t>(payload.size())) + payload;
}

// The XML text of a one-pair dictionary padded to exactly size bytes.
std::string DictionaryTextOfSize(size_t size) {
  const size_t bare = Write(Dict({{"k", Str("")}}).get()).size();
  return Write(Dict({{"k", Str(std::string(size - bare, 'a'))}}).get());
}

// A peer in a child process sends bytes (one byte per write when asked) and
// closes its end.
pid_t SendAndClose(tolvan::test::SocketPair &sockets, const std::string &bytes,
                   bool bytePerWrite = false) {
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    size_t step = bytePerWrite ? 1 : bytes.size();
    for (size_t at = 0; at < bytes.size(); at += step) {
      if (TolvanUNIXWrite(sockets.theirs.get(), bytes.data() + at,
                          std::min(step, bytes.size() - at), nullptr) != 0) {
        return 1;
      }
    }
    return 0;
  });
  sockets.theirs.reset();
  return child;
}

struct FrameCase {
  const char *name;
  std::string bytes;
  OSStatus expected;
  bool bytePerWrite = false;
};

void PrintTo(const FrameCase &c, std::ostream *out) { *out << c.name; }

class FrameReader : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameReader, AnswersTheFrame) {
  const FrameCase &c = GetParam();
  auto sockets = MakeSocketPair();
  int size = 4 << 20;
  setsockopt(sockets.theirs.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  pid_t child = SendAndClose(sockets, c.bytes, c.bytePerWrite);

  auto placeholder = Dict({});
  CFDictionaryRef dictionary = static_cast<CFDictionaryRef>(placeholder.get());
  EXPECT_EQ(CopyDictionaryFromDescriptor(sockets.ours.get(), &dictionary), c.expected);
  if (c.expected == noErr) {
    ASSERT_NE(dictionary, nullptr);
    EXPECT_EQ(CFGetTypeID(dictionary), CFDictionaryGetTypeID());
    CFRelease(dictionary);
  } else {
    EXPECT_EQ(dictionary, nullptr) << "a failure leaves the out-pointer null";
  }
  sockets.ours.reset();  // a peer still writing a refused frame now stops
  WaitForChild(child);
}

const std::string kSmall = Write(Dict({{"answer", Int(42)}}).get());
const std::string kArrayText = Write(tolvan::test::Array({Int(1)}).get());

INSTANTIATE_TEST_SUITE_P(
    Limits, FrameReader,
    testing::Values(
        FrameCase{"Small", Frame(kSmall), noErr},
        FrameCase{"SmallOneBytePerWrite", Frame(kSmall), noErr, true},
        FrameCase{"ExactlyOneMebibyte", Frame(DictionaryTextOfSize(1048576)), noErr},
        FrameCase{"OneMebibyteAndOne", Frame(DictionaryTextOfSize(1048577)), memFullErr},
        FrameCase{"LengthZero", LengthWord(0), paramErr},
        // Refused on the word alone: no payload follows, so a reader that
        // waited for it would see EPIPE instead.
        FrameCase{"LargestPositive", LengthWord(0x7FFFFFFF), memFullErr},
        FrameCase{"AllOnes", LengthWord(0xFFFFFFFF), memFullErr},
        FrameCase{"SmallestNegative", LengthWord(0x80000000), memFullErr},
        // Little-endian 16 reads as 0x10000000: too long.
        FrameCase{"LittleEndianWord", std::string("\x10\0\0\0", 4), memFullErr},
        FrameCase{"NothingAtAll", "", EPIPE},
        FrameCase{"ThreeBytesOfTheWord", LengthWord(20).substr(0, 3), EPIPE},
        FrameCase{"ShortPayload", LengthWord(static_cast<uint32_t>(kSmall.size())) +
                                      kSmall.substr(0, kSmall.size() / 2),
                  EPIPE},
        FrameCase{"OneByteShort", LengthWord(static_cast<uint32_t>(kSmall.size() + 1)) + kSmall,
                  EPIPE},
        FrameCase{"NotAPropertyList", Frame("this is not XML"), coreFoundationUnknownErr},
        FrameCase{"SingleByte", Frame("<"), coreFoundationUnknownErr},
        FrameCase{"TopLevelArray", Frame(kArrayText), paramErr},
        FrameCase{"TopLevelString", Frame(Write(Str("x").get())), paramErr}),
    [](const testing::TestParamInfo<FrameCase> &param) { return param.param.name; });

TEST(FrameReaderStream, ReadsExactlyTheFrameAndNothingBehindIt) {
  auto sockets = MakeSocketPair();
  pid_t child = SendAndClose(sockets, Frame(kSmall) + "TAIL");
  CFDictionaryRef dictionary = nullptr;
  ASSERT_EQ(CopyDictionaryFromDescriptor(sockets.ours.get(), &dictionary), noErr);
  CFRelease(dictionary);
  char tail[5] = {};
  EXPECT_EQ(TolvanUNIXRead(sockets.ours.get(), tail, 4, nullptr), 0);
  EXPECT_STREQ(tail, "TAIL");
  EXPECT_EQ(WaitForChild(child), 0);
}

TEST(FrameReaderStream, NullOutPointerIsAParameterError) {
  auto sockets = MakeSocketPair();
  EXPECT_EQ(CopyDictionaryFromDescriptor(sockets.ours.get(), nullptr), paramErr);
  EXPECT_EQ(WriteDictionaryToDescriptor(nullptr, sockets.ours.get()), paramErr);
}

TEST(FrameWriter, SendsTheBigEndianLengthAndTheXmlTextAndNothingElse) {
  auto value = Dict({{"name", Str("caf\xC3\xA9")}, {"count", Int(-7)}});
  auto sockets = MakeSocketPair();
  ASSERT_EQ(WriteDictionaryToDescriptor(static_cast<CFDictionaryRef>(value.get()),
                                        sockets.ours.get()),
            noErr);
  sockets.ours.reset();
  std::string received;
  char chunk[4096];
  for (ssize_t n; (n = read(sockets.theirs.get(), chunk, sizeof chunk)) > 0;) {
    received.append(chunk, static_cast<size_t>(n));
  }
  EXPECT_EQ(received, Frame(Write(value.get())));
}

TEST(FrameWriter, RoundTripsThroughTheReader) {
  auto value = Dict({{"string", Str("\xF0\x9F\x98\x80 <&>")},
                     {"numbers", tolvan::test::Array({Int(INT64_MIN), Int(0), Int(INT64_MAX)})},
                     {"real", tolvan::test::Real(-0.0)},
                     {"flag", tolvan::test::Bool(true)},
                     {"data", tolvan::test::Bytes(std::string("\0\1\2", 3))},
                     {"nested", Dict({{"empty", Dict({})}})}});
  auto sockets = MakeSocketPair();
  ASSERT_EQ(WriteDictionaryToDescriptor(static_cast<CFDictionaryRef>(value.get()),
                                        sockets.ours.get()),
            noErr);
  CFDictionaryRef read = nullptr;
  ASSERT_EQ(CopyDictionaryFromDescriptor(sockets.theirs.get(), &read), noErr);
  CFRef<CFDictionaryRef> owned = CFRef<CFDictionaryRef>::Adopt(read);
  EXPECT_TRUE(tolvan::test::SameValue(owned.get(), value.get()));
}

// No size check on the way out: the frame goes in full and the reader
// refuses it.
TEST(FrameWriter, OversizedDictionaryIsSentWholeAndRefusedByTheReader) {
  const std::string text = DictionaryTextOfSize(1048577);
  auto value = tolvan::test::Parse(text);
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    return static_cast<int>(WriteDictionaryToDescriptor(
        static_cast<CFDictionaryRef>(value.get()), sockets.theirs.get()));
  });
  sockets.theirs.reset();
  CFDictionaryRef read = nullptr;
  EXPECT_EQ(CopyDictionaryFromDescriptor(sockets.ours.get(), &read), memFullErr);
  std::string rest(1048577, '\0');
  size_t moved = 0;
  EXPECT_EQ(TolvanUNIXRead(sockets.ours.get(), rest.data(), rest.size(), &moved), 0);
  EXPECT_EQ(rest, text);
  EXPECT_EQ(WaitForChild(child), 0);
}

TEST(FrameWriter, DictionaryThatCannotBeEncodedIsRefused) {
  // A number as a key is no property list.
  const void *keys[] = {Int(1).release()};
  const void *values[] = {Str("one").release()};
  auto value = CFRef<CFDictionaryRef>::Adopt(
      CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                         &kCFTypeDictionaryValueCallBacks));
  CFRelease(keys[0]);
  CFRelease(values[0]);
  auto sockets = MakeSocketPair();
  EXPECT_EQ(WriteDictionaryToDescriptor(value.get(), sockets.ours.get()), coreFoundationUnknownErr);
}

TEST(FrameWriter, PeerThatLeftIsEpipe) {
  tolvan::test::IgnoringSigpipe ignoring;
  auto sockets = MakeSocketPair();
  sockets.theirs.reset();
  auto value = Dict({{"a", Int(1)}});
  EXPECT_EQ(WriteDictionaryToDescriptor(static_cast<CFDictionaryRef>(value.get()),
                                        sockets.ours.get()),
            EPIPE);
}

TEST(FrameInterrupted, ReaderAndWriterCarryOn) {
  const std::string text = DictionaryTextOfSize(1000000);
  auto value = tolvan::test::Parse(text);
  auto sockets = MakeSocketPair();
  pid_t child = StartChild([&] {
    sockets.ours.reset();
    usleep(50 * 1000);  // the reader is blocked on the length word
    OSStatus status = WriteDictionaryToDescriptor(static_cast<CFDictionaryRef>(value.get()),
                                                  sockets.theirs.get());
    return status == noErr ? 0 : 1;
  });
  sockets.theirs.reset();
  tolvan::test::InterruptingTimer timer(500);
  CFDictionaryRef read = nullptr;
  ASSERT_EQ(CopyDictionaryFromDescriptor(sockets.ours.get(), &read), noErr);
  CFRef<CFDictionaryRef> owned = CFRef<CFDictionaryRef>::Adopt(read);
  EXPECT_TRUE(CFEqual(owned.get(), value.get()));
  EXPECT_GT(tolvan::test::InterruptingTimer::Firings(), 10);
  EXPECT_EQ(WaitForChild(child), 0);
}

}  // namespace
