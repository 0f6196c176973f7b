/* The command's status carried in a reply dictionary under kErrorNumberKey
 * (sec/reserved_keys.h). */
#ifndef TOLVAN_SEC_RESPONSE_ERROR_H
#define TOLVAN_SEC_RESPONSE_ERROR_H

#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_dictionary.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The value stored under kErrorNumberKey, unchanged (negative values
 * included). -4960 when the key is absent, when its value is not a number
 * or does not fit a signed 32-bit integer exactly, or when response is
 * null. */
OSStatus TolvanSecGetErrorFromResponse(CFDictionaryRef response);

#ifdef __cplusplus
}
#endif

#endif
