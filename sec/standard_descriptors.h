/* Making sure descriptors 0, 1 and 2 are open before a set-user-ID program
 * opens anything: a caller who starts it with one of them closed would
 * otherwise see the next file the program opens (a preference file, a
 * timestamp record) take that number, and the program would read its input
 * from, or write its output and errors into, that file. */
#ifndef TOLVAN_SEC_STANDARD_DESCRIPTORS_H
#define TOLVAN_SEC_STANDARD_DESCRIPTORS_H

#include "platform/base/tolvan_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens /dev/null read-write on each of descriptors 0, 1 and 2 that is not
 * open; open ones are left alone. 0, or the errno of the failing open (the
 * descriptors opened before it stay open). */
OSStatus TolvanSecOpenMissingStandardDescriptors(void);

#ifdef __cplusplus
}
#endif

#endif
