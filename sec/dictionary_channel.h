/* Dictionaries on the message channel: internal to the library, shared by
 * the tool's driver, the self-repair relay and the application side.
 *
 * A frame is a 4-byte big-endian signed length N, then N bytes of the XML
 * property-list text of one dictionary. Readers accept 1 to 1,048,576
 * (kDictionaryFrameMaxLength) payload bytes and allocate exactly N, only
 * after the bound has been checked; the writer sends whatever length the
 * encoding has.
 *
 * A reply may list descriptors under kDescriptorArrayKey
 * (sec/reserved_keys.h); one descriptor message (unix/descriptor_passing.h)
 * follows the frame for each element, in array order. Requests are written
 * and read without translation.
 *
 * Statuses: 0; an errno value from the transfer below (EPIPE when the peer
 * closed early); -50, -108, -4960, 5401 (kVarnBadValueErr), or EINVAL from
 * the writer's checks of the descriptor array, as each call says. */
#ifndef TOLVAN_SEC_DICTIONARY_CHANNEL_H
#define TOLVAN_SEC_DICTIONARY_CHANNEL_H

#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_dictionary.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { kDictionaryFrameMaxLength = 1048576 };

/* Reads one frame from fd. On success *dictionary receives an immutable
 * dictionary the caller owns; on every failure it receives null.
 * Length word 0: -50. Above kDictionaryFrameMaxLength or negative: -108,
 * nothing allocated. No memory for the payload: -108. Payload not a
 * property list: -4960. Top level not a dictionary: -50. A null dictionary
 * pointer: -50. */
OSStatus CopyDictionaryFromDescriptor(int fd, CFDictionaryRef *dictionary);

/* Writes dictionary as one frame to fd with a single full-transfer write.
 * Not encodable: -4960. No memory for the frame: -108. A null dictionary:
 * -50. */
OSStatus WriteDictionaryToDescriptor(CFDictionaryRef dictionary, int fd);

/* Writes the frame of dictionary to socket, then one descriptor message for
 * each element of its kDescriptorArrayKey array. The descriptors stay open
 * in the sender. A value under the key that is not an array, or an element
 * that is not a number holding an int: EINVAL, after the frame (and the
 * descriptors of earlier elements) went out. */
OSStatus WriteDictionaryAndDescriptors(CFDictionaryRef dictionary, int socket);

/* Reads a frame from socket and, when it lists descriptors under
 * kDescriptorArrayKey, as many descriptor messages as the array has
 * elements. Without the key *dictionary receives the dictionary as read;
 * with it, a mutable copy whose array lists the receiver's own descriptor
 * numbers in the sender's order (the caller owns them; the sender's numbers
 * are never looked at). A value under the key that is not an array: 5401.
 * On every failure *dictionary is left as the caller set it (set it to null
 * beforehand) and no received descriptor is left open. */
OSStatus CopyDictionaryTranslatingDescriptors(int socket, CFDictionaryRef *dictionary);

#ifdef __cplusplus
}
#endif

#endif
