#include "app/output.hpp"

#include <cstdlib>

#include "platform/cf/cf_data.h"
#include "platform/cf/cf_property_list.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/cf/cf_string.h"
#include "plist/varn_basics.h"

namespace tolvan::app {

void Complain(const std::string &message) {
  std::fprintf(stderr, "tolvan-prefs: %s\n", message.c_str());
}

std::string StatusInWords(OSStatus status) {
  return std::string(TolvanStatusDescription(status)) + " (" + std::to_string(status) + ")";
}

void ComplainStatus(const std::string &what, OSStatus status) {
  Complain(what + ": " + StatusInWords(status));
}

bool PrintDescription(CFTypeRef value, std::FILE *out) {
  auto description = CFRef<CFStringRef>::Adopt(CFCopyDescription(value));
  if (!description) return false;
  char *text = nullptr;
  if (VarnStringCopyCString(description.get(), kCFStringEncodingUTF8, &text) != noErr) return false;
  bool written = std::fprintf(out, "%s\n", text) >= 0;
  std::free(text);
  return written;
}

bool PrintXML(CFPropertyListRef value, std::FILE *out) {
  auto xml = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(kCFAllocatorDefault, value));
  if (!xml) return false;
  size_t length = static_cast<size_t>(CFDataGetLength(xml.get()));
  return std::fwrite(CFDataGetBytePtr(xml.get()), 1, length, out) == length;
}

}  // namespace tolvan::app
