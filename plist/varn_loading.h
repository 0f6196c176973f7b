/* Loading property lists from XML files and framework bundles by name. */
#ifndef TOLVAN_PLIST_VARN_LOADING_H
#define TOLVAN_PLIST_VARN_LOADING_H

#include "platform/bundle/bundle.h"
#include "platform/cf/cf_property_list.h"
#include "platform/files/files.h"
#include "platform/url/url.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The property list (any type) stored as XML in the file url names, parsed
 * with the mutability option, in *propertyList (owned). Results: 0; the
 * read's error code unchanged (the out parameter is not written); -4960
 * when the read fails without a code (not written) or the data is not a
 * property list (null written). */
OSStatus VarnPropertyListCreateFromXMLCFURL(CFURLRef url, CFOptionFlags mutabilityOption,
                                            CFPropertyListRef *propertyList);

/* The same for a file-system reference; -4960 without a URL for it. */
OSStatus VarnPropertyListCreateFromXMLFSRef(const FSRef *file, CFOptionFlags mutabilityOption,
                                            CFPropertyListRef *propertyList);

/* The framework bundle named frameworkName (one path component, used as
 * given) in the Frameworks folder, created and its executable loaded, in
 * *bundle (owned; null on failure). Results: 0; the folder lookup's status;
 * -4960 when a URL or the bundle cannot be made or the executable does not
 * load. */
OSStatus VarnBundleCreateFromFrameworkName(CFStringRef frameworkName, CFBundleRef *bundle);

#ifdef __cplusplus
}
#endif

#endif
