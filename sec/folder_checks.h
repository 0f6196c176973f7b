/* Whether a folder can hold a set-user-ID root program: its volume may be
 * mounted so that the set-user-ID bit has no effect, or may ignore file
 * ownership (found by experiment with a temporary file). */
#ifndef TOLVAN_SEC_FOLDER_CHECKS_H
#define TOLVAN_SEC_FOLDER_CHECKS_H

#include "platform/cf/cf_base.h"
#include "platform/files/files.h"

#ifdef __cplusplus
extern "C" {
#endif

/* *ignoresSetUID is true when the folder's volume is mounted nosuid. Written
 * only on success. Results: 0; the status of FSRefMakePath; errno of
 * statfs. */
OSStatus TolvanSecIsFolderIgnoringSetUID(const FSRef *folder, Boolean *ignoresSetUID);

/* *ignoresOwnership is true when a change of a new file's group does not
 * take effect on the folder's volume. The caller must be allowed to create
 * files in the folder; the temporary file is always removed. Written only on
 * success. Results: 0; -4960; -48 when 999 names were taken; the status of
 * the file manager call or errno of chown that failed. */
OSStatus TolvanSecIsFolderIgnoringOwnership(const FSRef *folder, Boolean *ignoresOwnership);

#ifdef __cplusplus
}
#endif

#endif
