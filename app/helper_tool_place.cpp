#include "app/helper_tool_place.hpp"

#include "platform/bundle/bundle.h"
#include "platform/cf/cf_string.h"

namespace tolvan::app {

CFStringRef HelperToolName() { return CFSTR(TOLVAN_APP_HELPER_TOOL_NAME); }

CFStringRef HelperToolSubfolderName() { return CFSTR(TOLVAN_APP_HELPER_TOOL_SUBFOLDER); }

CFRef<CFURLRef> CopyHelperToolTemplateURL() {
  CFBundleRef bundle = CFBundleGetMainBundle();
  if (bundle == nullptr) return {};
  return CFRef<CFURLRef>::Adopt(CFBundleCopyAuxiliaryExecutableURL(bundle, HelperToolName()));
}

std::string PathOf(CFURLRef url) {
  UInt8 path[kFSRefPathCapacity];
  if (url == nullptr || !CFURLGetFileSystemRepresentation(url, true, path, sizeof path)) return "";
  return reinterpret_cast<const char *>(path);
}

std::string ExistingFolderPath(SInt16 domain, OSType folderType) {
  FSRef folder;
  UInt8 path[kFSRefPathCapacity];
  if (FSFindFolder(domain, folderType, kDontCreateFolder, &folder) != noErr ||
      FSRefMakePath(&folder, path, sizeof path) != noErr) {
    return "";
  }
  return reinterpret_cast<const char *>(path);
}

}  // namespace tolvan::app
