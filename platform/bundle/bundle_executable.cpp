// A bundle's executables: finding them at the top of its folder, and loading
// the main one.
//
// Names come from the Info.plist or the caller, neither of which we trust to
// stay inside the folder: a name is one path component or nothing. Loading
// goes through the path, not a descriptor, so that the loaded object's
// $ORIGIN is the bundle folder; a race on the file between the check and the
// load gains nothing, since whoever can swap the file can rewrite it.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "platform/base/heap_buffer.hpp"
#include "platform/bundle/bundle_object.hpp"
#include "platform/cf/cf_ref.hpp"

namespace tolvan::bundle {
namespace {

struct MemberName {
  char text[NAME_MAX + 1];
};

bool IsOneComponent(const char *name) {
  return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
         std::strcmp(name, "..") != 0;
}

bool NameFromString(CFStringRef string, MemberName *name) {
  return CFStringGetFileSystemRepresentation(string, name->text, sizeof name->text) &&
         IsOneComponent(name->text);
}

// The folder's own name less its extension; a leading dot starts no
// extension (".tool" is named ".tool").
bool NameFromFolder(const TolvanCFBundle *bundle, MemberName *name) {
  const char *last = std::strrchr(bundle->path, '/') + 1;
  const char *dot = std::strrchr(last, '.');
  size_t length =
      dot != nullptr && dot != last ? static_cast<size_t>(dot - last) : std::strlen(last);
  if (length >= sizeof name->text) return false;
  std::memcpy(name->text, last, length);
  name->text[length] = '\0';
  return IsOneComponent(name->text);
}

// A CFBundleExecutable that is not a string counts as absent; one that is a
// string but no single name gives no executable at all, rather than a guess.
bool MainExecutableName(const TolvanCFBundle *bundle, MemberName *name) {
  CFTypeRef named = CFDictionaryGetValue(bundle->info, CFSTR("CFBundleExecutable"));
  if (named != nullptr && CFGetTypeID(named) == CFStringGetTypeID()) {
    return NameFromString(static_cast<CFStringRef>(named), name);
  }
  return NameFromFolder(bundle, name);
}

bool RegularMemberPath(const TolvanCFBundle *bundle, const MemberName &name,
                       char (&path)[PATH_MAX]) {
  int length = std::snprintf(path, sizeof path, "%s/%s", bundle->path, name.text);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return false;
  struct stat status;
  return ::stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

CFURLRef CopyMemberURL(const TolvanCFBundle *bundle, const MemberName &name) {
  char path[PATH_MAX];
  if (!RegularMemberPath(bundle, name, path)) return nullptr;
  CFAllocatorRef allocator = cf::AllocatorOf(&bundle->header);
  auto component =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithFileSystemRepresentation(allocator, name.text));
  if (!component) return nullptr;
  return CFURLCreateCopyAppendingPathComponent(allocator, bundle->url, component.get(), false);
}

TolvanCFBundle *MutableBundle(const TolvanCFBundle *bundle) {
  return const_cast<TolvanCFBundle *>(bundle);
}

void *LoadedLibrary(const TolvanCFBundle *bundle) {
  return bundle->library.load(std::memory_order_acquire);
}

}  // namespace

void UnloadLibrary(TolvanCFBundle *bundle) {
  void *handle = bundle->library.exchange(nullptr, std::memory_order_acq_rel);
  if (handle != nullptr) ::dlclose(handle);
}

}  // namespace tolvan::bundle

using namespace tolvan::bundle;

CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle) {
  const TolvanCFBundle *checked = CheckedBundle(bundle, "CFBundleCopyExecutableURL");
  MemberName name;
  if (!MainExecutableName(checked, &name)) return nullptr;
  return CopyMemberURL(checked, name);
}

CFURLRef CFBundleCopyAuxiliaryExecutableURL(CFBundleRef bundle, CFStringRef executableName) {
  const TolvanCFBundle *checked = CheckedBundle(bundle, "CFBundleCopyAuxiliaryExecutableURL");
  MemberName name;
  if (executableName == nullptr || !NameFromString(executableName, &name)) return nullptr;
  return CopyMemberURL(checked, name);
}

Boolean CFBundleLoadExecutable(CFBundleRef bundle) {
  const TolvanCFBundle *checked = CheckedBundle(bundle, "CFBundleLoadExecutable");
  if (LoadedLibrary(checked) != nullptr) return true;
  MemberName name;
  char path[PATH_MAX];
  if (!MainExecutableName(checked, &name) || !RegularMemberPath(checked, name, path)) return false;
  void *handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return false;
  // Another thread may have loaded it meanwhile: keep one handle, and give
  // back the reference our dlopen took.
  void *expected = nullptr;
  if (!MutableBundle(checked)->library.compare_exchange_strong(expected, handle,
                                                               std::memory_order_acq_rel)) {
    ::dlclose(handle);
  }
  return true;
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) {
  return LoadedLibrary(CheckedBundle(bundle, "CFBundleIsExecutableLoaded")) != nullptr;
}

void CFBundleUnloadExecutable(CFBundleRef bundle) {
  UnloadLibrary(MutableBundle(CheckedBundle(bundle, "CFBundleUnloadExecutable")));
}

void *CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName) {
  void *handle = LoadedLibrary(CheckedBundle(bundle, "CFBundleGetFunctionPointerForName"));
  if (handle == nullptr || functionName == nullptr) return nullptr;
  CFIndex size = CFStringGetMaximumSizeOfFileSystemRepresentation(functionName);
  if (size <= 0) return nullptr;
  tolvan::HeapBuffer symbol = tolvan::HeapBuffer::Allocate(static_cast<size_t>(size));
  char *text = reinterpret_cast<char *>(symbol.data());
  if (!symbol || !CFStringGetFileSystemRepresentation(functionName, text, size)) return nullptr;
  return ::dlsym(handle, text);
}
