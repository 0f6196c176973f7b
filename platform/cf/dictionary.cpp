// Dictionaries: a dense vector of entries, kept in canonical key order
// lazily, plus an open-addressing hash index once there are more than a few
// entries.
//
// Order: entries [0, sorted) are in canonical order; insertions append, and
// an insertion that lands after the last key extends the ordered prefix,
// so building from ordered input (a parsed document, a copy) never sorts.
// Enumeration first sorts the tail and merges it in. Removal moves the last
// entry into the hole and shortens the ordered prefix.
//
// Index: linear probing over (entry + 1, hash) slots, at most 3/4 full,
// removal by backward shift (no tombstones). Small dictionaries go without
// one and compare keys directly. An immutable dictionary whose keys are all
// strings, numbers, booleans, dates or data needs none either: its entries
// are in canonical order, which agrees with equality for those types, so a
// binary search finds a key. That is most parsed dictionaries, and it makes
// CFDictionaryCreate of ordered keys a single pass.
//
// A mutable dictionary may reorder itself while it is read, so it is for
// one thread at a time, reads included; immutable ones are ordered at
// creation and safe to share.
#include <algorithm>
#include <cstring>

#include "platform/cf/callbacks.hpp"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_string.h"
#include "platform/cf/object.hpp"
#include "platform/cf/string.hpp"

using tolvan::cf::Object;

namespace tolvan::cf {
namespace {

struct Entry {
  const void *key;
  const void *value;
};

struct Slot {
  uint32_t entry;  // index + 1; 0 is an empty slot
  uint32_t hash;
};

constexpr uint32_t kIndexThreshold = 8;
constexpr uint32_t kMaxEntries = 0x7FFFFFFF;

enum : uint16_t {
  kInlineStorage = 1,  // entries (and index) live in the object's own block
  kSearchByOrder = 2,  // no index: keys are found by binary search
};

}  // namespace
}  // namespace tolvan::cf

struct TolvanCFDictionary {
  Object header;
  uint32_t count;
  uint32_t capacity;  // entries allocated
  uint32_t sorted;    // entries [0, sorted) are in canonical order
  uint32_t limit;     // 0: none
  uint32_t slot_mask; // slot count - 1, when there is an index
  const CFDictionaryKeyCallBacks *keys;      // null: raw pointers by identity
  const CFDictionaryValueCallBacks *values;  // null: raw pointers by identity
  tolvan::cf::Entry *entries;
  tolvan::cf::Slot *slots;  // null: no index
};

namespace tolvan::cf {
namespace {

using Dictionary = TolvanCFDictionary;

const void *CopyStringKey(CFAllocatorRef allocator, const void *value) {
  return CFStringCreateCopy(allocator, static_cast<CFStringRef>(value));
}

}  // namespace
}  // namespace tolvan::cf

using namespace tolvan::cf;

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, RetainType, ReleaseType, CopyTypeDescription, EqualTypes, HashType};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {
    0, CopyStringKey, ReleaseType, CopyTypeDescription, EqualTypes, HashType};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {
    0, RetainType, ReleaseType, CopyTypeDescription, EqualTypes};

namespace tolvan::cf {
namespace {

// ---- callbacks ------------------------------------------------------------

bool TypedKeys(const Dictionary *dict) {
  return dict->keys == &kCFTypeDictionaryKeyCallBacks ||
         dict->keys == &kCFCopyStringDictionaryKeyCallBacks;
}

bool TypedValues(const Dictionary *dict) { return dict->values == &kCFTypeDictionaryValueCallBacks; }

// Keys whose equality is CFEqual have a canonical order by content.
bool OrderedKeyCallBacks(const CFDictionaryKeyCallBacks *keys) {
  return keys != nullptr && (keys->equal == EqualTypes || keys->equal == CFEqual);
}

bool OrderedKeys(const Dictionary *dict) { return OrderedKeyCallBacks(dict->keys); }

bool IsString(const void *object) { return Header(object)->type == kStringTypeID; }

StringView KeyText(const void *key) { return ViewOf(static_cast<CFStringRef>(key), "CFDictionary"); }

// The value types whose canonical order is zero exactly for equal values.
bool IsLeafValue(const void *key) {
  CFTypeID type = Header(key)->type;
  return type == kStringTypeID || type == kNumberTypeID || type == kBooleanTypeID ||
         type == kDateTypeID || type == kDataTypeID;
}

CFHashCode KeyHash(const Dictionary *dict, const void *key) {
  if (TypedKeys(dict)) return IsString(key) ? HashView(KeyText(key)) : CFHash(key);
  if (dict->keys != nullptr && dict->keys->hash != nullptr) return dict->keys->hash(key);
  return MixHash(reinterpret_cast<uintptr_t>(key));
}

uint32_t SlotHash(CFHashCode hash) {
  return static_cast<uint32_t>((static_cast<uint64_t>(hash) * 0x9E3779B97F4A7C15ULL) >> 32);
}

bool KeysEqual(const Dictionary *dict, const void *a, const void *b) {
  if (a == b) return true;
  if (TypedKeys(dict)) {
    if (IsString(a) && IsString(b)) return EqualViews(KeyText(a), KeyText(b));
    return EqualAtDepth(a, b, 0);
  }
  if (dict->keys == nullptr || dict->keys->equal == nullptr) return false;
  return dict->keys->equal(a, b);
}

int KeyOrder(const Dictionary *dict, const void *a, const void *b) {
  if (!OrderedKeys(dict)) return CompareAddresses(a, b);
  if (IsString(a) && IsString(b)) return CompareViews(KeyText(a), KeyText(b));
  return CompareCanonical(a, b, 0);
}

// Null when a key callback that copies could not (out of memory).
const void *RetainKey(const Dictionary *dict, const void *key) {
  if (dict->keys == &kCFTypeDictionaryKeyCallBacks) return CFRetain(key);
  if (dict->keys == nullptr || dict->keys->retain == nullptr) return key;
  return dict->keys->retain(AllocatorOf(&dict->header), key);
}

void ReleaseKey(const Dictionary *dict, const void *key) {
  if (TypedKeys(dict)) {
    CFRelease(key);
  } else if (dict->keys != nullptr && dict->keys->release != nullptr) {
    dict->keys->release(AllocatorOf(&dict->header), key);
  }
}

const void *RetainValue(const Dictionary *dict, const void *value) {
  if (TypedValues(dict)) return CFRetain(value);
  if (dict->values == nullptr || dict->values->retain == nullptr) return value;
  return dict->values->retain(AllocatorOf(&dict->header), value);
}

void ReleaseValue(const Dictionary *dict, const void *value) {
  if (TypedValues(dict)) {
    CFRelease(value);
  } else if (dict->values != nullptr && dict->values->release != nullptr) {
    dict->values->release(AllocatorOf(&dict->header), value);
  }
}

bool ValuesEqual(const Dictionary *dict, const void *a, const void *b, int depth) {
  if (a == b) return true;
  if (TypedValues(dict)) return EqualAtDepth(a, b, depth);
  if (dict->values == nullptr || dict->values->equal == nullptr) return false;
  return dict->values->equal(a, b);
}

// ---- index ----------------------------------------------------------------

uint32_t SlotCountFor(uint32_t entries) {
  uint64_t wanted = uint64_t{entries} * 4 / 3 + 1;
  uint64_t count = 16;
  while (count < wanted) count *= 2;
  return static_cast<uint32_t>(count);
}

void InsertSlot(Slot *slots, uint32_t mask, uint32_t hash, uint32_t entry) {
  uint32_t i = hash & mask;
  while (slots[i].entry != 0) i = (i + 1) & mask;
  slots[i] = {entry + 1, hash};
}

void FillIndex(const Dictionary *dict, Slot *slots, uint32_t mask) {
  std::memset(slots, 0, (size_t{mask} + 1) * sizeof(Slot));
  for (uint32_t i = 0; i < dict->count; ++i) {
    InsertSlot(slots, mask, SlotHash(KeyHash(dict, dict->entries[i].key)), i);
  }
}

// Makes room in the index of a mutable dictionary for `entries` entries.
bool ReserveIndex(Dictionary *dict, uint32_t entries) {
  if (entries <= kIndexThreshold) return true;
  if (dict->slots != nullptr && uint64_t{entries} * 4 <= (uint64_t{dict->slot_mask} + 1) * 3) {
    return true;
  }
  uint32_t slot_count = SlotCountFor(entries);
  auto *slots = static_cast<Slot *>(Allocate(AllocatorOf(&dict->header), size_t{slot_count} * sizeof(Slot)));
  if (slots == nullptr) return false;
  FillIndex(dict, slots, slot_count - 1);
  Deallocate(AllocatorOf(&dict->header), dict->slots);
  dict->slots = slots;
  dict->slot_mask = slot_count - 1;
  return true;
}

struct Found {
  int64_t index = -1;  // -1: absent
  uint32_t hash = 0;   // valid when the dictionary has an index
};

Found Lookup(const Dictionary *dict, const void *key) {
  Found found;
  if (key == nullptr && OrderedKeys(dict)) Fatal("CFDictionary", "null reference as a key");
  if ((dict->header.bits & kSearchByOrder) != 0 && dict->count > kIndexThreshold) {
    uint32_t low = 0, high = dict->count;
    while (low < high) {
      uint32_t middle = low + (high - low) / 2;
      int order = KeyOrder(dict, dict->entries[middle].key, key);
      if (order == 0) {
        found.index = middle;
        break;
      }
      if (order < 0) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    return found;
  }
  if (dict->slots == nullptr) {
    for (uint32_t i = 0; i < dict->count; ++i) {
      if (KeysEqual(dict, dict->entries[i].key, key)) {
        found.index = i;
        break;
      }
    }
    return found;
  }
  found.hash = SlotHash(KeyHash(dict, key));
  for (uint32_t i = found.hash & dict->slot_mask;; i = (i + 1) & dict->slot_mask) {
    const Slot &slot = dict->slots[i];
    if (slot.entry == 0) return found;
    if (slot.hash == found.hash && KeysEqual(dict, dict->entries[slot.entry - 1].key, key)) {
      found.index = slot.entry - 1;
      return found;
    }
  }
}

uint32_t FindSlotOf(const Dictionary *dict, uint32_t entry) {
  uint32_t hash = SlotHash(KeyHash(dict, dict->entries[entry].key));
  uint32_t i = hash & dict->slot_mask;
  while (dict->slots[i].entry != entry + 1) i = (i + 1) & dict->slot_mask;
  return i;
}

// Backward-shift deletion: later members of the probe run move up so that
// no lookup stops early at the hole.
void DeleteSlot(Dictionary *dict, uint32_t hole) {
  uint32_t mask = dict->slot_mask;
  for (uint32_t next = (hole + 1) & mask; dict->slots[next].entry != 0; next = (next + 1) & mask) {
    uint32_t home = dict->slots[next].hash & mask;
    bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (stays) continue;
    dict->slots[hole] = dict->slots[next];
    hole = next;
  }
  dict->slots[hole].entry = 0;
}

// ---- order ----------------------------------------------------------------

void EnsureOrdered(const Dictionary *const_dict) {
  if (const_dict->sorted == const_dict->count) return;
  auto *dict = const_cast<Dictionary *>(const_dict);
  auto less = [dict](const Entry &a, const Entry &b) { return KeyOrder(dict, a.key, b.key) < 0; };
  Entry *begin = dict->entries, *middle = begin + dict->sorted, *end = begin + dict->count;
  std::sort(middle, end, less);
  if (middle != begin && less(*middle, *(middle - 1))) std::inplace_merge(begin, middle, end, less);
  dict->sorted = dict->count;
  if (dict->slots != nullptr) FillIndex(dict, dict->slots, dict->slot_mask);
}

// ---- building -------------------------------------------------------------

// Appends a pair whose key is absent; room for it is already reserved.
bool AppendEntry(Dictionary *dict, const void *key, const void *value, const Found &found) {
  const void *kept_key = RetainKey(dict, key);
  if (kept_key == nullptr && key != nullptr) return false;
  uint32_t at = dict->count;
  dict->entries[at] = {kept_key, RetainValue(dict, value)};
  if (dict->slots != nullptr) InsertSlot(dict->slots, dict->slot_mask, found.hash, at);
  if (dict->sorted == at && (at == 0 || KeyOrder(dict, dict->entries[at - 1].key, kept_key) < 0)) {
    ++dict->sorted;
  }
  ++dict->count;
  return true;
}

void ReplaceValueAt(Dictionary *dict, int64_t index, const void *value) {
  const void *old = dict->entries[index].value;
  dict->entries[index].value = RetainValue(dict, value);
  ReleaseValue(dict, old);
}

bool ReserveEntries(Dictionary *dict, uint32_t extra) {
  uint64_t needed = uint64_t{dict->count} + extra;
  if (needed > kMaxEntries) return false;
  return GrowBuffer(&dict->header, &dict->entries, &dict->capacity, needed, dict->limit, 4);
}

// Adds a pair to a mutable dictionary whose key is absent.
bool AddEntry(Dictionary *dict, const void *key, const void *value, Found found) {
  if (!ReserveEntries(dict, 1)) return false;
  bool had_index = dict->slots != nullptr;
  if (!ReserveIndex(dict, dict->count + 1)) return false;
  // Lookup computes the hash only when there already was an index.
  if (!had_index && dict->slots != nullptr) found.hash = SlotHash(KeyHash(dict, key));
  return AppendEntry(dict, key, value, found);
}

template <typename CallBacks>
const CallBacks *CanonicalCallBacks(const CallBacks *given, const CallBacks *standard,
                                    const CallBacks *also_standard) {
  if (given == nullptr) return nullptr;
  if (SameCallBacks(given, standard)) return standard;
  if (also_standard != nullptr && SameCallBacks(given, also_standard)) return also_standard;
  return given;  // custom: the caller copies it into the object
}

// A dictionary object with room for `extra` bytes after the body and any
// custom callbacks.
Dictionary *CreateDictionaryObject(CFAllocatorRef allocator, const CFDictionaryKeyCallBacks *keys,
                                   const CFDictionaryValueCallBacks *values, size_t extra,
                                   uint8_t flags, unsigned char **room) {
  const CFDictionaryKeyCallBacks *key_callbacks = CanonicalCallBacks(
      keys, &kCFTypeDictionaryKeyCallBacks, &kCFCopyStringDictionaryKeyCallBacks);
  const CFDictionaryValueCallBacks *value_callbacks = CanonicalCallBacks<CFDictionaryValueCallBacks>(
      values, &kCFTypeDictionaryValueCallBacks, nullptr);
  bool copy_keys = key_callbacks != nullptr && key_callbacks != &kCFTypeDictionaryKeyCallBacks &&
                   key_callbacks != &kCFCopyStringDictionaryKeyCallBacks;
  bool copy_values = value_callbacks != nullptr && value_callbacks != &kCFTypeDictionaryValueCallBacks;
  size_t fixed = sizeof(Dictionary) + (copy_keys ? sizeof(CFDictionaryKeyCallBacks) : 0) +
                 (copy_values ? sizeof(CFDictionaryValueCallBacks) : 0);
  size_t size;
  if (!SizeFor(fixed, extra, 1, &size)) return nullptr;
  auto *dict = Create<Dictionary>(allocator, kDictionaryTypeID, size, flags);
  if (dict == nullptr) return nullptr;
  unsigned char *next = reinterpret_cast<unsigned char *>(dict) + sizeof(Dictionary);
  if (copy_keys) {
    key_callbacks = new (next) CFDictionaryKeyCallBacks(*keys);
    next += sizeof(CFDictionaryKeyCallBacks);
  }
  if (copy_values) {
    value_callbacks = new (next) CFDictionaryValueCallBacks(*values);
    next += sizeof(CFDictionaryValueCallBacks);
  }
  dict->count = dict->capacity = dict->sorted = dict->limit = dict->slot_mask = 0;
  dict->keys = key_callbacks;
  dict->values = value_callbacks;
  dict->entries = nullptr;
  dict->slots = nullptr;
  *room = next;
  return dict;
}

// An immutable dictionary with its entries and index inline, filled by the
// caller through AppendEntry.
Dictionary *CreateImmutableShell(CFAllocatorRef allocator, uint32_t count, bool with_index,
                                 const CFDictionaryKeyCallBacks *keys,
                                 const CFDictionaryValueCallBacks *values) {
  uint32_t slot_count = with_index && count > kIndexThreshold ? SlotCountFor(count) : 0;
  size_t extra = size_t{count} * sizeof(Entry) + size_t{slot_count} * sizeof(Slot);
  unsigned char *room;
  Dictionary *dict = CreateDictionaryObject(allocator, keys, values, extra, 0, &room);
  if (dict == nullptr) return nullptr;
  static_assert(sizeof(Dictionary) % alignof(Entry) == 0 &&
                sizeof(CFDictionaryKeyCallBacks) % alignof(Entry) == 0 &&
                sizeof(CFDictionaryValueCallBacks) % alignof(Entry) == 0);
  dict->header.bits = kInlineStorage;
  dict->entries = reinterpret_cast<Entry *>(room);
  dict->capacity = count;
  if (slot_count != 0) {
    dict->slots = reinterpret_cast<Slot *>(dict->entries + count);
    dict->slot_mask = slot_count - 1;
    std::memset(dict->slots, 0, size_t{slot_count} * sizeof(Slot));
  }
  return dict;
}

// ---- class ----------------------------------------------------------------

void FinalizeDictionary(Object *object) {
  auto *dict = reinterpret_cast<Dictionary *>(object);
  for (uint32_t i = 0; i < dict->count; ++i) {
    ReleaseKey(dict, dict->entries[i].key);
    ReleaseValue(dict, dict->entries[i].value);
  }
  if ((object->bits & kInlineStorage) == 0) {
    Deallocate(AllocatorOf(object), dict->entries);
    Deallocate(AllocatorOf(object), dict->slots);
  }
}

const Dictionary *AsDictionary(const Object *object) {
  return reinterpret_cast<const Dictionary *>(object);
}

bool EqualDictionaries(const Object *a, const Object *b, int depth) {
  const Dictionary *x = AsDictionary(a), *y = AsDictionary(b);
  if (x->count != y->count) return false;
  for (uint32_t i = 0; i < x->count; ++i) {
    Found found = Lookup(y, x->entries[i].key);
    if (found.index < 0) return false;
    if (!ValuesEqual(x, x->entries[i].value, y->entries[found.index].value, depth + 1)) return false;
  }
  return true;
}

int CompareDictionaries(const Object *a, const Object *b, int depth) {
  const Dictionary *x = AsDictionary(a), *y = AsDictionary(b);
  if (x->count != y->count) return x->count < y->count ? -1 : 1;
  EnsureOrdered(x);
  EnsureOrdered(y);
  bool typed = TypedValues(x) && TypedValues(y) && OrderedKeys(x) && OrderedKeys(y);
  for (uint32_t i = 0; i < x->count; ++i) {
    const Entry &p = x->entries[i], &q = y->entries[i];
    int order = typed ? CompareCanonical(p.key, q.key, depth + 1) : CompareAddresses(p.key, q.key);
    if (order == 0) {
      order = typed ? CompareCanonical(p.value, q.value, depth + 1) : CompareAddresses(p.value, q.value);
    }
    if (order != 0) return order;
  }
  return 0;
}

CFHashCode HashDictionary(const Object *object) {
  return MixHash(uint64_t{AsDictionary(object)->count} ^ 0xD1C7ULL);
}

bool DescribeDictionary(const Object *object, StringBuilder &out, int depth) {
  const Dictionary *dict = AsDictionary(object);
  if (dict->count == 0) return out.AppendASCII("{}");
  EnsureOrdered(dict);
  out.AppendASCII("{\n");
  for (uint32_t i = 0; i < dict->count; ++i) {
    AppendIndent(out, depth + 1);
    DescribeMember(out, dict->entries[i].key, TypedKeys(dict) || OrderedKeys(dict),
                   dict->keys != nullptr ? dict->keys->copyDescription : nullptr, depth + 1);
    out.AppendASCII(" = ");
    DescribeMember(out, dict->entries[i].value, TypedValues(dict),
                   dict->values != nullptr ? dict->values->copyDescription : nullptr, depth + 1);
    out.AppendASCII(";\n");
  }
  AppendIndent(out, depth);
  return out.AppendASCII("}");
}

const Dictionary *CheckedDictionary(CFDictionaryRef dict, const char *function) {
  return Checked<Dictionary>(dict, kDictionaryTypeID, function);
}

Dictionary *CheckedMutableDictionary(CFMutableDictionaryRef dict, const char *function) {
  return CheckedMutable<Dictionary>(dict, kDictionaryTypeID, function);
}

// Orders the entries and merges runs of equal keys into one entry: the
// first key with the last value, as if they had been set one by one.
void SortAndMergeDuplicates(Dictionary *dict) {
  auto less = [dict](const Entry &a, const Entry &b) { return KeyOrder(dict, a.key, b.key) < 0; };
  Entry *entries = dict->entries;
  std::stable_sort(entries, entries + dict->count, less);
  uint32_t kept = 0;
  for (uint32_t run = 0; run < dict->count;) {
    uint32_t end = run + 1;
    while (end < dict->count && KeyOrder(dict, entries[run].key, entries[end].key) == 0) ++end;
    Entry merged = {entries[run].key, entries[end - 1].value};
    for (uint32_t i = run + 1; i < end; ++i) ReleaseKey(dict, entries[i].key);
    for (uint32_t i = run; i + 1 < end; ++i) ReleaseValue(dict, entries[i].value);
    entries[kept++] = merged;
    run = end;
  }
  dict->count = dict->sorted = kept;
}

// pair(i) yields the i-th key and value; a later duplicate key replaces an
// earlier one.
template <typename PairAt>
CFDictionaryRef CreateImmutable(CFAllocatorRef allocator, CFIndex count, PairAt pair,
                                const CFDictionaryKeyCallBacks *key_callbacks,
                                const CFDictionaryValueCallBacks *value_callbacks) {
  if (count > kMaxEntries) return nullptr;
  bool ordered = OrderedKeyCallBacks(key_callbacks);
  bool by_order = ordered;
  for (CFIndex i = 0; by_order && i < count; ++i) {
    const void *key = pair(i).key;
    if (key == nullptr) Fatal("CFDictionaryCreate", "null reference as a key");
    by_order = IsLeafValue(key);
  }
  Dictionary *dict = CreateImmutableShell(allocator, static_cast<uint32_t>(count), !by_order,
                                          key_callbacks, value_callbacks);
  if (dict == nullptr) return nullptr;
  if (by_order) dict->header.bits |= kSearchByOrder;
  // Keys that order by content are appended as they come (ordered input,
  // the usual case, then needs nothing more), sorted once otherwise, and
  // indexed last. Other keys go through the index to find duplicates.
  Slot *slots = dict->slots;
  if (ordered) dict->slots = nullptr;
  for (CFIndex i = 0; i < count; ++i) {
    Entry entry = pair(i);
    Found found;
    if (!ordered) found = Lookup(dict, entry.key);
    if (found.index >= 0) {
      ReplaceValueAt(dict, found.index, entry.value);
    } else if (!AppendEntry(dict, entry.key, entry.value, found)) {
      dict->slots = slots;
      CFRelease(dict);
      return nullptr;
    }
  }
  dict->slots = slots;
  if (!ordered) {
    EnsureOrdered(dict);
  } else {
    if (dict->sorted != dict->count) SortAndMergeDuplicates(dict);
    if (dict->slots != nullptr) FillIndex(dict, dict->slots, dict->slot_mask);
  }
  return dict;
}

}  // namespace

const Class kDictionaryClass = {"CFDictionary", FinalizeDictionary, EqualDictionaries,
                                CompareDictionaries, HashDictionary, DescribeDictionary};

}  // namespace tolvan::cf

CFTypeID CFDictionaryGetTypeID(void) { return kDictionaryTypeID; }

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void **keys,
                                   const void **values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks) {
  if (numValues < 0 || (numValues > 0 && (keys == nullptr || values == nullptr))) {
    Fatal("CFDictionaryCreate", "bad key or value buffer");
  }
  return CreateImmutable(
      allocator, numValues, [keys, values](CFIndex i) { return Entry{keys[i], values[i]}; },
      keyCallBacks, valueCallBacks);
}

CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef allocator, CFDictionaryRef theDict) {
  const Dictionary *dict = CheckedDictionary(theDict, "CFDictionaryCreateCopy");
  if ((dict->header.flags & kMutable) == 0 &&
      AllocatorOf(&dict->header) == ResolveAllocator(allocator)) {
    return static_cast<CFDictionaryRef>(CFRetain(theDict));
  }
  EnsureOrdered(dict);
  return CreateImmutable(
      allocator, dict->count, [dict](CFIndex i) { return dict->entries[i]; }, dict->keys,
      dict->values);
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks *keyCallBacks,
                                                 const CFDictionaryValueCallBacks *valueCallBacks) {
  if (capacity < 0) Fatal("CFDictionaryCreateMutable", "negative capacity");
  unsigned char *room;
  Dictionary *dict =
      CreateDictionaryObject(allocator, keyCallBacks, valueCallBacks, 0, kMutable, &room);
  if (dict == nullptr) return nullptr;
  dict->limit = capacity > kMaxEntries ? kMaxEntries : static_cast<uint32_t>(capacity);
  return dict;
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                                     CFDictionaryRef theDict) {
  const Dictionary *source = CheckedDictionary(theDict, "CFDictionaryCreateMutableCopy");
  if (capacity != 0 && capacity < source->count) {
    Fatal("CFDictionaryCreateMutableCopy", "capacity below the count of the dictionary");
  }
  CFMutableDictionaryRef copy =
      CFDictionaryCreateMutable(allocator, capacity, source->keys, source->values);
  if (copy == nullptr) return nullptr;
  EnsureOrdered(source);
  if (!ReserveEntries(copy, source->count) || !ReserveIndex(copy, source->count)) {
    CFRelease(copy);
    return nullptr;
  }
  for (uint32_t i = 0; i < source->count; ++i) {
    Found found;
    if (copy->slots != nullptr) found.hash = SlotHash(KeyHash(copy, source->entries[i].key));
    if (!AppendEntry(copy, source->entries[i].key, source->entries[i].value, found)) {
      CFRelease(copy);
      return nullptr;
    }
  }
  return copy;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
  return CheckedDictionary(theDict, "CFDictionaryGetCount")->count;
}

CFIndex CFDictionaryGetCountOfKey(CFDictionaryRef theDict, const void *key) {
  return Lookup(CheckedDictionary(theDict, "CFDictionaryGetCountOfKey"), key).index >= 0 ? 1 : 0;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void *key) {
  return Lookup(CheckedDictionary(theDict, "CFDictionaryContainsKey"), key).index >= 0;
}

Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void *value) {
  const Dictionary *dict = CheckedDictionary(theDict, "CFDictionaryContainsValue");
  for (uint32_t i = 0; i < dict->count; ++i) {
    if (ValuesEqual(dict, dict->entries[i].value, value, 0)) return true;
  }
  return false;
}

const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key) {
  const Dictionary *dict = CheckedDictionary(theDict, "CFDictionaryGetValue");
  Found found = Lookup(dict, key);
  return found.index >= 0 ? dict->entries[found.index].value : nullptr;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void *key,
                                      const void **value) {
  const Dictionary *dict = CheckedDictionary(theDict, "CFDictionaryGetValueIfPresent");
  Found found = Lookup(dict, key);
  if (found.index < 0) return false;
  if (value != nullptr) *value = dict->entries[found.index].value;
  return true;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys,
                                  const void **values) {
  const Dictionary *dict = CheckedDictionary(theDict, "CFDictionaryGetKeysAndValues");
  EnsureOrdered(dict);
  for (uint32_t i = 0; i < dict->count; ++i) {
    if (keys != nullptr) keys[i] = dict->entries[i].key;
    if (values != nullptr) values[i] = dict->entries[i].value;
  }
}

void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                               void *context) {
  const Dictionary *dict = CheckedDictionary(theDict, "CFDictionaryApplyFunction");
  if (applier == nullptr) Fatal("CFDictionaryApplyFunction", "null function");
  EnsureOrdered(dict);
  for (uint32_t i = 0; i < dict->count; ++i) {
    applier(dict->entries[i].key, dict->entries[i].value, context);
  }
}

Boolean CFDictionarySetValue(CFMutableDictionaryRef theDict, const void *key, const void *value) {
  Dictionary *dict = CheckedMutableDictionary(theDict, "CFDictionarySetValue");
  Found found = Lookup(dict, key);
  if (found.index >= 0) {
    ReplaceValueAt(dict, found.index, value);
    return true;
  }
  return AddEntry(dict, key, value, found);
}

Boolean CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void *key, const void *value) {
  Dictionary *dict = CheckedMutableDictionary(theDict, "CFDictionaryAddValue");
  Found found = Lookup(dict, key);
  if (found.index >= 0) return true;
  return AddEntry(dict, key, value, found);
}

void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void *key, const void *value) {
  Dictionary *dict = CheckedMutableDictionary(theDict, "CFDictionaryReplaceValue");
  Found found = Lookup(dict, key);
  if (found.index >= 0) ReplaceValueAt(dict, found.index, value);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void *key) {
  Dictionary *dict = CheckedMutableDictionary(theDict, "CFDictionaryRemoveValue");
  Found found = Lookup(dict, key);
  if (found.index < 0) return;
  auto index = static_cast<uint32_t>(found.index);
  Entry removed = dict->entries[index];
  uint32_t last = dict->count - 1;
  if (dict->slots != nullptr) {
    DeleteSlot(dict, FindSlotOf(dict, index));
    if (index != last) dict->slots[FindSlotOf(dict, last)].entry = index + 1;
  }
  dict->entries[index] = dict->entries[last];
  dict->count = last;
  if (dict->sorted > index) dict->sorted = index;
  if (dict->sorted > dict->count) dict->sorted = dict->count;
  ReleaseKey(dict, removed.key);
  ReleaseValue(dict, removed.value);
}

void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict) {
  Dictionary *dict = CheckedMutableDictionary(theDict, "CFDictionaryRemoveAllValues");
  // Releasing can run code that looks at the dictionary: empty it first.
  Entry *entries = dict->entries;
  uint32_t count = dict->count;
  Deallocate(AllocatorOf(&dict->header), dict->slots);
  dict->entries = nullptr;
  dict->slots = nullptr;
  dict->count = dict->capacity = dict->sorted = dict->slot_mask = 0;
  for (uint32_t i = 0; i < count; ++i) {
    ReleaseKey(dict, entries[i].key);
    ReleaseValue(dict, entries[i].value);
  }
  Deallocate(AllocatorOf(&dict->header), entries);
}
