// Bundle objects: creation, identity and the Info.plist dictionary.
#include <limits.h>
#include <sys/stat.h>

#include <cstring>
#include <new>

#include "platform/bundle/bundle_object.hpp"
#include "platform/bundle/info_dictionary.hpp"
#include "platform/cf/cf_ref.hpp"

using tolvan::cf::Object;

namespace tolvan::bundle {
namespace {

TolvanCFBundle *AsBundle(Object *object) { return reinterpret_cast<TolvanCFBundle *>(object); }

void FinalizeBundle(Object *object) {
  TolvanCFBundle *bundle = AsBundle(object);
  UnloadLibrary(bundle);
  if (bundle->url != nullptr) CFRelease(bundle->url);
  if (bundle->info != nullptr) CFRelease(bundle->info);
  cf::Deallocate(cf::AllocatorOf(object), bundle->path);
}

const cf::Class kBundleClass = {"CFBundle", FinalizeBundle, nullptr, nullptr, nullptr, nullptr};

// The folder's path (URLs hold absolute paths without a trailing '/'), or
// an empty result when it does not fit or names no folder.
size_t ResolveFolderPath(CFURLRef url, char (&path)[PATH_MAX]) {
  struct stat status;
  if (!CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8 *>(path), sizeof path) ||
      ::stat(path, &status) != 0 || !S_ISDIR(status.st_mode)) {
    return 0;
  }
  return std::strlen(path);
}

// Every member starts empty, so that releasing a half-made bundle is safe.
TolvanCFBundle *CreateEmptyBundle(CFAllocatorRef allocator) {
  auto *bundle = cf::Create<TolvanCFBundle>(allocator, CFBundleGetTypeID(), sizeof(TolvanCFBundle));
  if (bundle == nullptr) return nullptr;
  bundle->url = nullptr;
  bundle->info = nullptr;
  bundle->path = nullptr;
  new (&bundle->library) std::atomic<void *>(nullptr);
  return bundle;
}

bool FillBundle(TolvanCFBundle *bundle, CFAllocatorRef allocator, const char *path, size_t length) {
  bundle->path = static_cast<char *>(cf::Allocate(cf::AllocatorOf(&bundle->header), length + 1));
  if (bundle->path == nullptr) return false;
  std::memcpy(bundle->path, path, length + 1);
  bundle->url = CFURLCreateFromFileSystemRepresentation(
      allocator, reinterpret_cast<const UInt8 *>(path), static_cast<CFIndex>(length), true);
  if (bundle->url == nullptr) return false;
  bundle->info = CreateInfoDictionary(allocator, path);
  return bundle->info != nullptr;
}

}  // namespace

const TolvanCFBundle *CheckedBundle(CFBundleRef bundle, const char *function) {
  return cf::Checked<TolvanCFBundle>(bundle, CFBundleGetTypeID(), function);
}

}  // namespace tolvan::bundle

using namespace tolvan::bundle;

CFTypeID CFBundleGetTypeID(void) {
  static const CFTypeID type = tolvan::cf::RegisterClass(&kBundleClass);
  return type;
}

CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL) {
  if (bundleURL == nullptr) return nullptr;
  char path[PATH_MAX];
  size_t length = ResolveFolderPath(bundleURL, path);
  if (length == 0) return nullptr;
  auto bundle = tolvan::CFRef<CFBundleRef>::Adopt(CreateEmptyBundle(allocator));
  if (!bundle || !FillBundle(bundle.get(), allocator, path, length)) return nullptr;
  return bundle.release();
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
  return static_cast<CFURLRef>(CFRetain(CheckedBundle(bundle, "CFBundleCopyBundleURL")->url));
}

CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle) {
  return CheckedBundle(bundle, "CFBundleGetInfoDictionary")->info;
}
