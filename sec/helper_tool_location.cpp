#include "sec/helper_tool_location.h"

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cf/cf_ref.hpp"
#include "platform/cf/cf_string.h"
#include "platform/files/file_name.hpp"
#include "platform/files/ownerless_volumes.hpp"
#include "plist/varn_shared.h"
#include "sec/copy_folder_safety.hpp"
#include "sec/folder_checks.h"
#include "unix/copy.h"

namespace {

using tolvan::CFRef;

constexpr CFIndex kPathSize = kFSRefPathCapacity;
constexpr mode_t kValidCopyMode = 0104555;

using Path = char[kPathSize];

// The name as the file manager takes it. Checked here as well, so that a bad
// tool name (which only ever becomes a URL component) is refused before the
// search or the install touches anything.
OSStatus NameUnits(CFStringRef name, HFSUniStr255 *units) {
  if (name == nullptr) return paramErr;
  const CFIndex length = CFStringGetLength(name);
  if (length == 0 || length > CFIndex{tolvan::files::kMaxNameUnits}) return paramErr;
  units->length = static_cast<UInt16>(length);
  CFStringGetCharacters(name, CFRangeMake(0, length), units->unicode);
  tolvan::files::FileName checked;
  return tolvan::files::MakeFileName(units->unicode, units->length, &checked);
}

OSStatus CheckNames(CFStringRef subfolderName, CFStringRef toolName) {
  HFSUniStr255 units{};
  if (subfolderName != nullptr) {
    const OSStatus status = NameUnits(subfolderName, &units);
    if (status != 0) return status;
  }
  return NameUnits(toolName, &units);
}

OSStatus CheckSearchArguments(CFURLRef templateTool, CFStringRef subfolderName,
                              CFStringRef toolName, const CFURLRef *toolURL) {
  if (templateTool == nullptr || toolURL == nullptr) return paramErr;
  return CheckNames(subfolderName, toolName);
}

OSStatus CopyPath(CFURLRef url, Path &path) {
  return VarnErrorBoolean(
      CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8 *>(path), kPathSize));
}

void CopyFolderPath(const char *path, Path &folder) {
  std::strncpy(folder, path, kPathSize - 1);
  folder[kPathSize - 1] = '\0';
  char *last_slash = std::strrchr(folder, '/');
  if (last_slash == folder) {
    folder[1] = '\0';
  } else if (last_slash != nullptr) {
    *last_slash = '\0';
  }
}

// A copy that is right in itself is still no use in a folder where others
// can swap it, or on a volume where the set-user-ID bit or a root owner
// does not hold.
TolvanHelperToolCopyVerdict FolderVerdict(const char *toolPath) {
  Path folder_path;
  CopyFolderPath(toolPath, folder_path);
  struct stat folder {};
  if (::stat(folder_path, &folder) != 0 || tolvan::OthersCanReplaceIn(folder)) {
    return kTolvanHelperToolCopyUnsafeFolder;
  }
  struct statfs volume {};
  if (::statfs(folder_path, &volume) != 0 || !tolvan::VolumeHonoursSetUID(volume)) {
    return kTolvanHelperToolCopyNoSetUID;
  }
  return kTolvanHelperToolCopyValid;
}

// lstat: a link's own folder says nothing about who may replace its target.
TolvanHelperToolCopyVerdict CopyVerdict(const struct stat &templateInfo, const char *toolPath) {
  struct stat tool {};
  if (::lstat(toolPath, &tool) != 0) return kTolvanHelperToolCopyMissing;
  if (tool.st_uid != 0) return kTolvanHelperToolCopyNotOwnedByRoot;
  if (tool.st_mode != kValidCopyMode) return kTolvanHelperToolCopyWrongMode;
  if (tool.st_size != templateInfo.st_size) return kTolvanHelperToolCopyWrongSize;
  // Whole seconds only: the install copies the template's times, and a
  // volume may keep less than the template's sub-second part.
  if (tool.st_mtim.tv_sec != templateInfo.st_mtim.tv_sec) return kTolvanHelperToolCopyWrongTime;
  return FolderVerdict(toolPath);
}

OSStatus CheckHelperTool(CFURLRef templateURL, CFURLRef toolURL,
                         TolvanHelperToolCopyVerdict *verdict) {
  Path template_path;
  OSStatus status = CopyPath(templateURL, template_path);
  if (status != 0) return status;
  struct stat template_info {};
  if (::stat(template_path, &template_info) != 0) return errno;
  Path tool_path;
  status = CopyPath(toolURL, tool_path);
  if (status != 0) return status;
  *verdict = CopyVerdict(template_info, tool_path);
  return 0;
}

OSStatus CopyURLAppending(CFURLRef base, CFStringRef component, Boolean isDirectory,
                          CFRef<CFURLRef> *url) {
  url->reset(CFURLCreateCopyAppendingPathComponent(nullptr, base, component, isDirectory));
  return VarnError(url->get());
}

OSStatus CopyToolURLInFolder(const FSRef &folder, CFStringRef toolName, CFURLRef *toolURL) {
  const CFRef<CFURLRef> folder_url = CFRef<CFURLRef>::Adopt(CFURLCreateFromFSRef(nullptr, &folder));
  OSStatus status = VarnError(folder_url.get());
  CFRef<CFURLRef> tool_url;
  if (status == 0) status = CopyURLAppending(folder_url.get(), toolName, false, &tool_url);
  if (status == 0) *toolURL = tool_url.release();
  return status;
}

OSStatus FindSubfolder(const FSRef &folder, CFStringRef subfolderName, Boolean createFolder,
                       FSRef *subfolder) {
  HFSUniStr255 name{};
  OSStatus status = NameUnits(subfolderName, &name);
  if (status != 0) return status;
  status = FSMakeFSRefUnicode(&folder, name.length, name.unicode, kTextEncodingUnknown, subfolder);
  if (status == 0 || !createFolder) return status;
  return FSCreateDirectoryUnicode(&folder, name.length, name.unicode, kFSCatInfoNone, nullptr,
                                  subfolder, nullptr, nullptr);
}

OSStatus CopyHelperToolURL(SInt16 domain, OSType folderType, CFStringRef subfolderName,
                           CFStringRef toolName, Boolean createFolder, CFURLRef *toolURL) {
  FSRef folder{};
  OSStatus status = FSFindFolder(domain, folderType, createFolder, &folder);
  if (status != 0) return status;
  if (subfolderName != nullptr) {
    FSRef subfolder{};
    status = FindSubfolder(folder, subfolderName, createFolder, &subfolder);
    if (status != 0) return status;
    folder = subfolder;
  }
  return CopyToolURLInFolder(folder, toolName, toolURL);
}

bool FindValidCopyIn(CFURLRef templateTool, SInt16 domain, OSType folderType,
                     CFStringRef subfolderName, CFStringRef toolName, CFURLRef *toolURL) {
  CFRef<CFURLRef> candidate;
  if (CopyHelperToolURL(domain, folderType, subfolderName, toolName, false, candidate.out()) != 0) {
    return false;
  }
  TolvanHelperToolCopyVerdict verdict = kTolvanHelperToolCopyMissing;
  if (CheckHelperTool(templateTool, candidate.get(), &verdict) != 0 ||
      verdict != kTolvanHelperToolCopyValid) {
    return false;
  }
  *toolURL = candidate.release();
  return true;
}

constexpr SInt16 kFolderDomains[] = {kUserDomain, kLocalDomain, kNetworkDomain, kSystemDomain, 0};
constexpr CFIndex kDomainPlaces = sizeof kFolderDomains / sizeof kFolderDomains[0] - 1;
static_assert(kDomainPlaces + 1 == kTolvanHelperToolSearchPlaceCount);

// Place i of the search: the domains with the caller's folder type, then the
// user's temporary folder.
void SearchPlace(CFIndex place, OSType folderType, SInt16 *domain, OSType *placeFolderType) {
  const bool is_domain = place < kDomainPlaces;
  *domain = is_domain ? kFolderDomains[place] : SInt16{kUserDomain};
  *placeFolderType = is_domain ? folderType : OSType{kTemporaryFolderType};
}

bool FindValidCopy(CFURLRef templateTool, OSType folderType, CFStringRef subfolderName,
                   CFStringRef toolName, CFURLRef *toolURL) {
  for (CFIndex place = 0; place < kTolvanHelperToolSearchPlaceCount; ++place) {
    SInt16 domain = 0;
    OSType placeFolderType = 0;
    SearchPlace(place, folderType, &domain, &placeFolderType);
    if (FindValidCopyIn(templateTool, domain, placeFolderType, subfolderName, toolName, toolURL)) {
      return true;
    }
  }
  return false;
}

OSStatus RefuseUnsafeFolder(const FSRef &folder) {
  Path path;
  OSStatus status = FSRefMakePath(&folder, reinterpret_cast<UInt8 *>(path), kPathSize);
  if (status != 0) return status;
  struct stat info {};
  if (::lstat(path, &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode) || tolvan::OpenToGroupOrOthers(info)) return kFolderUnsuitableErr;
  struct statfs volume {};
  if (::statfs(path, &volume) != 0) return errno;
  return tolvan::files::VolumeKeepsNoOwnership(volume) ? kFolderUnsuitableErr : 0;
}

// Before anything is created: the folder and an existing subfolder must be
// the user's alone, since whoever else can write there can swap the copy
// between the check and its run.
OSStatus RefuseUnsafeInstallFolders(const FSRef &folder, CFStringRef subfolderName) {
  OSStatus status = RefuseUnsafeFolder(folder);
  if (status != 0 || subfolderName == nullptr) return status;
  FSRef subfolder{};
  if (FindSubfolder(folder, subfolderName, false, &subfolder) != 0) return 0;
  return RefuseUnsafeFolder(subfolder);
}

OSStatus CheckFolderCanHoldTool(const FSRef &folder) {
  Boolean ignores = false;
  OSStatus status = TolvanSecIsFolderIgnoringOwnership(&folder, &ignores);
  if (status != 0) return status;
  if (ignores) return kFolderUnsuitableErr;
  status = TolvanSecIsFolderIgnoringSetUID(&folder, &ignores);
  if (status != 0) return status;
  return ignores ? kFolderUnsuitableErr : 0;
}

// lstat, so that a link in the way is removed rather than followed. Linux
// refuses unlink of a folder with EISDIR where other systems say EPERM;
// both mean "try rmdir".
int RemoveObjectInTheWay(const char *path) {
  struct stat info {};
  if (::lstat(path, &info) != 0) return 0;
  if (::unlink(path) == 0) return 0;
  if (errno != EPERM && errno != EISDIR) return errno;
  return ::rmdir(path) == 0 ? 0 : errno;
}

OSStatus ReplaceWithTemplate(CFURLRef templateTool, CFURLRef newTool) {
  Path template_path;
  Path tool_path;
  OSStatus status = CopyPath(templateTool, template_path);
  if (status == 0) status = CopyPath(newTool, tool_path);
  if (status == 0) status = RemoveObjectInTheWay(tool_path);
  if (status == 0) status = TolvanUNIXCopyFile(template_path, tool_path);
  return status;
}

OSStatus InstallCopy(CFURLRef templateTool, OSType folderType, CFStringRef subfolderName,
                     CFStringRef toolName, CFURLRef *toolURL) {
  FSRef folder{};
  OSStatus status = FSFindFolder(kUserDomain, folderType, kCreateFolder, &folder);
  if (status == 0) status = RefuseUnsafeInstallFolders(folder, subfolderName);
  if (status == 0) status = CheckFolderCanHoldTool(folder);
  if (status != 0) return status;
  CFRef<CFURLRef> new_tool;
  status =
      CopyHelperToolURL(kUserDomain, folderType, subfolderName, toolName, true, new_tool.out());
  if (status != 0) return status;
  TolvanHelperToolCopyVerdict verdict = kTolvanHelperToolCopyMissing;
  status = CheckHelperTool(templateTool, new_tool.get(), &verdict);
  if (status == 0 && verdict != kTolvanHelperToolCopyValid) {
    status = ReplaceWithTemplate(templateTool, new_tool.get());
  }
  if (status == 0) *toolURL = new_tool.release();
  return status;
}

}  // namespace

OSStatus TolvanSecCopyHelperToolURLAndCheck(CFURLRef templateTool, OSType folderType,
                                            CFStringRef subfolderName, CFStringRef toolName,
                                            CFURLRef *toolURL) {
  const OSStatus status = CheckSearchArguments(templateTool, subfolderName, toolName, toolURL);
  if (status != 0) return status;
  if (FindValidCopy(templateTool, folderType, subfolderName, toolName, toolURL)) return 0;
  return InstallCopy(templateTool, folderType, subfolderName, toolName, toolURL);
}

OSStatus TolvanSecCopyHelperToolURLAndCheckBundled(CFBundleRef bundle, CFStringRef templateToolName,
                                                   OSType folderType, CFStringRef subfolderName,
                                                   CFStringRef toolName, CFURLRef *toolURL) {
  if (bundle == nullptr || templateToolName == nullptr) return paramErr;
  const CFRef<CFURLRef> template_url =
      CFRef<CFURLRef>::Adopt(CFBundleCopyAuxiliaryExecutableURL(bundle, templateToolName));
  const OSStatus status = VarnError(template_url.get());
  if (status != 0) return status;
  return TolvanSecCopyHelperToolURLAndCheck(template_url.get(), folderType, subfolderName, toolName,
                                            toolURL);
}

OSStatus TolvanSecCheckHelperToolCopy(CFURLRef templateTool, CFURLRef toolURL,
                                      TolvanHelperToolCopyVerdict *verdict) {
  if (templateTool == nullptr || toolURL == nullptr || verdict == nullptr) return paramErr;
  return CheckHelperTool(templateTool, toolURL, verdict);
}

OSStatus TolvanSecCopyValidHelperToolURL(CFURLRef templateTool, OSType folderType,
                                         CFStringRef subfolderName, CFStringRef toolName,
                                         CFURLRef *toolURL) {
  const OSStatus status = CheckSearchArguments(templateTool, subfolderName, toolName, toolURL);
  if (status != 0) return status;
  return FindValidCopy(templateTool, folderType, subfolderName, toolName, toolURL) ? 0 : fnfErr;
}

// The subfolder need not exist yet: it is appended by name, not looked up.
OSStatus TolvanSecCopyHelperToolSearchPlaceURL(CFIndex place, OSType folderType,
                                               CFStringRef subfolderName, CFStringRef toolName,
                                               CFURLRef *toolURL) {
  if (toolURL == nullptr || place < 0 || place >= kTolvanHelperToolSearchPlaceCount) {
    return paramErr;
  }
  OSStatus status = CheckNames(subfolderName, toolName);
  if (status != 0) return status;
  SInt16 domain = 0;
  OSType placeFolderType = 0;
  SearchPlace(place, folderType, &domain, &placeFolderType);
  FSRef folder{};
  status = FSFindFolder(domain, placeFolderType, kDontCreateFolder, &folder);
  if (status != 0 || subfolderName == nullptr) {
    return status != 0 ? status : CopyToolURLInFolder(folder, toolName, toolURL);
  }
  const CFRef<CFURLRef> folder_url = CFRef<CFURLRef>::Adopt(CFURLCreateFromFSRef(nullptr, &folder));
  status = VarnError(folder_url.get());
  CFRef<CFURLRef> subfolder_url;
  if (status == 0) status = CopyURLAppending(folder_url.get(), subfolderName, true, &subfolder_url);
  CFRef<CFURLRef> tool_url;
  if (status == 0) status = CopyURLAppending(subfolder_url.get(), toolName, false, &tool_url);
  if (status == 0) *toolURL = tool_url.release();
  return status;
}

// A fresh copy goes where the search looks first.
OSStatus TolvanSecCopyHelperToolInstallURL(OSType folderType, CFStringRef subfolderName,
                                           CFStringRef toolName, CFURLRef *toolURL) {
  return TolvanSecCopyHelperToolSearchPlaceURL(0, folderType, subfolderName, toolName, toolURL);
}
