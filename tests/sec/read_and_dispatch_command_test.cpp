#include "sec/read_and_dispatch_command.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/descriptor_array.h"
#include "sec/dictionary_channel.h"
#include "sec/reserved_keys.h"
#include "sec/response_error.h"
#include "tests/support/child_process.hpp"
#include "tests/support/descriptors.hpp"
#include "tests/support/signals.hpp"
#include "unix/full_transfer.h"

namespace {

using tolvan::CFRef;
using tolvan::UniqueFd;
using tolvan::test::MakeSocketPair;

// What a fake command sees and leaves. It travels to the command as the
// authorization reference, which the dispatch step only passes through.
struct FakeCommand {
  OSStatus status = 0;
  CFDictionaryRef response = nullptr;  // handed over to the caller
  int calls = 0;
  CFDictionaryRef request_seen = nullptr;
  uid_t effective_user_seen = 0;
  bool raise_to_root = false;

  AuthorizationRef AsAuthorization() { return reinterpret_cast<AuthorizationRef>(this); }
};

OSStatus RunFake(AuthorizationRef authorization, CFDictionaryRef request,
                 CFDictionaryRef *response) {
  auto *fake = reinterpret_cast<FakeCommand *>(authorization);
  ++fake->calls;
  fake->request_seen = static_cast<CFDictionaryRef>(CFRetain(request));
  fake->effective_user_seen = geteuid();
  if (fake->raise_to_root) (void)seteuid(0);
  *response = fake->response;
  return fake->status;
}

CFRef<CFDictionaryRef> Dictionary(std::initializer_list<std::pair<CFStringRef, CFTypeRef>> pairs) {
  auto dictionary = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (const auto &[key, value] : pairs) CFDictionarySetValue(dictionary.get(), key, value);
  return CFRef<CFDictionaryRef>::Adopt(dictionary.release());
}

CFRef<CFNumberRef> Number(int value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &value));
}

CFRef<CFArrayRef> DescriptorArray(const std::vector<int> &fds) {
  std::vector<CFRef<CFNumberRef>> numbers;
  std::vector<const void *> values;
  for (int fd : fds) {
    numbers.push_back(Number(fd));
    values.push_back(numbers.back().get());
  }
  return CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault, values.data(),
                                                CFIndex(values.size()), &kCFTypeArrayCallBacks));
}

// The application's side: one request frame, then end of input.
void SendRequest(int fd, CFDictionaryRef request) {
  ASSERT_EQ(WriteDictionaryToDescriptor(request, fd), 0);
  shutdown(fd, SHUT_WR);
}

void SendRawFrame(int fd, const std::string &payload, uint32_t announced) {
  uint32_t word = htonl(announced);
  ASSERT_EQ(TolvanUNIXWrite(fd, &word, sizeof word, nullptr), 0);
  ASSERT_EQ(TolvanUNIXWrite(fd, payload.data(), payload.size(), nullptr), 0);
  shutdown(fd, SHUT_WR);
}

bool NothingMoreToRead(int fd) {
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

CFRef<CFDictionaryRef> ReadReply(int fd) {
  CFRef<CFDictionaryRef> reply;
  EXPECT_EQ(CopyDictionaryTranslatingDescriptors(fd, reply.out()), 0);
  return reply;
}

TEST(ReadAndDispatchCommand, AReplyWithoutResponseHoldsOnlyTheCommandsStatus) {
  for (OSStatus command_status : {0, 1, -60005, -60006, -108, 5364}) {
    auto sockets = MakeSocketPair();
    auto request = Dictionary({{CFSTR("key"), CFSTR("value")}});
    SendRequest(sockets.ours.get(), request.get());
    FakeCommand fake;
    fake.status = command_status;
    EXPECT_EQ(ReadAndDispatchCommand(sockets.theirs.get(), sockets.theirs.get(),
                                     fake.AsAuthorization(), RunFake),
              0);
    EXPECT_EQ(fake.calls, 1);
    EXPECT_TRUE(CFEqual(fake.request_seen, request.get()));
    CFRelease(fake.request_seen);
    sockets.theirs.reset();
    auto reply = ReadReply(sockets.ours.get());
    ASSERT_TRUE(reply);
    EXPECT_EQ(CFDictionaryGetCount(reply.get()), 1);
    EXPECT_EQ(TolvanSecGetErrorFromResponse(reply.get()), command_status);
    EXPECT_TRUE(NothingMoreToRead(sockets.ours.get()));
  }
}

TEST(ReadAndDispatchCommand, AResponseGetsTheStatusAddedUnlessItCarriesOne) {
  auto answer = Number(42);
  auto own_status = Number(-7);
  const struct {
    CFRef<CFDictionaryRef> response;
    OSStatus expected_status;
    CFIndex expected_count;
  } cases[] = {
      {Dictionary({{CFSTR("answer"), answer.get()}}), 3, 2},
      {Dictionary({{CFSTR("answer"), answer.get()}, {kErrorNumberKey, own_status.get()}}), -7, 2},
  };
  for (const auto &c : cases) {
    auto sockets = MakeSocketPair();
    SendRequest(sockets.ours.get(), Dictionary({}).get());
    FakeCommand fake;
    fake.status = 3;
    fake.response = static_cast<CFDictionaryRef>(CFRetain(c.response.get()));
    EXPECT_EQ(ReadAndDispatchCommand(sockets.theirs.get(), sockets.theirs.get(),
                                     fake.AsAuthorization(), RunFake),
              0);
    CFRelease(fake.request_seen);
    auto reply = ReadReply(sockets.ours.get());
    ASSERT_TRUE(reply);
    EXPECT_EQ(CFDictionaryGetCount(reply.get()), c.expected_count);
    EXPECT_EQ(TolvanSecGetErrorFromResponse(reply.get()), c.expected_status);
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(reply.get(), CFSTR("answer")), answer.get()));
    // The command's response was released exactly once, by the dispatch.
    EXPECT_EQ(CFGetRetainCount(c.response.get()), 1);
  }
}

TEST(ReadAndDispatchCommand, ListedDescriptorsTravelAndAreClosedAfterwardsEvenWhenWritingFails) {
  tolvan::test::IgnoringSigpipe ignoring;
  for (bool peer_gone : {false, true}) {
    auto sockets = MakeSocketPair();
    SendRequest(sockets.ours.get(), Dictionary({}).get());
    auto passed = tolvan::test::MakePipe();
    const int listed[] = {passed.read.release(), passed.write.release()};
    FakeCommand fake;
    fake.response = Dictionary({{kDescriptorArrayKey, DescriptorArray({listed[0], listed[1]}).get()}})
                        .release();
    if (peer_gone) sockets.ours.reset();
    OSStatus status = ReadAndDispatchCommand(sockets.theirs.get(), sockets.theirs.get(),
                                             fake.AsAuthorization(), RunFake);
    CFRelease(fake.request_seen);
    EXPECT_FALSE(tolvan::test::IsOpen(listed[0]));
    EXPECT_FALSE(tolvan::test::IsOpen(listed[1]));
    if (peer_gone) {
      EXPECT_EQ(status, EPIPE);
      continue;
    }
    EXPECT_EQ(status, 0);
    auto reply = ReadReply(sockets.ours.get());
    ASSERT_TRUE(reply);
    auto received = static_cast<CFArrayRef>(CFDictionaryGetValue(reply.get(), kDescriptorArrayKey));
    ASSERT_EQ(CFArrayGetCount(received), 2);
    TolvanSecCloseDescriptorArray(received);
  }
}

TEST(ReadAndDispatchCommand, ARequestThatCannotBeReadRunsNoCommandAndGetsNoReply) {
  const struct {
    const char *name;
    std::string payload;
    uint32_t announced;
    OSStatus expected;
  } cases[] = {
      {"zero-length frame", "", 0, -50},
      {"announces more than it sends", "<plist>", 1 << 20, EPIPE},
      {"too long", "", (1 << 20) + 1, -108},
      {"negative length", "", 0xFFFFFFFF, -108},
      {"garbage", "\x01\x02garbage", 9, -4960},
      {"not a dictionary",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array/></plist>", 0, -50},
  };
  for (const auto &c : cases) {
    auto sockets = MakeSocketPair();
    SendRawFrame(sockets.ours.get(), c.payload,
                 c.announced != 0 || c.payload.empty() ? c.announced : uint32_t(c.payload.size()));
    FakeCommand fake;
    EXPECT_EQ(ReadAndDispatchCommand(sockets.theirs.get(), sockets.theirs.get(),
                                     fake.AsAuthorization(), RunFake),
              c.expected)
        << c.name;
    EXPECT_EQ(fake.calls, 0) << c.name;
    sockets.theirs.reset();
    EXPECT_TRUE(NothingMoreToRead(sockets.ours.get())) << c.name;
  }
}

// The reply goes out as the real user whatever the command did with the
// effective user ID.
TEST(ReadAndDispatchCommand, LowersTheEffectiveUserAfterTheCommand) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to take a set-user-ID identity";
  EXPECT_TRUE(tolvan::test::ChildSucceeded(tolvan::test::RunInChild([] {
    auto sockets = MakeSocketPair();
    SendRequest(sockets.ours.get(), Dictionary({}).get());
    if (setresuid(65534, 65534, 0) != 0) return std::string("setresuid");
    FakeCommand fake;
    fake.raise_to_root = true;
    OSStatus status = ReadAndDispatchCommand(sockets.theirs.get(), sockets.theirs.get(),
                                             fake.AsAuthorization(), RunFake);
    CFRelease(fake.request_seen);
    if (status != 0) return "status " + std::to_string(status);
    if (geteuid() != 65534) return "effective user " + std::to_string(geteuid());
    return std::string();
  })));
}

}  // namespace
