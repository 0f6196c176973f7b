#include "app/status_command.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/helper_tool_place.hpp"
#include "app/output.hpp"
#include "sec/folder_checks.h"
#include "sec/helper_tool_location.h"

namespace tolvan::app {
namespace {

// The library's search places, in its order.
constexpr const char *kPlaceNames[kTolvanHelperToolSearchPlaceCount] = {
    "user domain", "local domain", "network domain", "system domain", "temporary folder"};

const char *VerdictInWords(TolvanHelperToolCopyVerdict verdict) {
  switch (verdict) {
    case kTolvanHelperToolCopyValid: return "valid";
    case kTolvanHelperToolCopyMissing: return "no copy";
    case kTolvanHelperToolCopyNotOwnedByRoot:
      return "not owned by root (installed, not yet repaired?)";
    case kTolvanHelperToolCopyWrongMode: return "mode is not exactly 04555";
    case kTolvanHelperToolCopyWrongSize: return "size differs from the shipped tool";
    case kTolvanHelperToolCopyWrongTime: return "modification time differs from the shipped tool";
    case kTolvanHelperToolCopyUnsafeFolder:
      return "others may rename or replace files in its folder";
    case kTolvanHelperToolCopyNoSetUID:
      return "its volume is mounted nosuid or keeps no owners";
  }
  return "unknown";
}

// "<path>: <verdict>" for the copy in one place of the search.
std::string DescribePlace(CFURLRef templateTool, CFIndex place) {
  CFRef<CFURLRef> url;
  OSStatus status = TolvanSecCopyHelperToolSearchPlaceURL(
      place, kHelperToolFolderType, HelperToolSubfolderName(), HelperToolName(), url.out());
  if (status == fnfErr) return "no such folder";
  if (status != noErr) return StatusInWords(status);
  TolvanHelperToolCopyVerdict verdict = kTolvanHelperToolCopyMissing;
  status = TolvanSecCheckHelperToolCopy(templateTool, url.get(), &verdict);
  return PathOf(url.get()) + ": " +
         (status == noErr ? VerdictInWords(verdict) : StatusInWords(status));
}

// Whether the user's folder can take a set-user-ID copy, as far as can be
// told without creating anything there.
std::string DescribeInstallFolder() {
  FSRef folder;
  if (FSFindFolder(kUserDomain, kHelperToolFolderType, kDontCreateFolder, &folder) != noErr) {
    return "";
  }
  Boolean ignoresSetUID = false;
  if (TolvanSecIsFolderIgnoringSetUID(&folder, &ignoresSetUID) == noErr && ignoresSetUID) {
    return " But its folder is mounted nosuid, so the write will fail.";
  }
  return "";
}

std::string DescribeNextWrite(bool valid_copy) {
  if (valid_copy) return "runs that copy; no repair is needed.";
  CFRef<CFURLRef> install;
  const OSStatus status = TolvanSecCopyHelperToolInstallURL(
      kHelperToolFolderType, HelperToolSubfolderName(), HelperToolName(), install.out());
  if (status != noErr && status != fnfErr) {
    return "cannot tell where it would install a copy: " + StatusInWords(status);
  }
  // Without the user's folder yet, the write creates it.
  const std::string where = install ? "at " + PathOf(install.get())
                                    : "in the user's application-support folder (created)";
  if (geteuid() == 0) {
    return "installs a copy " + where +
           " and runs it as root, without repair (as root it is installed afresh each time).";
  }
  return "installs a copy " + where +
         ", which repairs itself: an administrator is asked for their password once." +
         DescribeInstallFolder();
}

}  // namespace

ExitCode RunStatus(const Invocation &) {
  CFRef<CFURLRef> templateTool = CopyHelperToolTemplateURL();
  if (!templateTool) {
    Complain("the helper tool " TOLVAN_APP_HELPER_TOOL_NAME " is missing beside this program");
    return kExitFailure;
  }
  std::printf("shipped tool: %s\nsearched, in order:\n", PathOf(templateTool.get()).c_str());
  for (CFIndex place = 0; place < kTolvanHelperToolSearchPlaceCount; ++place) {
    std::printf("  %-16s  %s\n", kPlaceNames[place],
                DescribePlace(templateTool.get(), place).c_str());
  }
  CFRef<CFURLRef> valid;
  const OSStatus status =
      TolvanSecCopyValidHelperToolURL(templateTool.get(), kHelperToolFolderType,
                                      HelperToolSubfolderName(), HelperToolName(), valid.out());
  if (status != noErr && status != fnfErr) {
    ComplainStatus("cannot search for the helper tool", status);
    return kExitFailure;
  }
  std::printf("in use: %s\nnext write: %s\n", valid ? PathOf(valid.get()).c_str() : "none",
              DescribeNextWrite(bool(valid)).c_str());
  if (std::fflush(stdout) != 0) {
    Complain("cannot write to standard output");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace tolvan::app
