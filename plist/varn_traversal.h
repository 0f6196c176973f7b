/* Traversal of property lists.
 *
 * Dictionaries and arrays are the containers; every other value is a leaf.
 * The children of a dictionary are its values, in its enumeration order
 * (keys are never nodes); the children of an array are its elements by
 * ascending index. Appliers get borrowed references and the caller's
 * context unchanged; they must not change the containers being traversed.
 * Neither traversal reports a status: a dictionary whose key list could not
 * be allocated goes unvisited below (the rest of the tree still is). */
#ifndef TOLVAN_PLIST_VARN_TRAVERSAL_H
#define TOLVAN_PLIST_VARN_TRAVERSAL_H

#include "platform/cf/cf_base.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*VarnDeepApplierFunction)(CFTypeRef node, void *context);
typedef void (*VarnShallowApplierFunction)(CFTypeRef key, CFTypeRef value, void *context);

/* True when value is neither a dictionary nor an array (empty containers
 * are not leaves). */
Boolean VarnPropertyListIsLeaf(CFTypeRef value);

/* Calls function on every node of the tree under root, depth first, each
 * node before its children, containers included. The recursion is as deep
 * as the tree. */
void VarnPropertyListDeepApplyFunction(CFTypeRef root, VarnDeepApplierFunction function,
                                       void *context);

/* Calls function on each direct member of a container: (key, value) for a
 * dictionary, (index, element) for an array, where the index is a new
 * number of kCFNumberLongType that lives only for the call (retain it to
 * keep it); an element whose index number was not created is skipped. A
 * leaf gets no call, nor does the container itself. */
void VarnPropertyListShallowApplyFunction(CFTypeRef container, VarnShallowApplierFunction function,
                                          void *context);

#ifdef __cplusplus
}
#endif

#endif
