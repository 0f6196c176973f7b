// Where tolvan-prefs finds its helper tool: the template is the auxiliary
// executable "tolvan-helper" beside its own executable; the copy that runs
// is "tolvan-helper" in the subfolder "Tolvan" of an application-support
// folder, and is installed into the user's when no valid one exists.
#ifndef TOLVAN_APP_HELPER_TOOL_PLACE_HPP
#define TOLVAN_APP_HELPER_TOOL_PLACE_HPP

#include <string>

#include "platform/cf/cf_ref.hpp"
#include "platform/files/files.h"
#include "platform/url/url.h"

namespace tolvan::app {

constexpr OSType kHelperToolFolderType = kApplicationSupportFolderType;
// The template's name and the copy's.
#define TOLVAN_APP_HELPER_TOOL_NAME "tolvan-helper"
#define TOLVAN_APP_HELPER_TOOL_SUBFOLDER "Tolvan"
CFStringRef HelperToolName();
CFStringRef HelperToolSubfolderName();

// The template, from the program's main bundle; empty when there is none.
CFRef<CFURLRef> CopyHelperToolTemplateURL();

// The URL's resolved path; "" when it cannot be made.
std::string PathOf(CFURLRef url);

// The path of an existing standard folder, nothing created; "" when there
// is none.
std::string ExistingFolderPath(SInt16 domain, OSType folderType);

}  // namespace tolvan::app

#endif
