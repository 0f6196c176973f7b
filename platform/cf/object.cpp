// The runtime: reference counting, the class table, and the operations
// every object supports (type ids, equality, hashing, descriptions).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "platform/cf/cf_string.h"
#include "platform/cf/object.hpp"
#include "platform/cf/string.hpp"

namespace tolvan::cf {
namespace {

// Slot i holds the class of type id i. Built-in classes are fixed; others
// are added once at run time and never removed.
std::atomic<const Class *> registered_classes[kMaxTypeID + 1];
std::atomic<CFTypeID> next_type_id{kFirstRegisteredTypeID};

const Class *BuiltinClass(CFTypeID type) {
  switch (type) {
    case kAllocatorTypeID: return &kAllocatorClass;
    case kStringTypeID: return &kStringClass;
    case kNumberTypeID: return &kNumberClass;
    case kBooleanTypeID: return &kBooleanClass;
    case kDateTypeID: return &kDateClass;
    case kDataTypeID: return &kDataClass;
    case kArrayTypeID: return &kArrayClass;
    case kDictionaryTypeID: return &kDictionaryClass;
    default: return nullptr;
  }
}

const Class &ClassOfObject(const Object *object, const char *function) {
  const Class *cls = ClassOf(object->type);
  if (cls == nullptr) Fatal(function, "not a property-list object");
  return *cls;
}

const Object *CheckedObject(CFTypeRef ref, const char *function) {
  if (ref == nullptr) Fatal(function, "null reference");
  return Header(ref);
}

}  // namespace

void Fatal(const char *function, const char *message) {
  std::fprintf(stderr, "%s: %s\n", function, message);
  std::abort();
}

void FatalWrongType(const char *function, CFTypeRef object, CFTypeID expected) {
  const Class *got = ClassOf(Header(object)->type);
  const Class *wanted = ClassOf(expected);
  std::fprintf(stderr, "%s: expected a %s, got %s %p\n", function,
               wanted != nullptr ? wanted->name : "known type",
               got != nullptr ? got->name : "an unknown object", object);
  std::abort();
}

CFTypeID RegisterClass(const Class *cls) {
  CFTypeID type = next_type_id.fetch_add(1, std::memory_order_relaxed);
  if (type > kMaxTypeID) Fatal("RegisterClass", "too many object types");
  registered_classes[type].store(cls, std::memory_order_release);
  return type;
}

const Class *ClassOf(CFTypeID type) {
  if (const Class *builtin = BuiltinClass(type)) return builtin;
  if (type > kMaxTypeID) return nullptr;
  return registered_classes[type].load(std::memory_order_acquire);
}

bool EqualAtDepth(CFTypeRef a, CFTypeRef b, int depth) {
  if (a == b) return true;
  const Object *x = Header(a);
  const Object *y = Header(b);
  if (x->type != y->type) return false;
  const Class &cls = ClassOfObject(x, "CFEqual");
  if (cls.equal == nullptr) return false;
  if (depth > kMaxRecursionDepth) return false;
  return cls.equal(x, y, depth);
}

bool DescribeInto(CFTypeRef object, StringBuilder &out, int depth) {
  const Object *header = Header(object);
  const Class &cls = ClassOfObject(header, "CFCopyDescription");
  if (depth > kMaxRecursionDepth) return out.AppendASCII("...");
  if (cls.describe != nullptr) return cls.describe(header, out, depth);
  char text[96];
  int length = std::snprintf(text, sizeof text, "<%s %p>", cls.name, object);
  return out.AppendLatin1(reinterpret_cast<const unsigned char *>(text), length);
}

int CompareCanonical(CFTypeRef a, CFTypeRef b, int depth) {
  if (a == b) return 0;
  const Object *x = Header(a);
  const Object *y = Header(b);
  if (x->type != y->type) return x->type < y->type ? -1 : 1;
  const Class &cls = ClassOfObject(x, "CFDictionary");
  if (cls.compare != nullptr && depth <= kMaxRecursionDepth) {
    int order = cls.compare(x, y, depth);
    if (order != 0) return order;
    if (cls.equal != nullptr && cls.equal(x, y, depth)) return 0;
  }
  return std::less<const void *>()(a, b) ? -1 : 1;
}

void DestroyObject(Object *object) {
  const Class &cls = ClassOfObject(object, "CFRelease");
  if (cls.finalize != nullptr) cls.finalize(object);
  FreeObjectMemory(object);
}

}  // namespace tolvan::cf

using namespace tolvan::cf;

CFTypeRef CFRetain(CFTypeRef object) {
  const Object *header = CheckedObject(object, "CFRetain");
  if ((header->flags & kImmortal) == 0) {
    uint32_t before = MutableHeader(object)->refs.fetch_add(1, std::memory_order_relaxed);
    // A count that wrapped would free the object under its holders.
    if (before >= UINT32_MAX - 1) Fatal("CFRetain", "reference count overflow");
  }
  return object;
}

void CFRelease(CFTypeRef object) {
  const Object *header = CheckedObject(object, "CFRelease");
  if ((header->flags & kImmortal) != 0) return;
  Object *mutable_header = MutableHeader(object);
  uint32_t before = mutable_header->refs.fetch_sub(1, std::memory_order_acq_rel);
  if (before == 0) Fatal("CFRelease", "object released too many times");
  if (before == 1) DestroyObject(mutable_header);
}

CFIndex CFGetRetainCount(CFTypeRef object) {
  const Object *header = CheckedObject(object, "CFGetRetainCount");
  if ((header->flags & kImmortal) != 0) return LONG_MAX;
  return static_cast<CFIndex>(header->refs.load(std::memory_order_relaxed));
}

CFTypeID CFGetTypeID(CFTypeRef object) { return CheckedObject(object, "CFGetTypeID")->type; }

CFAllocatorRef CFGetAllocator(CFTypeRef object) {
  return AllocatorOf(CheckedObject(object, "CFGetAllocator"));
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  CheckedObject(a, "CFEqual");
  CheckedObject(b, "CFEqual");
  return EqualAtDepth(a, b, 0);
}

CFHashCode CFHash(CFTypeRef object) {
  const Object *header = CheckedObject(object, "CFHash");
  const Class &cls = ClassOfObject(header, "CFHash");
  if (cls.hash != nullptr) return cls.hash(header);
  return MixHash(reinterpret_cast<uintptr_t>(object));
}

CFStringRef CFCopyDescription(CFTypeRef object) {
  CheckedObject(object, "CFCopyDescription");
  if (CFGetTypeID(object) == kStringTypeID) {
    return CFStringCreateCopy(kCFAllocatorDefault, static_cast<CFStringRef>(object));
  }
  StringBuilder out(kCFAllocatorDefault);
  DescribeInto(object, out, 0);
  return out.Copy();
}

CFStringRef CFCopyTypeIDDescription(CFTypeID type_id) {
  const Class *cls = ClassOf(type_id);
  if (cls == nullptr) return nullptr;
  return CFStringCreateWithCString(kCFAllocatorDefault, cls->name, kCFStringEncodingASCII);
}
