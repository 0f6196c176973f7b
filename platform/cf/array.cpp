// Arrays: immutable ones keep their values inline after the header (one
// block), mutable ones in a growable buffer.
#include <cstring>

#include "platform/cf/cf_array.h"
#include "platform/cf/callbacks.hpp"
#include "platform/cf/object.hpp"
#include "platform/cf/string.hpp"

using tolvan::cf::Object;

struct TolvanCFArray {
  Object header;
  const CFArrayCallBacks *callbacks;  // null: raw pointers compared by identity
  const void **values;
  CFIndex count;
};

namespace tolvan::cf {
namespace {

struct MutableArray : TolvanCFArray {
  CFIndex capacity;
  CFIndex limit;  // 0: none
};

const TolvanCFArray *CheckedArray(CFArrayRef array, const char *function) {
  return Checked<TolvanCFArray>(array, kArrayTypeID, function);
}

MutableArray *CheckedMutableArray(CFMutableArrayRef array, const char *function) {
  return static_cast<MutableArray *>(CheckedMutable<TolvanCFArray>(array, kArrayTypeID, function));
}

bool IsTypeCallBacks(const CFArrayCallBacks *callbacks) {
  return callbacks == &kCFTypeArrayCallBacks;
}

const void *RetainValue(const TolvanCFArray *array, const void *value) {
  const CFArrayCallBacks *callbacks = array->callbacks;
  if (IsTypeCallBacks(callbacks)) return CFRetain(value);
  if (callbacks == nullptr || callbacks->retain == nullptr) return value;
  return callbacks->retain(AllocatorOf(&array->header), value);
}

void ReleaseValue(const TolvanCFArray *array, const void *value) {
  const CFArrayCallBacks *callbacks = array->callbacks;
  if (IsTypeCallBacks(callbacks)) {
    CFRelease(value);
  } else if (callbacks != nullptr && callbacks->release != nullptr) {
    callbacks->release(AllocatorOf(&array->header), value);
  }
}

bool ValuesEqual(const TolvanCFArray *array, const void *a, const void *b, int depth) {
  const CFArrayCallBacks *callbacks = array->callbacks;
  if (a == b) return true;
  if (IsTypeCallBacks(callbacks)) return EqualAtDepth(a, b, depth);
  if (callbacks == nullptr || callbacks->equal == nullptr) return false;
  return callbacks->equal(a, b);
}

// The callbacks to keep: the standard ones by address, custom ones copied
// into the object (at *custom_slot, set by the caller).
bool NeedsCopy(const CFArrayCallBacks *callbacks) {
  return callbacks != nullptr && !SameCallBacks(callbacks, &kCFTypeArrayCallBacks);
}

const CFArrayCallBacks *Canonical(const CFArrayCallBacks *callbacks) {
  if (callbacks == nullptr) return nullptr;
  return NeedsCopy(callbacks) ? callbacks : &kCFTypeArrayCallBacks;
}

void FinalizeArray(Object *object) {
  auto *array = reinterpret_cast<TolvanCFArray *>(object);
  for (CFIndex i = 0; i < array->count; ++i) ReleaseValue(array, array->values[i]);
  if ((object->flags & kMutable) != 0) Deallocate(AllocatorOf(object), array->values);
}

const TolvanCFArray *AsArray(const Object *object) {
  return reinterpret_cast<const TolvanCFArray *>(object);
}

bool EqualArrays(const Object *a, const Object *b, int depth) {
  const TolvanCFArray *x = AsArray(a), *y = AsArray(b);
  if (x->count != y->count) return false;
  for (CFIndex i = 0; i < x->count; ++i) {
    if (!ValuesEqual(x, x->values[i], y->values[i], depth + 1)) return false;
  }
  return true;
}

int CompareArrays(const Object *a, const Object *b, int depth) {
  const TolvanCFArray *x = AsArray(a), *y = AsArray(b);
  bool typed = IsTypeCallBacks(x->callbacks) && IsTypeCallBacks(y->callbacks);
  CFIndex common = x->count < y->count ? x->count : y->count;
  for (CFIndex i = 0; i < common; ++i) {
    const void *p = x->values[i], *q = y->values[i];
    int order = typed ? CompareCanonical(p, q, depth + 1) : CompareAddresses(p, q);
    if (order != 0) return order;
  }
  return x->count < y->count ? -1 : x->count > y->count ? 1 : 0;
}

CFHashCode HashArray(const Object *object) {
  return MixHash(static_cast<uint64_t>(AsArray(object)->count));
}

bool DescribeArray(const Object *object, StringBuilder &out, int depth) {
  const TolvanCFArray *array = AsArray(object);
  if (array->count == 0) return out.AppendASCII("()");
  out.AppendASCII("(\n");
  for (CFIndex i = 0; i < array->count; ++i) {
    AppendIndent(out, depth + 1);
    DescribeMember(out, array->values[i], IsTypeCallBacks(array->callbacks),
                   array->callbacks != nullptr ? array->callbacks->copyDescription : nullptr,
                   depth + 1);
    out.AppendASCII(i + 1 < array->count ? ",\n" : "\n");
  }
  AppendIndent(out, depth);
  return out.AppendASCII(")");
}

// An object with room for `extra` bytes after the body; custom callbacks
// are copied into the first bytes of that room.
template <typename T>
T *CreateArrayObject(CFAllocatorRef allocator, const CFArrayCallBacks *callbacks, size_t extra,
                     uint8_t flags) {
  size_t callback_bytes = NeedsCopy(callbacks) ? sizeof(CFArrayCallBacks) : 0;
  size_t size;
  if (!SizeFor(sizeof(T) + callback_bytes, extra, 1, &size)) return nullptr;
  T *array = Create<T>(allocator, kArrayTypeID, size, flags);
  if (array == nullptr) return nullptr;
  array->count = 0;
  array->callbacks = Canonical(callbacks);
  if (callback_bytes != 0) {
    auto *copy = reinterpret_cast<CFArrayCallBacks *>(reinterpret_cast<unsigned char *>(array) +
                                                      sizeof(T));
    *copy = *callbacks;
    array->callbacks = copy;
  }
  return array;
}

CFArrayRef CreateImmutable(CFAllocatorRef allocator, const void **values, CFIndex count,
                           const CFArrayCallBacks *callbacks) {
  size_t value_bytes;
  if (count < 0 || !SizeFor(0, static_cast<size_t>(count), sizeof(void *), &value_bytes)) {
    return nullptr;
  }
  auto *array = CreateArrayObject<TolvanCFArray>(allocator, callbacks, value_bytes, 0);
  if (array == nullptr) return nullptr;
  size_t callback_bytes = NeedsCopy(callbacks) ? sizeof(CFArrayCallBacks) : 0;
  array->values = reinterpret_cast<const void **>(reinterpret_cast<unsigned char *>(array) +
                                                  sizeof(TolvanCFArray) + callback_bytes);
  for (CFIndex i = 0; i < count; ++i) array->values[i] = RetainValue(array, values[i]);
  array->count = count;
  return array;
}

bool Reserve(MutableArray *array, CFIndex extra) {
  CFIndex needed;
  if (__builtin_add_overflow(array->count, extra, &needed)) return false;
  return GrowBuffer(&array->header, &array->values, &array->capacity,
                    static_cast<uint64_t>(needed), static_cast<uint64_t>(array->limit), 4);
}

}  // namespace

const Class kArrayClass = {"CFArray", FinalizeArray, EqualArrays, CompareArrays, HashArray,
                           DescribeArray};

}  // namespace tolvan::cf

using namespace tolvan::cf;

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, RetainType, ReleaseType, CopyTypeDescription,
                                                EqualTypes};

CFTypeID CFArrayGetTypeID(void) { return kArrayTypeID; }

CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void **values, CFIndex numValues,
                         const CFArrayCallBacks *callBacks) {
  if (numValues < 0 || (values == nullptr && numValues > 0)) {
    Fatal("CFArrayCreate", "bad value buffer");
  }
  return CreateImmutable(allocator, values, numValues, callBacks);
}

CFArrayRef CFArrayCreateCopy(CFAllocatorRef allocator, CFArrayRef theArray) {
  const TolvanCFArray *array = CheckedArray(theArray, "CFArrayCreateCopy");
  if ((array->header.flags & kMutable) == 0 &&
      AllocatorOf(&array->header) == ResolveAllocator(allocator)) {
    return static_cast<CFArrayRef>(CFRetain(theArray));
  }
  return CreateImmutable(allocator, array->values, array->count, array->callbacks);
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                       const CFArrayCallBacks *callBacks) {
  if (capacity < 0) Fatal("CFArrayCreateMutable", "negative capacity");
  auto *array = CreateArrayObject<MutableArray>(allocator, callBacks, 0, kMutable);
  if (array == nullptr) return nullptr;
  array->values = nullptr;
  array->capacity = 0;
  array->limit = capacity;
  return array;
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                           CFArrayRef theArray) {
  const TolvanCFArray *source = CheckedArray(theArray, "CFArrayCreateMutableCopy");
  if (capacity != 0 && capacity < source->count) {
    Fatal("CFArrayCreateMutableCopy", "capacity below the count of the array");
  }
  CFMutableArrayRef copy = CFArrayCreateMutable(allocator, capacity, source->callbacks);
  if (copy == nullptr) return nullptr;
  if (!CFArrayAppendArray(copy, theArray, CFRangeMake(0, source->count))) {
    CFRelease(copy);
    return nullptr;
  }
  return copy;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) { return CheckedArray(theArray, "CFArrayGetCount")->count; }

const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  const TolvanCFArray *array = CheckedArray(theArray, "CFArrayGetValueAtIndex");
  if (idx < 0 || idx >= array->count) Fatal("CFArrayGetValueAtIndex", "index out of bounds");
  return array->values[idx];
}

void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void **values) {
  const TolvanCFArray *array = CheckedArray(theArray, "CFArrayGetValues");
  CheckRange(range, array->count, "CFArrayGetValues");
  if (range.length == 0) return;
  if (values == nullptr) Fatal("CFArrayGetValues", "null buffer");
  std::memcpy(values, array->values + range.location,
              static_cast<size_t>(range.length) * sizeof(void *));
}

CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void *value) {
  const TolvanCFArray *array = CheckedArray(theArray, "CFArrayGetFirstIndexOfValue");
  CheckRange(range, array->count, "CFArrayGetFirstIndexOfValue");
  for (CFIndex i = range.location; i < range.location + range.length; ++i) {
    if (ValuesEqual(array, array->values[i], value, 0)) return i;
  }
  return kCFNotFound;
}

Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void *value) {
  return CFArrayGetFirstIndexOfValue(theArray, range, value) != kCFNotFound;
}

void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                          void *context) {
  const TolvanCFArray *array = CheckedArray(theArray, "CFArrayApplyFunction");
  CheckRange(range, array->count, "CFArrayApplyFunction");
  if (applier == nullptr) Fatal("CFArrayApplyFunction", "null function");
  for (CFIndex i = range.location; i < range.location + range.length; ++i) {
    applier(array->values[i], context);
  }
}

Boolean CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value) {
  MutableArray *array = CheckedMutableArray(theArray, "CFArrayInsertValueAtIndex");
  if (idx < 0 || idx > array->count) Fatal("CFArrayInsertValueAtIndex", "index out of bounds");
  if (!Reserve(array, 1)) return false;
  std::memmove(array->values + idx + 1, array->values + idx,
               static_cast<size_t>(array->count - idx) * sizeof(void *));
  array->values[idx] = RetainValue(array, value);
  ++array->count;
  return true;
}

Boolean CFArrayAppendValue(CFMutableArrayRef theArray, const void *value) {
  MutableArray *array = CheckedMutableArray(theArray, "CFArrayAppendValue");
  if (!Reserve(array, 1)) return false;
  array->values[array->count++] = RetainValue(array, value);
  return true;
}

Boolean CFArrayAppendArray(CFMutableArrayRef theArray, CFArrayRef otherArray, CFRange otherRange) {
  MutableArray *array = CheckedMutableArray(theArray, "CFArrayAppendArray");
  const TolvanCFArray *other = CheckedArray(otherArray, "CFArrayAppendArray");
  CheckRange(otherRange, other->count, "CFArrayAppendArray");
  if (!Reserve(array, otherRange.length)) return false;
  // Read the source only after growing: it may be this very array.
  for (CFIndex i = 0; i < otherRange.length; ++i) {
    const void *value = other->values[otherRange.location + i];
    array->values[array->count++] = RetainValue(array, value);
  }
  return true;
}

void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value) {
  MutableArray *array = CheckedMutableArray(theArray, "CFArraySetValueAtIndex");
  if (idx < 0 || idx >= array->count) Fatal("CFArraySetValueAtIndex", "index out of bounds");
  const void *old = array->values[idx];
  array->values[idx] = RetainValue(array, value);
  ReleaseValue(array, old);
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) {
  MutableArray *array = CheckedMutableArray(theArray, "CFArrayRemoveValueAtIndex");
  if (idx < 0 || idx >= array->count) Fatal("CFArrayRemoveValueAtIndex", "index out of bounds");
  const void *old = array->values[idx];
  std::memmove(array->values + idx, array->values + idx + 1,
               static_cast<size_t>(array->count - idx - 1) * sizeof(void *));
  --array->count;
  ReleaseValue(array, old);
}

void CFArrayRemoveAllValues(CFMutableArrayRef theArray) {
  MutableArray *array = CheckedMutableArray(theArray, "CFArrayRemoveAllValues");
  // Releasing can run code that looks at the array: empty it first.
  CFIndex count = array->count;
  const void **values = array->values;
  array->values = nullptr;
  array->count = 0;
  array->capacity = 0;
  for (CFIndex i = 0; i < count; ++i) ReleaseValue(array, values[i]);
  Deallocate(AllocatorOf(&array->header), values);
}
