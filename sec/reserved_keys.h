/* The two reserved keys of a message dictionary, identical in the tool and
 * in the application. Both sit at the top level of a request or reply.
 *
 * kDescriptorArrayKey: an array of numbers (int), one per open descriptor
 *   that travels with the dictionary. Whoever holds a dictionary with such an
 *   array owns the descriptors it lists and closes them with
 *   TolvanSecCloseDescriptorArray before releasing the dictionary.
 * kErrorNumberKey: a number, the command's status as a signed 32-bit
 *   integer; read it with TolvanSecGetErrorFromResponse.
 *
 * The keys are CFSTR constants: never released, the same object on every
 * use. The plain C strings are there for code that needs the bytes. */
#ifndef TOLVAN_SEC_RESERVED_KEYS_H
#define TOLVAN_SEC_RESERVED_KEYS_H

#include "platform/cf/cf_string.h"

#define kTolvanSecDescriptorArrayKeyString "org.tolvan.sec.FDs"
#define kTolvanSecErrorNumberKeyString "org.tolvan.sec.ErrorNumber"

#define kDescriptorArrayKey CFSTR(kTolvanSecDescriptorArrayKeyString)
#define kErrorNumberKey CFSTR(kTolvanSecErrorNumberKeyString)

#endif
