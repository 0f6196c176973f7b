/* Bundles: a bundle is a folder. Its main executable is named by
 * CFBundleExecutable in the Info.plist at the top of the folder, or, without
 * one, by the folder's name less its extension; auxiliary executables sit at
 * the top of the folder. Loading the executable is dlopen of that file.
 * Bundles are property-list-layer objects (CFRetain/CFRelease). */
#ifndef TOLVAN_PLATFORM_BUNDLE_BUNDLE_H
#define TOLVAN_PLATFORM_BUNDLE_BUNDLE_H

#include "platform/cf/cf_base.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_string.h"
#include "platform/url/url.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TolvanCFBundle *CFBundleRef;

CFTypeID CFBundleGetTypeID(void);

/* A bundle for the folder bundleURL names. Null when it is not an existing
 * folder or memory runs out. */
CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL);

/* The bundle of the running program: the folder that holds its executable
 * (/proc/self/exe). Not owned by the caller. Null when it cannot be made. */
CFBundleRef CFBundleGetMainBundle(void);

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);

/* The Info.plist dictionary (empty when the bundle has none or it is not a
 * dictionary). Not owned by the caller. */
CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle);

/* The URL of the main executable, or of the auxiliary executable
 * executableName; null when no regular file of that name exists. */
CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle);
CFURLRef CFBundleCopyAuxiliaryExecutableURL(CFBundleRef bundle, CFStringRef executableName);

/* dlopen of the main executable (RTLD_NOW | RTLD_LOCAL). True when loaded,
 * also when it already was. */
Boolean CFBundleLoadExecutable(CFBundleRef bundle);
Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle);
void CFBundleUnloadExecutable(CFBundleRef bundle);

/* dlsym in the loaded executable; null when it is not loaded or has no such
 * symbol. */
void *CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName);

#ifdef __cplusplus
}
#endif

#endif
