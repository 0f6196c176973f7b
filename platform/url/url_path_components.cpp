// URLs and strings: paths as strings, appending and removing components.
#include <string.h>

#include <cstring>
#include <new>

#include "platform/url/url_object.hpp"

namespace tolvan::url {
namespace {

// Where the last component of a resolved path starts ("/" is its own last
// component).
size_t LastComponentStart(const TolvanCFURL *url) {
  if (url->length == 1) return 0;
  const char *slash = static_cast<const char *>(::memrchr(url->resolved, '/', url->length));
  return static_cast<size_t>(slash - url->resolved) + 1;
}

CFStringRef StringOfBytes(const char *bytes, size_t length) {
  return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bytes),
                                 static_cast<CFIndex>(length), kCFStringEncodingUTF8, false);
}

}  // namespace

bool UTF8Of(CFStringRef string, std::string *bytes) noexcept {
  CFRange whole = CFRangeMake(0, CFStringGetLength(string));
  CFIndex count = 0;
  // Conversion stops at a unit UTF-8 cannot carry (a lone surrogate); what
  // came before it would name another path.
  if (CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false, nullptr, 0, &count) !=
      whole.length) {
    return false;
  }
  try {
    bytes->resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc &) {
    return false;
  }
  return CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false,
                          reinterpret_cast<UInt8 *>(bytes->data()), count, &count) == whole.length;
}

}  // namespace tolvan::url

using namespace tolvan::url;

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory) {
  if (filePath == nullptr || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
  std::string path;
  if (!UTF8Of(filePath, &path)) return nullptr;
  return CFURLCreateFromFileSystemRepresentation(allocator,
                                                 reinterpret_cast<const UInt8 *>(path.data()),
                                                 static_cast<CFIndex>(path.size()), isDirectory);
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle pathStyle) {
  const TolvanCFURL *object = CheckedURL(url, "CFURLCopyFileSystemPath");
  if (pathStyle != kCFURLPOSIXPathStyle) return nullptr;
  return StringOfBytes(object->resolved, object->length);
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef allocator, CFURLRef url,
                                               CFStringRef pathComponent, Boolean isDirectory) {
  const TolvanCFURL *object = CheckedURL(url, "CFURLCreateCopyAppendingPathComponent");
  if (pathComponent == nullptr) return nullptr;
  std::string component;
  if (!UTF8Of(pathComponent, &component) || component.empty() ||
      component.find('\0') != std::string::npos) {
    return nullptr;
  }
  try {
    std::string joined(object->resolved, object->length);
    if (joined.back() != '/') joined += '/';
    joined += component;
    return CreateResolvedURL(allocator, joined.data(), joined.size(), object->relative_offset,
                             isDirectory);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

CFStringRef CFURLCopyLastPathComponent(CFURLRef url) {
  const TolvanCFURL *object = CheckedURL(url, "CFURLCopyLastPathComponent");
  size_t start = LastComponentStart(object);
  return StringOfBytes(object->resolved + start, object->length - start);
}

CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef allocator, CFURLRef url) {
  const TolvanCFURL *object = CheckedURL(url, "CFURLCreateCopyDeletingLastPathComponent");
  size_t start = LastComponentStart(object);
  size_t parent_length = start > 1 ? start - 1 : 1;
  // Removing the only component of a relative path leaves its base, which
  // is absolute.
  size_t offset = start > object->relative_offset ? object->relative_offset : 0;
  return CreateResolvedURL(allocator, object->resolved, parent_length, offset, true);
}
