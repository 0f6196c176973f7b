/* The folder and file manager: references to existing file-system objects,
 * the standard folders of each domain, and the few catalog operations the
 * application side needs.
 *
 * An FSRef holds the absolute, symbolic-link-free path of an object that
 * existed when the reference was made; making one for a missing object
 * fails with fnfErr (-43). References are plain values: copy them freely,
 * nothing needs freeing.
 *
 * Names arrive as UTF-16 units with a length. A name that is empty, holds
 * '/' or U+0000, is "." or "..", or is longer than 255 units is refused with
 * paramErr (-50) before anything is touched.
 *
 * Statuses: 0; -43 when an object is missing; -48 when a name to be created
 * exists; -50 for a bad name, a null argument or a path that does not fit a
 * reference; otherwise the errno value of the failing system call. */
#ifndef TOLVAN_PLATFORM_FILES_FILES_H
#define TOLVAN_PLATFORM_FILES_FILES_H

#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef UInt32 OSType;
typedef UInt32 TextEncoding;
typedef unsigned long UniCharCount;

enum { kTextEncodingUnknown = 0xFFFF };

/* Longest path a reference holds, its terminating NUL included. */
enum { kFSRefPathCapacity = 1024 };

typedef struct FSRef {
  char path[kFSRefPathCapacity];
} FSRef;

/* Never used here; the calls that take one require null. */
typedef struct FSSpec FSSpec;

typedef struct HFSUniStr255 {
  UInt16 length;
  UniChar unicode[255];
} HFSUniStr255;

/* ---- standard folders --------------------------------------------------
 * Domains and folder types (docs/folders-and-urls.md has the table of what
 * each resolves to). */
enum {
  kSystemDomain = -32766,
  kLocalDomain = -32765,
  kNetworkDomain = -32764,
  kUserDomain = -32763,
  /* The volume a program's own frameworks live on: resolves as the system
   * domain. */
  kOnAppropriateDisk = -32767
};

enum {
  kApplicationSupportFolderType = 0x61737570, /* 'asup' */
  kTemporaryFolderType = 0x74656d70,          /* 'temp' */
  kFrameworksFolderType = 0x6672616d          /* 'fram' */
};

enum { kDontCreateFolder = 0, kCreateFolder = 1 };

/* The folder of folderType in domain. A missing folder is created (with its
 * missing parents, mode 0755; 0700 for the temporary folder) only when
 * createFolder is true and the domain is the user's; otherwise -43. An
 * unknown domain or folder type: -43. The user's temporary folder must be a
 * real folder owned by the user with mode 0700: anything else there is
 * refused with EPERM. */
OSStatus FSFindFolder(SInt16 domain, OSType folderType, Boolean createFolder, FSRef *foundRef);

/* ---- references --------------------------------------------------------- */

/* A reference for an existing object named by a path (resolved, so the
 * reference never holds a symbolic link). isDirectory, when not null,
 * receives whether it is a folder. */
OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory);

/* The object's path, NUL-terminated, in a buffer of maxPathSize bytes; -50
 * when it does not fit. */
OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize);

/* The reference of the existing object named name inside the folder parent.
 * The name is not followed when it is a symbolic link. textEncodingHint is
 * ignored. */
OSStatus FSMakeFSRefUnicode(const FSRef *parent, UniCharCount nameLength, const UniChar *name,
                            TextEncoding textEncodingHint, FSRef *newRef);

/* ---- catalog information -------------------------------------------------
 * Only the permissions block is supported: permissions[0] is the owner's
 * user id, permissions[1] the group id, permissions[2] the mode bits
 * (st_mode), permissions[3] is 0. FSSetCatalogInfo writes the owner and the
 * group (chown, without following a symbolic link); the other words are
 * read-only. */
typedef UInt32 FSCatalogInfoBitmap;
enum { kFSCatInfoNone = 0, kFSCatInfoPermissions = 0x00000400 };

/* The group reported for objects on volumes that keep no owners of their
 * own (FAT, exFAT, NTFS, FUSE, ...): their group is made up from mount
 * options and must not be taken for a real one. */
enum { kFSUnknownGroupID = 99 };

typedef struct FSCatalogInfo {
  UInt32 permissions[4];
} FSCatalogInfo;

/* Bits of whichInfo other than kFSCatInfoPermissions: -50. outName, fsSpec
 * and parentRef must be null (-50 otherwise). */
OSStatus FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo,
                          FSCatalogInfo *catalogInfo, HFSUniStr255 *outName, FSSpec *fsSpec,
                          FSRef *parentRef);
OSStatus FSSetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo,
                          const FSCatalogInfo *catalogInfo);

/* ---- creation and deletion ------------------------------------------------
 * whichInfo must be kFSCatInfoNone with no catalog information, and newSpec
 * (and newDirID) null; -50 otherwise. newRef may be null. An existing object
 * of that name: -48, whatever it is. */
OSStatus FSCreateFileUnicode(const FSRef *parent, UniCharCount nameLength, const UniChar *name,
                             FSCatalogInfoBitmap whichInfo, const FSCatalogInfo *catalogInfo,
                             FSRef *newRef, FSSpec *newSpec);
OSStatus FSCreateDirectoryUnicode(const FSRef *parent, UniCharCount nameLength,
                                  const UniChar *name, FSCatalogInfoBitmap whichInfo,
                                  const FSCatalogInfo *catalogInfo, FSRef *newRef,
                                  FSSpec *newSpec, UInt32 *newDirID);

/* Removes a file, or a folder that is empty (a folder with contents gives
 * ENOTEMPTY). */
OSStatus FSDeleteObject(const FSRef *ref);

/* ---- time ------------------------------------------------------------------ */
typedef struct UnsignedWide {
  UInt32 hi;
  UInt32 lo;
} UnsignedWide;
typedef UnsignedWide AbsoluteTime;

/* Nanoseconds on the monotonic clock, as two 32-bit halves; successive calls
 * never go back. */
AbsoluteTime UpTime(void);

#ifdef __cplusplus
}
#endif

#endif
