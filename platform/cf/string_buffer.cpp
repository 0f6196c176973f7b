// Growable string storage, the builder made of it, and mutable strings.
#include <cstring>

#include "platform/cf/string.hpp"

namespace tolvan::cf {
namespace {

bool AllLatin1(const UniChar *units, CFIndex count) {
  for (CFIndex i = 0; i < count; ++i) {
    if (units[i] > 0xFF) return false;
  }
  return true;
}

bool AllASCII(const unsigned char *bytes, CFIndex count) {
  return ASCIIPrefix(bytes, static_cast<size_t>(count)) == static_cast<size_t>(count);
}

}  // namespace

bool StringBuffer::Reserve(CFAllocatorRef allocator, CFIndex extra, bool need_wide) {
  CFIndex needed;
  if (__builtin_add_overflow(length, extra, &needed)) return false;
  bool to_wide = need_wide && !wide;
  if (needed <= capacity && !to_wide) return true;
  CFIndex new_capacity = capacity;
  if (needed > new_capacity) {
    new_capacity = capacity + capacity / 2;
    if (new_capacity < needed) new_capacity = needed;
    if (new_capacity < 16) new_capacity = 16;
  }
  size_t unit = (wide || to_wide) ? sizeof(UniChar) : 1;
  size_t bytes;
  if (!SizeFor(unit, static_cast<size_t>(new_capacity), unit, &bytes)) return false;
  if (!to_wide) {
    size_t old_bytes = data != nullptr ? (static_cast<size_t>(capacity) + 1) * unit : 0;
    void *grown = Reallocate(allocator, data, old_bytes, bytes);
    if (grown == nullptr) return false;
    data = static_cast<unsigned char *>(grown);
    capacity = new_capacity;
    return true;
  }
  auto *widened = static_cast<UniChar *>(Allocate(allocator, bytes));
  if (widened == nullptr) return false;
  for (CFIndex i = 0; i < length; ++i) widened[i] = data[i];
  widened[length] = 0;
  Deallocate(allocator, data);
  data = reinterpret_cast<unsigned char *>(widened);
  capacity = new_capacity;
  wide = true;
  return true;
}

bool StringBuffer::AppendLatin1(CFAllocatorRef allocator, const unsigned char *bytes,
                                CFIndex count) {
  if (count == 0) return true;
  if (!Reserve(allocator, count, false)) return false;
  if (wide) {
    auto *out = reinterpret_cast<UniChar *>(data) + length;
    for (CFIndex i = 0; i < count; ++i) out[i] = bytes[i];
    out[count] = 0;
  } else {
    std::memcpy(data + length, bytes, static_cast<size_t>(count));
    data[length + count] = 0;
    ascii = ascii && AllASCII(bytes, count);
  }
  length += count;
  return true;
}

bool StringBuffer::AppendUnits(CFAllocatorRef allocator, const UniChar *units, CFIndex count) {
  if (count == 0) return true;
  bool latin1 = !wide && AllLatin1(units, count);
  if (!Reserve(allocator, count, !latin1)) return false;
  if (wide) {
    auto *out = reinterpret_cast<UniChar *>(data) + length;
    std::memcpy(out, units, static_cast<size_t>(count) * sizeof(UniChar));
    out[count] = 0;
  } else {
    for (CFIndex i = 0; i < count; ++i) {
      data[length + i] = static_cast<unsigned char>(units[i]);
      if (units[i] >= 0x80) ascii = false;
    }
    data[length + count] = 0;
  }
  length += count;
  return true;
}

bool StringBuffer::AppendView(CFAllocatorRef allocator, StringView text) {
  return text.wide ? AppendUnits(allocator, text.units(), text.length)
                   : AppendLatin1(allocator, text.bytes(), text.length);
}

void StringBuffer::Clear(CFAllocatorRef allocator) {
  Deallocate(allocator, data);
  *this = StringBuffer();
}

bool StringBuilder::AppendASCII(const char *text) {
  return AppendLatin1(reinterpret_cast<const unsigned char *>(text),
                      static_cast<CFIndex>(std::strlen(text)));
}

bool StringBuilder::AppendString(CFStringRef string) {
  return AppendView(ViewOf(string, "CFStringAppend"));
}

CFStringRef StringBuilder::Copy() const {
  if (failed_) return nullptr;
  return CreateStringFromView(allocator_, buffer_.view());
}

}  // namespace tolvan::cf

using namespace tolvan::cf;

namespace {

MutableString *CheckedMutableString(CFMutableStringRef string, const char *function) {
  return static_cast<MutableString *>(CheckedMutable<TolvanCFString>(string, kStringTypeID,
                                                                      function));
}

CFAllocatorRef BufferAllocator(const MutableString *string) {
  return AllocatorOf(&string->header);
}

}  // namespace

// maxLength is a capacity hint here: mutable strings grow as needed.
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength) {
  if (maxLength < 0) Fatal("CFStringCreateMutable", "negative capacity");
  auto *string = Create<MutableString>(alloc, kStringTypeID, sizeof(MutableString), kMutable);
  if (string == nullptr) return nullptr;
  string->length = 0;
  new (&string->buffer) StringBuffer();
  return string;
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength,
                                             CFStringRef theString) {
  StringView text = ViewOf(theString, "CFStringCreateMutableCopy");
  CFMutableStringRef copy = CFStringCreateMutable(alloc, maxLength);
  if (copy == nullptr) return nullptr;
  auto *string = static_cast<MutableString *>(copy);
  if (!string->buffer.AppendView(BufferAllocator(string), text)) {
    CFRelease(copy);
    return nullptr;
  }
  return copy;
}

Boolean CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) {
  MutableString *string = CheckedMutableString(theString, "CFStringAppend");
  StringView text = ViewOf(appendedString, "CFStringAppend");
  if (appendedString == theString) {
    // Growing the buffer would move the characters being copied.
    CFStringRef copy = CreateStringFromView(BufferAllocator(string), text);
    if (copy == nullptr) return false;
    bool ok = string->buffer.AppendView(BufferAllocator(string), ViewOf(copy, "CFStringAppend"));
    CFRelease(copy);
    return ok;
  }
  return string->buffer.AppendView(BufferAllocator(string), text);
}

Boolean CFStringAppendCharacters(CFMutableStringRef theString, const UniChar *chars,
                                 CFIndex numChars) {
  MutableString *string = CheckedMutableString(theString, "CFStringAppendCharacters");
  if (numChars < 0 || (chars == nullptr && numChars > 0)) {
    Fatal("CFStringAppendCharacters", "bad character buffer");
  }
  return string->buffer.AppendUnits(BufferAllocator(string), chars, numChars);
}

Boolean CFStringAppendCString(CFMutableStringRef theString, const char *cStr,
                              CFStringEncoding encoding) {
  MutableString *string = CheckedMutableString(theString, "CFStringAppendCString");
  if (cStr == nullptr) Fatal("CFStringAppendCString", "null C string");
  CFStringRef appended = CFStringCreateWithCString(BufferAllocator(string), cStr, encoding);
  if (appended == nullptr) return false;
  bool ok = string->buffer.AppendView(BufferAllocator(string), ViewOf(appended, "CFStringAppend"));
  CFRelease(appended);
  return ok;
}

namespace tolvan::cf {

void FinalizeString(Object *object) {
  if ((object->flags & kMutable) == 0) return;
  auto *string = reinterpret_cast<MutableString *>(object);
  string->buffer.Clear(AllocatorOf(object));
}

}  // namespace tolvan::cf
