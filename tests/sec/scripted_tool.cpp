// A stand-in for the helper tool in the application side's tests. It is
// started like the tool (execl, no arguments, the application's
// environment), so TOLVAN_SCRIPTED_TOOL chooses what it does:
//
//   "exit-after-request N"  read the form, the request and the end of
//                           input, then exit N without replying
//   "exit-at-once N"        exit N before reading anything
//   "reply-then N"          read everything, reply listing two descriptors
//                           (a pipe and a memory file, each holding a line),
//                           then exit N
//   "reply-then-signal"     the same reply, then die by SIGKILL
//   "echo"                  reply with what arrived and how the process
//                           was set up (see EchoReply), then exit 0
//   "garbage-reply"         reply with a frame that holds no property list,
//                           then exit 0
//   "oversized-reply"       announce a 2 MiB frame and try to write it all,
//                           then exit 4
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/auth/authorization.h"
#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "sec/reserved_keys.h"
#include "unix/full_transfer.h"

namespace {

using tolvan::CFRef;

constexpr int kBrokenScript = 99;

struct Input {
  AuthorizationExternalForm form = {};
  CFRef<CFDictionaryRef> request;
  bool ended = false;  // nothing followed the request
};

bool ReadInput(Input *input) {
  if (TolvanUNIXRead(STDIN_FILENO, input->form.bytes, sizeof input->form.bytes, nullptr) != 0) {
    return false;
  }
  if (CopyDictionaryFromDescriptor(STDIN_FILENO, input->request.out()) != 0) return false;
  char extra;
  input->ended = read(STDIN_FILENO, &extra, 1) == 0;
  return true;
}

CFRef<CFNumberRef> Number(int value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &value));
}

CFRef<CFMutableDictionaryRef> NewReply() {
  auto reply = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFDictionarySetValue(reply.get(), kErrorNumberKey, Number(0).get());
  return reply;
}

bool Send(CFDictionaryRef reply) { return WriteDictionaryAndDescriptors(reply, STDOUT_FILENO) == 0; }

int PipeHolding(const char *line) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  bool ok = write(ends[1], line, strlen(line)) == ssize_t(strlen(line));
  close(ends[1]);
  if (ok) return ends[0];
  close(ends[0]);
  return -1;
}

int MemoryFileHolding(const char *line) {
  int fd = memfd_create("listed", MFD_CLOEXEC);
  if (fd >= 0 && pwrite(fd, line, strlen(line), 0) == ssize_t(strlen(line))) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool SendReplyWithDescriptors() {
  const int pipe_end = PipeHolding("through a pipe\n");
  const int memory_file = MemoryFileHolding("in a memory file\n");
  if (pipe_end < 0 || memory_file < 0) return false;
  auto first = Number(pipe_end);
  auto second = Number(memory_file);
  const void *numbers[] = {first.get(), second.get()};
  auto listed = CFRef<CFArrayRef>::Adopt(
      CFArrayCreate(kCFAllocatorDefault, numbers, 2, &kCFTypeArrayCallBacks));
  auto reply = NewReply();
  CFDictionarySetValue(reply.get(), kDescriptorArrayKey, listed.get());
  return Send(reply.get());
}

// A length word, then the payload.
bool SendFrame(const std::string &payload, uint32_t announced) {
  const uint32_t word = htonl(announced);
  std::string frame(reinterpret_cast<const char *>(&word), sizeof word);
  frame += payload;
  return TolvanUNIXWrite(STDOUT_FILENO, frame.data(), frame.size(), nullptr) == 0;
}

bool SameSocket(int a, int b) {
  struct stat first, second;
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && S_ISSOCK(first.st_mode) &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Sockets open above the standard descriptors: an end of the application's
// pair that reached the tool would be one.
int SocketsAboveStandardDescriptors() {
  int count = 0;
  for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) {
    struct stat status;
    if (fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode)) ++count;
  }
  return count;
}

// form: the 32 bytes that arrived first; request: the request as read;
// ended: the input ended right after it; sameSocket: descriptors 0 and 1
// are one socket; strayDescriptors: SocketsAboveStandardDescriptors.
int EchoReply(const Input &input) {
  auto reply = NewReply();
  auto form = CFRef<CFDataRef>::Adopt(CFDataCreate(
      kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(input.form.bytes), sizeof input.form.bytes));
  CFDictionarySetValue(reply.get(), CFSTR("form"), form.get());
  CFDictionarySetValue(reply.get(), CFSTR("request"), input.request.get());
  CFDictionarySetValue(reply.get(), CFSTR("ended"), input.ended ? kCFBooleanTrue : kCFBooleanFalse);
  CFDictionarySetValue(reply.get(), CFSTR("sameSocket"),
                       SameSocket(STDIN_FILENO, STDOUT_FILENO) ? kCFBooleanTrue : kCFBooleanFalse);
  CFDictionarySetValue(reply.get(), CFSTR("strayDescriptors"),
                       Number(SocketsAboveStandardDescriptors()).get());
  return Send(reply.get()) ? 0 : kBrokenScript;
}

int Run(const std::string &script) {
  int code = 0;
  if (std::sscanf(script.c_str(), "exit-at-once %d", &code) == 1) return code;
  Input input;
  if (!ReadInput(&input) || !input.ended) return kBrokenScript;
  if (std::sscanf(script.c_str(), "exit-after-request %d", &code) == 1) return code;
  if (script == "echo") return EchoReply(input);
  if (script == "garbage-reply") return SendFrame("hello", 5) ? 0 : kBrokenScript;
  if (script == "oversized-reply") {
    constexpr uint32_t kOversized = 2 * 1024 * 1024;
    return SendFrame(std::string(kOversized, 'x'), kOversized) ? 0 : 4;
  }
  if (!SendReplyWithDescriptors()) return kBrokenScript;
  if (script == "reply-then-signal") raise(SIGKILL);
  if (std::sscanf(script.c_str(), "reply-then %d", &code) == 1) return code;
  return kBrokenScript;
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);
  const char *script = getenv("TOLVAN_SCRIPTED_TOOL");
  return Run(script != nullptr ? script : "");
}
