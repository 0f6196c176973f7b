// The runtime shared by every object family: the object header, the class
// table that dispatches equality, hashing, description and finalization,
// memory from allocators, and the checked casts every entry point uses.
//
// Header layout (8 bytes): a 32-bit reference count, the type id, object
// flags, and 16 bits the family uses as it likes. An object made with the
// system allocator is just the header and its body; one made with any other
// allocator carries the allocator pointer in the 8 bytes before the header
// (kAllocatorPrefix), so the common case pays nothing for it.
#ifndef TOLVAN_PLATFORM_CF_OBJECT_HPP
#define TOLVAN_PLATFORM_CF_OBJECT_HPP

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/cf/cf_base.h"

namespace tolvan::cf {

// The numbering is also the canonical order of dictionary keys of different
// types (see docs/property-list-objects.md).
enum : CFTypeID {
  kAllocatorTypeID = 1,
  kStringTypeID,
  kNumberTypeID,
  kBooleanTypeID,
  kDateTypeID,
  kDataTypeID,
  kArrayTypeID,
  kDictionaryTypeID,
  kFirstRegisteredTypeID,
  kMaxTypeID = 255
};

enum : uint8_t {
  kImmortal = 1,         // constants: retain and release do nothing
  kAllocatorPrefix = 2,  // allocator pointer in the 8 bytes before the header
  kMutable = 4,
};

struct Object {
  std::atomic<uint32_t> refs{1};
  uint8_t type = 0;
  uint8_t flags = 0;
  uint16_t bits = 0;  // family-specific
};
static_assert(sizeof(Object) == 8);

// Deep structures (containers holding containers) are compared, ordered and
// described recursively; past this depth the recursion stops (see each use).
constexpr int kMaxRecursionDepth = 512;

class StringBuilder;

struct Class {
  const char *name;
  // Releases what the object holds; the runtime frees the object itself.
  void (*finalize)(Object *object);
  // Both objects have this class. Null means identity.
  bool (*equal)(const Object *a, const Object *b, int depth);
  // Both objects have this class: the canonical order of dictionary keys,
  // zero exactly when equal says they are. Null means by address.
  int (*compare)(const Object *a, const Object *b, int depth);
  // Null means the address.
  CFHashCode (*hash)(const Object *object);
  // Appends a readable description; false when memory ran out.
  bool (*describe)(const Object *object, StringBuilder &out, int depth);
};

extern const Class kAllocatorClass;
extern const Class kStringClass;
extern const Class kNumberClass;
extern const Class kBooleanClass;
extern const Class kDateClass;
extern const Class kDataClass;
extern const Class kArrayClass;
extern const Class kDictionaryClass;

// For object families outside this folder (URLs, bundles). Thread-safe;
// aborts when the table is full.
CFTypeID RegisterClass(const Class *cls);
const Class *ClassOf(CFTypeID type);

// Programming errors: a message on stderr, then abort().
[[noreturn, gnu::cold]] void Fatal(const char *function, const char *message);
[[noreturn, gnu::cold]] void FatalWrongType(const char *function, CFTypeRef object, CFTypeID expected);

inline const Object *Header(CFTypeRef ref) { return static_cast<const Object *>(ref); }
inline Object *MutableHeader(CFTypeRef ref) {
  return const_cast<Object *>(static_cast<const Object *>(ref));
}

template <typename T>
const T *Checked(CFTypeRef ref, CFTypeID type, const char *function) {
  if (ref == nullptr) Fatal(function, "null reference");
  if (Header(ref)->type != type) FatalWrongType(function, ref, type);
  return static_cast<const T *>(ref);
}

template <typename T>
T *CheckedMutable(const T *ref, CFTypeID type, const char *function) {
  Checked<T>(ref, type, function);
  if ((Header(ref)->flags & kMutable) == 0) Fatal(function, "the object is immutable");
  return const_cast<T *>(ref);
}

// ---- memory -----------------------------------------------------------------
// Every function takes a resolved allocator (never kCFAllocatorDefault) and
// never throws; sizes beyond what CFIndex can express fail.
CFAllocatorRef ResolveAllocator(CFAllocatorRef allocator);
bool IsSystemAllocator(CFAllocatorRef allocator);
void *Allocate(CFAllocatorRef allocator, size_t size) noexcept;
// Keeps the first min(old_size, new_size) bytes; null leaves the block as it was.
void *Reallocate(CFAllocatorRef allocator, void *block, size_t old_size, size_t new_size) noexcept;
void Deallocate(CFAllocatorRef allocator, void *block) noexcept;

// The allocator the object was made with (the system allocator when it
// carries none).
CFAllocatorRef AllocatorOf(const Object *object);

// A new object of size bytes (header included) with one reference; null when
// the allocator has no memory. The body after the header is uninitialized.
Object *CreateObject(CFAllocatorRef allocator, CFTypeID type, size_t size, uint8_t flags = 0);

// Frees an object's memory once its class has finalized it.
void FreeObjectMemory(Object *object);

template <typename T>
T *Create(CFAllocatorRef allocator, CFTypeID type, size_t size, uint8_t flags = 0) {
  return reinterpret_cast<T *>(CreateObject(allocator, type, size, flags));
}

// Overflow-checked size arithmetic for variable-length objects.
inline bool SizeFor(size_t fixed, size_t count, size_t unit, size_t *out) {
  size_t bytes;
  if (__builtin_mul_overflow(count, unit, &bytes)) return false;
  if (__builtin_add_overflow(bytes, fixed, out)) return false;
  return *out <= static_cast<size_t>(PTRDIFF_MAX);
}

// Grows an object's buffer of T to hold `needed` elements: half again each
// time, at least `minimum`, never past `limit` (0: none), from the object's
// own allocator. False (memory, or past the limit) leaves both unchanged.
template <typename T, typename Count>
bool GrowBuffer(const Object *owner, T **buffer, Count *capacity, uint64_t needed,
                uint64_t limit, uint64_t minimum) {
  uint64_t current = static_cast<uint64_t>(*capacity);
  if (needed <= current) return true;
  if (limit != 0 && needed > limit) return false;
  uint64_t grown = current + current / 2;
  if (grown < needed) grown = needed;
  if (grown < minimum) grown = minimum;
  if (limit != 0 && grown > limit) grown = limit;
  size_t old_bytes = static_cast<size_t>(current) * sizeof(T);
  size_t new_bytes;
  if (!SizeFor(0, static_cast<size_t>(grown), sizeof(T), &new_bytes)) return false;
  void *moved = Reallocate(AllocatorOf(owner), *buffer, old_bytes, new_bytes);
  if (moved == nullptr) return false;
  *buffer = static_cast<T *>(moved);
  *capacity = static_cast<Count>(grown);
  return true;
}

// ---- shared hashing ---------------------------------------------------------
inline CFHashCode MixHash(uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  value *= 0xc4ceb9fe1a85ec53ULL;
  value ^= value >> 33;
  return static_cast<CFHashCode>(value);
}

// Equality, hashing and canonical order with a depth budget, for containers.
bool EqualAtDepth(CFTypeRef a, CFTypeRef b, int depth);
// Total order over objects: by type id, then by value for the value types,
// by address for the rest. Zero exactly when the objects are equal for the
// value types.
int CompareCanonical(CFTypeRef a, CFTypeRef b, int depth);
// Appends the object's description; depth 0 is the object asked about,
// containers describe their members at depth + 1.
bool DescribeInto(CFTypeRef object, StringBuilder &out, int depth);

// Ranges handed in by callers must lie inside the object.
inline void CheckRange(CFRange range, CFIndex length, const char *function) {
  if (range.location < 0 || range.length < 0 || range.location > length ||
      range.length > length - range.location) {
    Fatal(function, "range out of bounds");
  }
}

}  // namespace tolvan::cf

#endif
