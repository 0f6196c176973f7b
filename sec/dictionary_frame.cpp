// The dictionary frame: a big-endian length word, then the XML text.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "platform/base/heap_buffer.hpp"
#include "platform/cf/cf_data.h"
#include "platform/cf/cf_property_list.h"
#include "platform/cf/cf_ref.hpp"
#include "sec/dictionary_channel.h"
#include "unix/full_transfer.h"

namespace {

using tolvan::CFRef;

constexpr size_t kLengthWordSize = 4;

// 0, or the status that refuses a frame of this length before anything is
// allocated for it.
OSStatus CheckFrameLength(int32_t length) {
  if (length == 0) return paramErr;
  if (length < 0 || length > kDictionaryFrameMaxLength) return memFullErr;
  return noErr;
}

OSStatus ReadFrameLength(int fd, int32_t *length) {
  uint32_t word = 0;
  int error = TolvanUNIXRead(fd, &word, sizeof word, nullptr);
  if (error != 0) return error;
  *length = static_cast<int32_t>(ntohl(word));
  return noErr;
}

// The payload is parsed where it lies: the data object only borrows the
// buffer, which outlives it.
OSStatus ParseDictionary(const tolvan::HeapBuffer &payload, CFDictionaryRef *dictionary) {
  CFRef<CFDataRef> data = CFRef<CFDataRef>::Adopt(CFDataCreateWithBytesNoCopy(
      kCFAllocatorDefault, payload.data(), static_cast<CFIndex>(payload.size()), kCFAllocatorNull));
  if (!data) return coreFoundationUnknownErr;
  CFRef<CFPropertyListRef> plist = CFRef<CFPropertyListRef>::Adopt(CFPropertyListCreateFromXMLData(
      kCFAllocatorDefault, data.get(), kCFPropertyListImmutable, nullptr));
  if (!plist) return coreFoundationUnknownErr;
  if (CFGetTypeID(plist.get()) != CFDictionaryGetTypeID()) return paramErr;
  *dictionary = static_cast<CFDictionaryRef>(plist.release());
  return noErr;
}

}  // namespace

extern "C" OSStatus CopyDictionaryFromDescriptor(int fd, CFDictionaryRef *dictionary) {
  if (dictionary == nullptr) return paramErr;
  *dictionary = nullptr;

  int32_t length = 0;
  OSStatus status = ReadFrameLength(fd, &length);
  if (status != noErr) return status;
  status = CheckFrameLength(length);
  if (status != noErr) return status;

  tolvan::HeapBuffer payload = tolvan::HeapBuffer::Allocate(static_cast<size_t>(length));
  if (!payload) return memFullErr;
  int error = TolvanUNIXRead(fd, payload.data(), payload.size(), nullptr);
  if (error != 0) return error;
  return ParseDictionary(payload, dictionary);
}

extern "C" OSStatus WriteDictionaryToDescriptor(CFDictionaryRef dictionary, int fd) {
  if (dictionary == nullptr) return paramErr;
  CFRef<CFDataRef> xml =
      CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(kCFAllocatorDefault, dictionary));
  if (!xml) return coreFoundationUnknownErr;

  // The length word is signed 32-bit; a longer encoding cannot be framed
  // (and no reader would take it).
  CFIndex length = CFDataGetLength(xml.get());
  if (length < 0 || length > INT32_MAX) return memFullErr;
  tolvan::HeapBuffer frame =
      tolvan::HeapBuffer::Allocate(kLengthWordSize + static_cast<size_t>(length));
  if (!frame) return memFullErr;
  uint32_t word = htonl(static_cast<uint32_t>(length));
  std::memcpy(frame.data(), &word, sizeof word);
  CFDataGetBytes(xml.get(), CFRangeMake(0, length), frame.data() + kLengthWordSize);

  // Word and payload in one buffer: a frame that fits the socket buffer
  // costs one system call.
  return TolvanUNIXWrite(fd, frame.data(), frame.size(), nullptr);
}
