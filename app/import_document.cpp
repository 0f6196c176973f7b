#include "app/import_document.hpp"

#include <cerrno>
#include <cstring>

#include "platform/cf/cf_data.h"
#include "platform/cf/cf_property_list.h"
#include "platform/cf/cf_string.h"
#include "sec/dictionary_channel.h"
#include "unix/full_transfer.h"

namespace tolvan::app {
namespace {

// The tool takes a request of at most kDictionaryFrameMaxLength bytes of
// XML; a document may be larger by its layout and comments, but anything
// beyond four times that is refused before it is held in memory.
constexpr size_t kDocumentLimit = 4 * size_t(kDictionaryFrameMaxLength);

// A frame the tool would refuse is told before anyone is asked for a
// password.
bool FitsOneRequest(CFDictionaryRef dictionary) {
  auto xml = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(kCFAllocatorDefault, dictionary));
  return xml && CFDataGetLength(xml.get()) <= kDictionaryFrameMaxLength;
}

}  // namespace

bool ReadImportDocument(int fd, std::string *document, std::string *error) {
  constexpr size_t kChunk = 64 << 10;
  document->clear();
  for (;;) {
    const size_t had = document->size();
    document->resize(had + kChunk);
    size_t got = 0;
    const int status = TolvanUNIXRead(fd, document->data() + had, kChunk, &got);
    document->resize(had + got);
    if (document->size() > kDocumentLimit) {
      *error = "the document is larger than " + std::to_string(kDocumentLimit >> 20) + " MiB";
      return false;
    }
    if (status == EPIPE) return true;
    if (status != 0) {
      *error = std::string("cannot read it: ") + std::strerror(status);
      return false;
    }
  }
}

CFRef<CFDictionaryRef> ParseImportDocument(const std::string &document, std::string *error) {
  auto data = CFRef<CFDataRef>::Adopt(
      CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(document.data()),
                   static_cast<CFIndex>(document.size())));
  if (!data) {
    *error = "out of memory";
    return {};
  }
  CFRef<CFStringRef> reason;
  auto list = CFRef<CFPropertyListRef>::Adopt(CFPropertyListCreateFromXMLData(
      kCFAllocatorDefault, data.get(), kCFPropertyListImmutable, reason.out()));
  if (!list) {
    *error = "not an XML property list";
    return {};
  }
  if (CFGetTypeID(list.get()) != CFDictionaryGetTypeID()) {
    *error = "the property list is not a dictionary";
    return {};
  }
  auto dictionary = CFRef<CFDictionaryRef>::Retain(static_cast<CFDictionaryRef>(list.get()));
  if (!FitsOneRequest(dictionary.get())) {
    *error = "the dictionary is larger than one request may be (" +
             std::to_string(kDictionaryFrameMaxLength >> 20) + " MiB of XML)";
    return {};
  }
  return dictionary;
}

}  // namespace tolvan::app
