// String internals shared by the string files, the format engine and the
// descriptions.
//
// An immutable string is one block: the header, a 32-bit length, then the
// characters and a terminating NUL unit. Storage is compact (one byte a
// character) when every character is at most U+00FF, UTF-16 otherwise. A
// mutable string keeps its characters in a separate growable buffer with
// the same two storage forms; compact buffers are NUL-terminated too, so
// CFStringGetCStringPtr can hand them out.
#ifndef TOLVAN_PLATFORM_CF_STRING_HPP
#define TOLVAN_PLATFORM_CF_STRING_HPP

#include <cstddef>
#include <cstdint>

#include "platform/cf/cf_string.h"
#include "platform/cf/object.hpp"

struct TolvanCFString {
  tolvan::cf::Object header;
  uint32_t length;  // immutable strings only
};

namespace tolvan::cf {

enum : uint16_t {
  kStringWide = 1,   // UTF-16 storage (immutable strings)
  kStringASCII = 2,  // compact storage holding only ASCII (immutable strings)
};

// The characters of a string, whatever its storage.
struct StringView {
  const void *chars = nullptr;
  CFIndex length = 0;
  bool wide = false;
  bool ascii = false;

  const unsigned char *bytes() const { return static_cast<const unsigned char *>(chars); }
  const UniChar *units() const { return static_cast<const UniChar *>(chars); }
  UniChar at(CFIndex index) const { return wide ? units()[index] : bytes()[index]; }
  StringView sub(CFIndex location, CFIndex count) const {
    StringView part = *this;
    part.chars = wide ? static_cast<const void *>(units() + location)
                      : static_cast<const void *>(bytes() + location);
    part.length = count;
    return part;
  }
};

// Growable storage of a mutable string or of a string being built.
struct StringBuffer {
  unsigned char *data = nullptr;  // bytes or UniChars, see wide
  CFIndex length = 0;
  CFIndex capacity = 0;  // in characters, excluding the NUL unit
  bool wide = false;
  bool ascii = true;

  StringView view() const {
    static const unsigned char kEmpty[1] = {0};
    return {data != nullptr ? data : kEmpty, length, wide, ascii && !wide};
  }
  // All appends leave the buffer unchanged and answer false when memory
  // runs out.
  bool AppendView(CFAllocatorRef allocator, StringView text);
  bool AppendLatin1(CFAllocatorRef allocator, const unsigned char *bytes, CFIndex count);
  bool AppendUnits(CFAllocatorRef allocator, const UniChar *units, CFIndex count);
  // Invalid sequences become U+FFFD.
  bool AppendUTF8Lossy(CFAllocatorRef allocator, const unsigned char *bytes, CFIndex count);
  void Clear(CFAllocatorRef allocator);

 private:
  bool Reserve(CFAllocatorRef allocator, CFIndex extra, bool need_wide);
};

struct MutableString : TolvanCFString {
  StringBuffer buffer;
};

// Builds a string piece by piece; the first failure sticks, so callers check
// once at the end.
class StringBuilder {
 public:
  explicit StringBuilder(CFAllocatorRef allocator) : allocator_(ResolveAllocator(allocator)) {}
  ~StringBuilder() { buffer_.Clear(allocator_); }
  StringBuilder(const StringBuilder &) = delete;
  StringBuilder &operator=(const StringBuilder &) = delete;

  bool AppendView(StringView text) { return Keep(buffer_.AppendView(allocator_, text)); }
  bool AppendLatin1(const unsigned char *bytes, CFIndex count) {
    return Keep(buffer_.AppendLatin1(allocator_, bytes, count));
  }
  bool AppendASCII(const char *text);
  bool AppendUnits(const UniChar *units, CFIndex count) {
    return Keep(buffer_.AppendUnits(allocator_, units, count));
  }
  bool AppendUTF8Lossy(const char *bytes, CFIndex count) {
    return Keep(buffer_.AppendUTF8Lossy(allocator_, reinterpret_cast<const unsigned char *>(bytes),
                                        count));
  }
  bool AppendString(CFStringRef string);
  void Fail() { failed_ = true; }
  bool failed() const { return failed_; }
  StringView view() const { return buffer_.view(); }
  // An immutable string with the content; null after any failure.
  CFStringRef Copy() const;

 private:
  bool Keep(bool ok) {
    if (!ok) failed_ = true;
    return !failed_;
  }
  CFAllocatorRef allocator_;
  StringBuffer buffer_;
  bool failed_ = false;
};

inline unsigned char *InlineChars(TolvanCFString *string) {
  return reinterpret_cast<unsigned char *>(string) + sizeof(TolvanCFString);
}
inline const unsigned char *InlineChars(const TolvanCFString *string) {
  return reinterpret_cast<const unsigned char *>(string) + sizeof(TolvanCFString);
}
// An immutable string with room for length characters and the NUL unit,
// which is already written; the caller fills in the characters.
TolvanCFString *AllocateString(CFAllocatorRef allocator, CFIndex length, bool wide, bool ascii);

// The characters of any string; aborts on a null or non-string reference.
inline StringView ViewOf(CFStringRef string, const char *function) {
  const TolvanCFString *checked = Checked<TolvanCFString>(string, kStringTypeID, function);
  if ((checked->header.flags & kMutable) != 0) {
    return static_cast<const MutableString *>(checked)->buffer.view();
  }
  uint16_t bits = checked->header.bits;
  return {InlineChars(checked), static_cast<CFIndex>(checked->length), (bits & kStringWide) != 0,
          (bits & kStringASCII) != 0};
}

// Immutable strings from characters already known to be valid.
CFStringRef CreateStringFromView(CFAllocatorRef allocator, StringView text);
CFStringRef CreateStringFromLatin1(CFAllocatorRef allocator, const unsigned char *bytes,
                                   CFIndex count);
CFStringRef CreateStringFromUnits(CFAllocatorRef allocator, const UniChar *units, CFIndex count);

// UTF-8. Validation refuses overlong forms, surrogates, values past U+10FFFF
// and truncated sequences.
struct UTF8Scan {
  CFIndex units = 0;       // UTF-16 units the text decodes to
  uint32_t max_code = 0;   // largest code point
};
bool ScanUTF8(const unsigned char *bytes, size_t count, UTF8Scan *scan);
// Length of the leading run of ASCII bytes.
size_t ASCIIPrefix(const unsigned char *bytes, size_t count);
// Decodes text that ScanUTF8 accepted.
void DecodeUTF8ToLatin1(const unsigned char *bytes, size_t count, unsigned char *out);
void DecodeUTF8ToUnits(const unsigned char *bytes, size_t count, UniChar *out);
CFStringRef CreateStringFromUTF8(CFAllocatorRef allocator, const unsigned char *bytes,
                                 size_t count);

int CompareViews(StringView a, StringView b);
bool EqualViews(StringView a, StringView b);
CFHashCode HashView(StringView text);

}  // namespace tolvan::cf

#endif
