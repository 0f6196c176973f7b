// Allocators: the system allocator (malloc), the null allocator, allocators
// built from callbacks, and the process-wide default.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/cf/cf_string.h"
#include "platform/cf/object.hpp"
#include "platform/cf/string.hpp"

using tolvan::cf::Object;

struct TolvanCFAllocator {
  Object header;
  CFAllocatorContext context;
};

namespace tolvan::cf {
namespace {

void *MallocAllocate(CFIndex size, CFOptionFlags, void *) { return std::malloc(size); }
void *MallocReallocate(void *block, CFIndex size, CFOptionFlags, void *) {
  return std::realloc(block, size);
}
void MallocDeallocate(void *block, void *) { std::free(block); }

void *NullAllocate(CFIndex, CFOptionFlags, void *) { return nullptr; }
void *NullReallocate(void *, CFIndex, CFOptionFlags, void *) { return nullptr; }
void NullDeallocate(void *, void *) {}

constexpr CFAllocatorContext kMallocContext = {
    0, nullptr, nullptr, nullptr, nullptr, MallocAllocate, MallocReallocate, MallocDeallocate,
    nullptr};
constexpr CFAllocatorContext kNullContext = {
    0, nullptr, nullptr, nullptr, nullptr, NullAllocate, NullReallocate, NullDeallocate, nullptr};

TolvanCFAllocator system_allocator = {{{1}, kAllocatorTypeID, kImmortal, 0}, kMallocContext};
TolvanCFAllocator malloc_allocator = {{{1}, kAllocatorTypeID, kImmortal, 0}, kMallocContext};
TolvanCFAllocator null_allocator = {{{1}, kAllocatorTypeID, kImmortal, 0}, kNullContext};

// Null means the system allocator, so that the common case needs no load of
// a shared pointer beyond this one.
std::atomic<CFAllocatorRef> default_allocator{nullptr};

void FinalizeAllocator(Object *object) {
  auto *allocator = reinterpret_cast<TolvanCFAllocator *>(object);
  if (allocator->context.release != nullptr) allocator->context.release(allocator->context.info);
}

bool DescribeAllocator(const Object *object, StringBuilder &out, int) {
  char text[64];
  int length = std::snprintf(text, sizeof text, "<CFAllocator %p>",
                             static_cast<const void *>(object));
  return out.AppendLatin1(reinterpret_cast<const unsigned char *>(text), length);
}

}  // namespace

const Class kAllocatorClass = {"CFAllocator", FinalizeAllocator, nullptr, nullptr, nullptr,
                               DescribeAllocator};

CFAllocatorRef ResolveAllocator(CFAllocatorRef allocator) {
  if (allocator != nullptr) {
    Checked<TolvanCFAllocator>(allocator, kAllocatorTypeID, "CFAllocator");
    return allocator;
  }
  CFAllocatorRef current = default_allocator.load(std::memory_order_acquire);
  return current != nullptr ? current : &system_allocator;
}

bool IsSystemAllocator(CFAllocatorRef allocator) {
  return allocator == &system_allocator || allocator == &malloc_allocator;
}

void *Allocate(CFAllocatorRef allocator, size_t size) noexcept {
  if (size == 0 || size > static_cast<size_t>(PTRDIFF_MAX)) return nullptr;
  if (IsSystemAllocator(allocator)) return std::malloc(size);
  const CFAllocatorContext &context = allocator->context;
  return context.allocate(static_cast<CFIndex>(size), 0, context.info);
}

void *Reallocate(CFAllocatorRef allocator, void *block, size_t old_size, size_t new_size) noexcept {
  if (block == nullptr) return Allocate(allocator, new_size);
  if (new_size == 0 || new_size > static_cast<size_t>(PTRDIFF_MAX)) return nullptr;
  if (IsSystemAllocator(allocator)) return std::realloc(block, new_size);
  const CFAllocatorContext &context = allocator->context;
  if (context.reallocate != nullptr) {
    return context.reallocate(block, static_cast<CFIndex>(new_size), 0, context.info);
  }
  void *moved = context.allocate(static_cast<CFIndex>(new_size), 0, context.info);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, old_size < new_size ? old_size : new_size);
  context.deallocate(block, context.info);
  return moved;
}

void Deallocate(CFAllocatorRef allocator, void *block) noexcept {
  if (block == nullptr) return;
  if (IsSystemAllocator(allocator)) {
    std::free(block);
    return;
  }
  allocator->context.deallocate(block, allocator->context.info);
}

CFAllocatorRef AllocatorOf(const Object *object) {
  if ((object->flags & kAllocatorPrefix) == 0) return &system_allocator;
  return reinterpret_cast<const CFAllocatorRef *>(object)[-1];
}

Object *CreateObject(CFAllocatorRef allocator, CFTypeID type, size_t size, uint8_t flags) {
  CFAllocatorRef resolved = ResolveAllocator(allocator);
  unsigned char *block;
  if (IsSystemAllocator(resolved)) {
    block = static_cast<unsigned char *>(Allocate(resolved, size));
  } else {
    size_t prefixed;
    if (!SizeFor(size, 1, sizeof(CFAllocatorRef), &prefixed)) return nullptr;
    block = static_cast<unsigned char *>(Allocate(resolved, prefixed));
    if (block != nullptr) {
      CFRetain(resolved);
      std::memcpy(block, &resolved, sizeof resolved);
      block += sizeof resolved;
      flags |= kAllocatorPrefix;
    }
  }
  if (block == nullptr) return nullptr;
  auto *object = new (block) Object;
  object->type = static_cast<uint8_t>(type);
  object->flags = flags;
  return object;
}

// Called by the runtime once the last reference is gone and the object's
// class has released what it held.
void FreeObjectMemory(Object *object) {
  if ((object->flags & kAllocatorPrefix) == 0) {
    std::free(object);
    return;
  }
  CFAllocatorRef allocator = AllocatorOf(object);
  Deallocate(allocator, reinterpret_cast<unsigned char *>(object) - sizeof allocator);
  CFRelease(allocator);
}

}  // namespace tolvan::cf

using namespace tolvan::cf;

const CFAllocatorRef kCFAllocatorSystemDefault = &system_allocator;
const CFAllocatorRef kCFAllocatorMalloc = &malloc_allocator;
const CFAllocatorRef kCFAllocatorNull = &null_allocator;

CFTypeID CFAllocatorGetTypeID(void) { return kAllocatorTypeID; }

CFAllocatorRef CFAllocatorCreate(CFAllocatorRef allocator, CFAllocatorContext *context) {
  if (context == nullptr || context->allocate == nullptr || context->deallocate == nullptr) {
    Fatal("CFAllocatorCreate", "the context needs allocate and deallocate callbacks");
  }
  auto *created = Create<TolvanCFAllocator>(allocator, kAllocatorTypeID, sizeof(TolvanCFAllocator));
  if (created == nullptr) return nullptr;
  created->context = *context;
  if (context->retain != nullptr) {
    created->context.info = const_cast<void *>(context->retain(context->info));
  }
  return created;
}

CFAllocatorRef CFAllocatorGetDefault(void) { return ResolveAllocator(nullptr); }

// Process-wide, unlike a per-thread default: the library starts no threads,
// and tests replace it around single-threaded code.
void CFAllocatorSetDefault(CFAllocatorRef allocator) {
  if (allocator != nullptr) {
    Checked<TolvanCFAllocator>(allocator, kAllocatorTypeID, "CFAllocatorSetDefault");
    if (allocator == &system_allocator) allocator = nullptr;
    else CFRetain(allocator);
  }
  CFAllocatorRef previous = default_allocator.exchange(allocator, std::memory_order_acq_rel);
  if (previous != nullptr) CFRelease(previous);
}

void *CFAllocatorAllocate(CFAllocatorRef allocator, CFIndex size, CFOptionFlags) {
  if (size <= 0) return nullptr;
  return Allocate(ResolveAllocator(allocator), static_cast<size_t>(size));
}

void *CFAllocatorReallocate(CFAllocatorRef allocator, void *ptr, CFIndex newsize, CFOptionFlags) {
  CFAllocatorRef resolved = ResolveAllocator(allocator);
  if (ptr == nullptr) return newsize > 0 ? Allocate(resolved, static_cast<size_t>(newsize)) : nullptr;
  if (newsize <= 0) {
    Deallocate(resolved, ptr);
    return nullptr;
  }
  if (IsSystemAllocator(resolved)) return std::realloc(ptr, static_cast<size_t>(newsize));
  const CFAllocatorContext &context = resolved->context;
  if (context.reallocate == nullptr) return nullptr;
  return context.reallocate(ptr, newsize, 0, context.info);
}

void CFAllocatorDeallocate(CFAllocatorRef allocator, void *ptr) {
  Deallocate(ResolveAllocator(allocator), ptr);
}
