#include "plist/varn_loading.h"

#include "platform/cf/cf_ref.hpp"

using tolvan::CFRef;

extern "C" OSStatus VarnPropertyListCreateFromXMLCFURL(CFURLRef url, CFOptionFlags mutabilityOption,
                                                       CFPropertyListRef *propertyList) {
  CFRef<CFDataRef> data;
  SInt32 error = 0;
  Boolean read = CFURLCreateDataAndPropertiesFromResource(kCFAllocatorDefault, url, data.out(),
                                                          nullptr, nullptr, &error);
  if ((!read || !data) && error == 0) error = coreFoundationUnknownErr;
  // A read that reports success yet leaves a code is a failure too.
  if (error != 0) return error;
  *propertyList =
      CFPropertyListCreateFromXMLData(kCFAllocatorDefault, data.get(), mutabilityOption, nullptr);
  return *propertyList != nullptr ? noErr : coreFoundationUnknownErr;
}

extern "C" OSStatus VarnPropertyListCreateFromXMLFSRef(const FSRef *file,
                                                       CFOptionFlags mutabilityOption,
                                                       CFPropertyListRef *propertyList) {
  auto url = CFRef<CFURLRef>::Adopt(CFURLCreateFromFSRef(kCFAllocatorDefault, file));
  if (!url) return coreFoundationUnknownErr;
  return VarnPropertyListCreateFromXMLCFURL(url.get(), mutabilityOption, propertyList);
}

namespace {

// The bundle of the framework named frameworkName in the Frameworks folder,
// with its executable loaded; null when any step fails.
CFBundleRef CreateLoadedFramework(const FSRef &folder, CFStringRef frameworkName) {
  auto folderURL = CFRef<CFURLRef>::Adopt(CFURLCreateFromFSRef(kCFAllocatorSystemDefault, &folder));
  if (!folderURL) return nullptr;
  auto frameworkURL = CFRef<CFURLRef>::Adopt(CFURLCreateCopyAppendingPathComponent(
      kCFAllocatorSystemDefault, folderURL.get(), frameworkName, false));
  if (!frameworkURL) return nullptr;
  auto bundle =
      CFRef<CFBundleRef>::Adopt(CFBundleCreate(kCFAllocatorSystemDefault, frameworkURL.get()));
  if (!bundle || !CFBundleLoadExecutable(bundle.get())) return nullptr;
  return bundle.release();
}

}  // namespace

extern "C" OSStatus VarnBundleCreateFromFrameworkName(CFStringRef frameworkName,
                                                      CFBundleRef *bundle) {
  *bundle = nullptr;
  FSRef folder;
  OSStatus found = FSFindFolder(kOnAppropriateDisk, kFrameworksFolderType, kCreateFolder, &folder);
  if (found != noErr) return found;
  *bundle = CreateLoadedFramework(folder, frameworkName);
  return *bundle != nullptr ? noErr : coreFoundationUnknownErr;
}
