/* Finding a copy of the helper tool that is fit to run in the standard
 * folders, or installing a fresh one into the user's folder.
 *
 * A copy is valid when it is owned by root, has mode exactly 0104555, and
 * has the template's size and modification time in whole seconds. The
 * search looks in the user, local, network and system domains, then in the
 * user's temporary folder. */
#ifndef TOLVAN_SEC_HELPER_TOOL_LOCATION_H
#define TOLVAN_SEC_HELPER_TOOL_LOCATION_H

#include "platform/bundle/bundle.h"
#include "platform/files/files.h"
#include "platform/url/url.h"

#ifdef __cplusplus
extern "C" {
#endif

/* On success *toolURL receives an owned URL of a valid copy, or of a copy
 * freshly installed into the user's folder (which repairs itself on its first
 * run). *toolURL is untouched on failure. Results: 0; 5370 when the user's
 * folder cannot hold a set-user-ID tool; -50 for a subfolder or tool name
 * that is empty, too long, holds '/' or NUL, or is "." or ".."; otherwise
 * the status of the failing step. */
OSStatus TolvanSecCopyHelperToolURLAndCheck(CFURLRef templateTool, OSType folderType,
                                            CFStringRef subfolderName, CFStringRef toolName,
                                            CFURLRef *toolURL);

/* The same with the template named as an auxiliary executable of bundle;
 * -4960 when the bundle has none of that name. */
OSStatus TolvanSecCopyHelperToolURLAndCheckBundled(CFBundleRef bundle,
                                                   CFStringRef templateToolName,
                                                   OSType folderType, CFStringRef subfolderName,
                                                   CFStringRef toolName, CFURLRef *toolURL);

/* ---- without installing, for a program that reports where the tool is ---- */

/* Why a copy is or is not valid; the first rule that fails is named. */
typedef enum {
  kTolvanHelperToolCopyValid = 0,
  kTolvanHelperToolCopyMissing,
  kTolvanHelperToolCopyNotOwnedByRoot,
  kTolvanHelperToolCopyWrongMode,
  kTolvanHelperToolCopyWrongSize,
  kTolvanHelperToolCopyWrongTime,
  /* Others may rename or replace files in the copy's folder. */
  kTolvanHelperToolCopyUnsafeFolder,
  /* The copy's volume is mounted nosuid or keeps no owners of its own. */
  kTolvanHelperToolCopyNoSetUID
} TolvanHelperToolCopyVerdict;

/* The verdict for the file at toolURL against the template. A symbolic
 * link is never a valid copy. Results: 0; -50 for a null argument; -4960
 * when a URL has no path; errno of stat of the template. */
OSStatus TolvanSecCheckHelperToolCopy(CFURLRef templateTool, CFURLRef toolURL,
                                      TolvanHelperToolCopyVerdict *verdict);

/* The search alone: the first valid copy in search order, in *toolURL
 * (owned). fnfErr (-43) when there is none; -50 for a bad name. Nothing is
 * created or removed. */
OSStatus TolvanSecCopyValidHelperToolURL(CFURLRef templateTool, OSType folderType,
                                         CFStringRef subfolderName, CFStringRef toolName,
                                         CFURLRef *toolURL);

/* The places the search looks in, in order: the user, local, network and
 * system domains with the caller's folder type, then the user's temporary
 * folder. */
enum { kTolvanHelperToolSearchPlaceCount = 5 };

/* Where the copy would be in search place `place` (0 to
 * kTolvanHelperToolSearchPlaceCount - 1), in *toolURL (owned), whether or
 * not a file is there. Nothing is created: fnfErr (-43) while the place's
 * folder does not exist; the subfolder need not exist. -50 for a bad place
 * or name. */
OSStatus TolvanSecCopyHelperToolSearchPlaceURL(CFIndex place, OSType folderType,
                                               CFStringRef subfolderName, CFStringRef toolName,
                                               CFURLRef *toolURL);

/* Where a fresh copy would be installed: search place 0, in *toolURL (owned). Nothing is
 * created: fnfErr (-43) while the user's folder of folderType does not exist
 * yet; the subfolder need not exist. -50 for a bad name. */
OSStatus TolvanSecCopyHelperToolInstallURL(OSType folderType, CFStringRef subfolderName,
                                           CFStringRef toolName, CFURLRef *toolURL);

#ifdef __cplusplus
}
#endif

#endif
