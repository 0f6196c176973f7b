// Data: immutable bytes kept inline after the header, bytes wrapped without
// a copy, and mutable growable buffers.
#include <cstring>

#include "platform/cf/cf_data.h"
#include "platform/cf/object.hpp"
#include "platform/cf/string.hpp"

using tolvan::cf::Object;

struct TolvanCFData {
  Object header;
  CFIndex length;
  UInt8 *bytes;  // inline, the caller's, or a mutable buffer (null while empty)
};

namespace tolvan::cf {
namespace {

enum : uint16_t { kDataNoCopy = 1 };

struct WrappedData : TolvanCFData {
  CFAllocatorRef deallocator;  // kCFAllocatorNull: the caller keeps the bytes
};

struct MutableData : TolvanCFData {
  CFIndex capacity;  // bytes allocated
  CFIndex limit;     // 0: none
};

UInt8 kEmptyBytes[1];

const TolvanCFData *CheckedData(CFDataRef data, const char *function) {
  return Checked<TolvanCFData>(data, kDataTypeID, function);
}

MutableData *CheckedMutableData(CFMutableDataRef data, const char *function) {
  return static_cast<MutableData *>(CheckedMutable<TolvanCFData>(data, kDataTypeID, function));
}

const UInt8 *BytesOf(const TolvanCFData *data) {
  return data->bytes != nullptr ? data->bytes : kEmptyBytes;
}

const TolvanCFData *AsData(const Object *object) {
  return reinterpret_cast<const TolvanCFData *>(object);
}

void FinalizeData(Object *object) {
  auto *data = reinterpret_cast<TolvanCFData *>(object);
  if ((object->flags & kMutable) != 0) {
    Deallocate(AllocatorOf(object), data->bytes);
  } else if ((object->bits & kDataNoCopy) != 0) {
    auto *wrapped = static_cast<WrappedData *>(data);
    Deallocate(wrapped->deallocator, data->bytes);
    CFRelease(wrapped->deallocator);
  }
}

int CompareDataObjects(const Object *a, const Object *b, int) {
  const TolvanCFData *x = AsData(a), *y = AsData(b);
  CFIndex common = x->length < y->length ? x->length : y->length;
  int order = common != 0 ? std::memcmp(BytesOf(x), BytesOf(y), static_cast<size_t>(common)) : 0;
  if (order != 0) return order < 0 ? -1 : 1;
  return x->length < y->length ? -1 : x->length > y->length ? 1 : 0;
}

bool EqualDataObjects(const Object *a, const Object *b, int depth) {
  return AsData(a)->length == AsData(b)->length && CompareDataObjects(a, b, depth) == 0;
}

CFHashCode HashData(const Object *object) {
  const TolvanCFData *data = AsData(object);
  const UInt8 *bytes = BytesOf(data);
  uint64_t hash = static_cast<uint64_t>(data->length);
  for (CFIndex i = 0; i < data->length; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
  return MixHash(hash);
}

bool DescribeData(const Object *object, StringBuilder &out, int) {
  static const char kHex[] = "0123456789abcdef";
  const TolvanCFData *data = AsData(object);
  const UInt8 *bytes = BytesOf(data);
  out.AppendASCII("<");
  for (CFIndex i = 0; i < data->length; ++i) {
    unsigned char pair[3] = {' ', static_cast<unsigned char>(kHex[bytes[i] >> 4]),
                             static_cast<unsigned char>(kHex[bytes[i] & 15])};
    // A space between groups of four bytes.
    bool space = i != 0 && i % 4 == 0;
    out.AppendLatin1(space ? pair : pair + 1, space ? 3 : 2);
  }
  return out.AppendASCII(">");
}

CFDataRef CreateInline(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length) {
  size_t size;
  if (length < 0 || !SizeFor(sizeof(TolvanCFData), static_cast<size_t>(length), 1, &size)) {
    return nullptr;
  }
  auto *data = Create<TolvanCFData>(allocator, kDataTypeID, size);
  if (data == nullptr) return nullptr;
  data->length = length;
  data->bytes = reinterpret_cast<UInt8 *>(data) + sizeof(TolvanCFData);
  if (length != 0) std::memcpy(data->bytes, bytes, static_cast<size_t>(length));
  return data;
}

// Grows the buffer to hold at least length bytes; false leaves it as it was.
bool ReserveBytes(MutableData *data, CFIndex length) {
  return GrowBuffer(&data->header, &data->bytes, &data->capacity, static_cast<uint64_t>(length),
                    static_cast<uint64_t>(data->limit), 16);
}

}  // namespace

const Class kDataClass = {"CFData", FinalizeData, EqualDataObjects, CompareDataObjects, HashData,
                          DescribeData};

}  // namespace tolvan::cf

using namespace tolvan::cf;

CFTypeID CFDataGetTypeID(void) { return kDataTypeID; }

CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length) {
  if (length < 0 || (bytes == nullptr && length > 0)) Fatal("CFDataCreate", "bad byte buffer");
  return CreateInline(allocator, bytes, length);
}

CFDataRef CFDataCreateWithBytesNoCopy(CFAllocatorRef allocator, const UInt8 *bytes,
                                      CFIndex length, CFAllocatorRef bytesDeallocator) {
  if (length < 0 || (bytes == nullptr && length > 0)) {
    Fatal("CFDataCreateWithBytesNoCopy", "bad byte buffer");
  }
  CFAllocatorRef deallocator = ResolveAllocator(bytesDeallocator);
  auto *data = Create<WrappedData>(allocator, kDataTypeID, sizeof(WrappedData));
  if (data == nullptr) return nullptr;
  data->header.bits = kDataNoCopy;
  data->length = length;
  data->bytes = const_cast<UInt8 *>(bytes);
  data->deallocator = static_cast<CFAllocatorRef>(CFRetain(deallocator));
  return data;
}

// Wrapped bytes are copied: the copy must not depend on the caller keeping
// them alive.
CFDataRef CFDataCreateCopy(CFAllocatorRef allocator, CFDataRef theData) {
  const TolvanCFData *data = CheckedData(theData, "CFDataCreateCopy");
  const Object *header = &data->header;
  if ((header->flags & kMutable) == 0 && (header->bits & kDataNoCopy) == 0 &&
      AllocatorOf(header) == ResolveAllocator(allocator)) {
    return static_cast<CFDataRef>(CFRetain(theData));
  }
  return CreateInline(allocator, BytesOf(data), data->length);
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef allocator, CFIndex capacity) {
  if (capacity < 0) Fatal("CFDataCreateMutable", "negative capacity");
  auto *data = Create<MutableData>(allocator, kDataTypeID, sizeof(MutableData), kMutable);
  if (data == nullptr) return nullptr;
  data->length = 0;
  data->bytes = nullptr;
  data->capacity = 0;
  data->limit = capacity;
  return data;
}

CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                         CFDataRef theData) {
  const TolvanCFData *source = CheckedData(theData, "CFDataCreateMutableCopy");
  if (capacity != 0 && capacity < source->length) {
    Fatal("CFDataCreateMutableCopy", "capacity below the length of the data");
  }
  CFMutableDataRef copy = CFDataCreateMutable(allocator, capacity);
  if (copy == nullptr) return nullptr;
  if (!CFDataAppendBytes(copy, BytesOf(source), source->length)) {
    CFRelease(copy);
    return nullptr;
  }
  return copy;
}

CFIndex CFDataGetLength(CFDataRef theData) { return CheckedData(theData, "CFDataGetLength")->length; }

const UInt8 *CFDataGetBytePtr(CFDataRef theData) {
  return BytesOf(CheckedData(theData, "CFDataGetBytePtr"));
}

UInt8 *CFDataGetMutableBytePtr(CFMutableDataRef theData) {
  return const_cast<UInt8 *>(BytesOf(CheckedMutableData(theData, "CFDataGetMutableBytePtr")));
}

void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8 *buffer) {
  const TolvanCFData *data = CheckedData(theData, "CFDataGetBytes");
  CheckRange(range, data->length, "CFDataGetBytes");
  if (range.length == 0) return;
  if (buffer == nullptr) Fatal("CFDataGetBytes", "null buffer");
  std::memcpy(buffer, BytesOf(data) + range.location, static_cast<size_t>(range.length));
}

Boolean CFDataAppendBytes(CFMutableDataRef theData, const UInt8 *bytes, CFIndex length) {
  MutableData *data = CheckedMutableData(theData, "CFDataAppendBytes");
  if (length < 0 || (bytes == nullptr && length > 0)) Fatal("CFDataAppendBytes", "bad byte buffer");
  if (length == 0) return true;
  CFIndex total;
  if (__builtin_add_overflow(data->length, length, &total)) return false;
  // The bytes may lie inside this object's own buffer, which growing moves.
  const UInt8 *old_bytes = data->bytes;
  bool inside = old_bytes != nullptr && bytes >= old_bytes && bytes < old_bytes + data->length;
  size_t offset = inside ? static_cast<size_t>(bytes - old_bytes) : 0;
  if (!ReserveBytes(data, total)) return false;
  if (inside) bytes = data->bytes + offset;
  std::memmove(data->bytes + data->length, bytes, static_cast<size_t>(length));
  data->length = total;
  return true;
}

Boolean CFDataSetLength(CFMutableDataRef theData, CFIndex length) {
  MutableData *data = CheckedMutableData(theData, "CFDataSetLength");
  if (length < 0) Fatal("CFDataSetLength", "negative length");
  if (length > data->length) {
    if (!ReserveBytes(data, length)) return false;
    std::memset(data->bytes + data->length, 0, static_cast<size_t>(length - data->length));
  }
  data->length = length;
  return true;
}
