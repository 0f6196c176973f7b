// URL objects: the class (equality, hashing, description) and creation from
// a path.
#include "platform/url/url_object.hpp"

#include <limits.h>
#include <unistd.h>

#include <cstring>

#include "platform/cf/string.hpp"

using tolvan::cf::Object;

namespace tolvan::url {
namespace {

const TolvanCFURL *AsURL(const Object *object) {
  return reinterpret_cast<const TolvanCFURL *>(object);
}

void FinalizeURL(Object *object) {
  cf::Deallocate(cf::AllocatorOf(object), AsURL(object)->resolved);
}

bool EqualURLs(const Object *a, const Object *b, int) {
  const TolvanCFURL *left = AsURL(a);
  const TolvanCFURL *right = AsURL(b);
  return left->directory == right->directory && left->length == right->length &&
         std::memcmp(left->resolved, right->resolved, left->length) == 0;
}

CFHashCode HashURL(const Object *object) {
  const TolvanCFURL *url = AsURL(object);
  uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (size_t i = 0; i < url->length; ++i) {
    hash = (hash ^ static_cast<unsigned char>(url->resolved[i])) * 1099511628211ULL;
  }
  return cf::MixHash(hash ^ (url->directory ? 1 : 0));
}

bool DescribeURL(const Object *object, cf::StringBuilder &out, int) {
  const TolvanCFURL *url = AsURL(object);
  bool slash = url->directory && url->length > 1;
  return out.AppendASCII("file://") &&
         out.AppendUTF8Lossy(url->resolved, static_cast<CFIndex>(url->length)) &&
         (!slash || out.AppendASCII("/"));
}

const cf::Class kURLClass = {"CFURL", FinalizeURL, EqualURLs, nullptr, HashURL, DescribeURL};

size_t WithoutTrailingSlashes(const char *path, size_t length, size_t keep) {
  while (length > keep && length > 1 && path[length - 1] == '/') --length;
  return length;
}

}  // namespace

const TolvanCFURL *CheckedURL(CFURLRef url, const char *function) {
  return cf::Checked<TolvanCFURL>(url, CFURLGetTypeID(), function);
}

CFURLRef CreateResolvedURL(CFAllocatorRef allocator, const char *resolved, size_t length,
                           size_t relative_offset, bool directory) {
  length = WithoutTrailingSlashes(resolved, length, relative_offset);
  auto *url = cf::Create<TolvanCFURL>(allocator, CFURLGetTypeID(), sizeof(TolvanCFURL));
  if (url == nullptr) return nullptr;
  url->resolved = static_cast<char *>(cf::Allocate(cf::AllocatorOf(&url->header), length + 1));
  if (url->resolved == nullptr) {
    cf::FreeObjectMemory(&url->header);
    return nullptr;
  }
  std::memcpy(url->resolved, resolved, length);
  url->resolved[length] = '\0';
  url->length = length;
  url->relative_offset = relative_offset < length ? relative_offset : 0;
  url->directory = directory;
  return url;
}

}  // namespace tolvan::url

using namespace tolvan::url;

CFTypeID CFURLGetTypeID(void) {
  static const CFTypeID type = tolvan::cf::RegisterClass(&kURLClass);
  return type;
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory) {
  if (buffer == nullptr || bufLen <= 0) return nullptr;
  const char *path = reinterpret_cast<const char *>(buffer);
  size_t length = static_cast<size_t>(bufLen);
  if (std::memchr(path, '\0', length) != nullptr) return nullptr;
  if (path[0] == '/') return CreateResolvedURL(allocator, path, length, 0, isDirectory);

  // A relative path is taken against the current folder of this moment, so
  // that a later chdir does not change what the URL names.
  char base[PATH_MAX];
  if (::getcwd(base, sizeof base) == nullptr) return nullptr;
  size_t base_length = std::strlen(base);
  if (base_length > 1) base[base_length++] = '/';  // getcwd leaves room: PATH_MAX counts the NUL
  size_t total;
  if (__builtin_add_overflow(base_length, length, &total)) return nullptr;
  CFAllocatorRef resolved_allocator = tolvan::cf::ResolveAllocator(allocator);
  auto *joined = static_cast<char *>(tolvan::cf::Allocate(resolved_allocator, total));
  if (joined == nullptr) return nullptr;
  std::memcpy(joined, base, base_length);
  std::memcpy(joined + base_length, path, length);
  CFURLRef url = CreateResolvedURL(allocator, joined, total, base_length, isDirectory);
  tolvan::cf::Deallocate(resolved_allocator, joined);
  return url;
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8 *buffer,
                                         CFIndex maxBufLen) {
  const TolvanCFURL *object = CheckedURL(url, "CFURLGetFileSystemRepresentation");
  if (buffer == nullptr || maxBufLen <= 0) return false;
  size_t skip = resolveAgainstBase ? 0 : object->relative_offset;
  size_t needed = object->length - skip + 1;
  if (needed > static_cast<size_t>(maxBufLen)) return false;
  std::memcpy(buffer, object->resolved + skip, needed);
  return true;
}

Boolean CFURLHasDirectoryPath(CFURLRef url) {
  return CheckedURL(url, "CFURLHasDirectoryPath")->directory;
}
