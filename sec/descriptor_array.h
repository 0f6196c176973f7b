/* Closing the descriptors a message dictionary lists under
 * kDescriptorArrayKey (sec/reserved_keys.h). */
#ifndef TOLVAN_SEC_DESCRIPTOR_ARRAY_H
#define TOLVAN_SEC_DESCRIPTOR_ARRAY_H

#include "platform/cf/cf_array.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Closes the descriptor given by every element of descriptors that is a
 * number holding an int; other elements are skipped and the results of close
 * are ignored. Null, or a value that is not an array (callers may pass
 * whatever the dictionary holds under the key), does nothing. The array is
 * neither changed nor released. */
void TolvanSecCloseDescriptorArray(CFArrayRef descriptors);

#ifdef __cplusplus
}
#endif

#endif
