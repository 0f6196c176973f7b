// Immutable strings: creation from characters, copies, substrings, and
// character access. Encoded bytes in and out live in string_encoding.cpp.
#include <sys/auxv.h>

#include <cstring>

#include "platform/cf/string.hpp"

namespace tolvan::cf {
namespace {

static_assert(sizeof(TolvanCFString) == 12);

}  // namespace

TolvanCFString *AllocateString(CFAllocatorRef allocator, CFIndex length, bool wide, bool ascii) {
  if (length < 0 || static_cast<uint64_t>(length) >= UINT32_MAX) return nullptr;
  size_t unit = wide ? sizeof(UniChar) : 1;
  size_t size;
  if (!SizeFor(sizeof(TolvanCFString) + unit, static_cast<size_t>(length), unit, &size)) {
    return nullptr;
  }
  auto *string = Create<TolvanCFString>(allocator, kStringTypeID, size);
  if (string == nullptr) return nullptr;
  string->header.bits = wide ? kStringWide : (ascii ? kStringASCII : 0);
  string->length = static_cast<uint32_t>(length);
  std::memset(InlineChars(string) + static_cast<size_t>(length) * unit, 0, unit);
  return string;
}

namespace {

CFStringRef CreateCompact(CFAllocatorRef allocator, const unsigned char *bytes, CFIndex count,
                          bool ascii) {
  TolvanCFString *string = AllocateString(allocator, count, false, ascii);
  if (string == nullptr) return nullptr;
  if (count != 0) std::memcpy(InlineChars(string), bytes, static_cast<size_t>(count));
  return string;
}

bool AllLatin1(const UniChar *units, CFIndex count) {
  for (CFIndex i = 0; i < count; ++i) {
    if (units[i] > 0xFF) return false;
  }
  return true;
}

uint64_t HashSeed() {
  static const uint64_t seed = [] {
    uint64_t value = 0x9E3779B97F4A7C15ULL;
    // The kernel's per-exec random bytes: keys an attacker chooses cannot be
    // made to collide without knowing them.
    if (const void *random = reinterpret_cast<const void *>(getauxval(AT_RANDOM))) {
      std::memcpy(&value, random, sizeof value);
    }
    return value;
  }();
  return seed;
}

uint64_t FourUnits(StringView text, CFIndex at) {
  if (text.wide) {
    const UniChar *u = text.units() + at;
    return uint64_t{u[0]} | uint64_t{u[1]} << 16 | uint64_t{u[2]} << 32 | uint64_t{u[3]} << 48;
  }
  const unsigned char *b = text.bytes() + at;
  return uint64_t{b[0]} | uint64_t{b[1]} << 16 | uint64_t{b[2]} << 32 | uint64_t{b[3]} << 48;
}

bool NeedsQuotes(StringView text) {
  if (text.length == 0) return true;
  for (CFIndex i = 0; i < text.length; ++i) {
    UniChar c = text.at(i);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '-' || c == '.' || c == '/' || c == ':' || c >= 0x80;
    if (!plain) return true;
  }
  return false;
}

bool DescribeQuoted(StringView text, StringBuilder &out) {
  out.AppendASCII("\"");
  CFIndex run_start = 0;
  for (CFIndex i = 0; i < text.length; ++i) {
    UniChar c = text.at(i);
    const char *escape = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\n"
                       : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
    if (escape == nullptr) continue;
    out.AppendView(text.sub(run_start, i - run_start));
    out.AppendASCII(escape);
    run_start = i + 1;
  }
  out.AppendView(text.sub(run_start, text.length - run_start));
  return out.AppendASCII("\"");
}

bool EqualStrings(const Object *a, const Object *b, int) {
  return EqualViews(ViewOf(reinterpret_cast<CFStringRef>(a), "CFEqual"),
                    ViewOf(reinterpret_cast<CFStringRef>(b), "CFEqual"));
}

CFHashCode HashString(const Object *object) {
  return HashView(ViewOf(reinterpret_cast<CFStringRef>(object), "CFHash"));
}

}  // namespace

void FinalizeString(Object *object);

bool DescribeString(const Object *object, StringBuilder &out, int depth) {
  StringView text = ViewOf(reinterpret_cast<CFStringRef>(object), "CFCopyDescription");
  // Nested strings (depth > 0) are quoted when a reader could not tell
  // where they end.
  if (depth > 0 && NeedsQuotes(text)) return DescribeQuoted(text, out);
  return out.AppendView(text);
}

int CompareStrings(const Object *a, const Object *b, int) {
  return CompareViews(ViewOf(reinterpret_cast<CFStringRef>(a), "CFDictionary"),
                      ViewOf(reinterpret_cast<CFStringRef>(b), "CFDictionary"));
}

const Class kStringClass = {"CFString", FinalizeString, EqualStrings, CompareStrings, HashString,
                            DescribeString};

CFStringRef CreateStringFromLatin1(CFAllocatorRef allocator, const unsigned char *bytes,
                                   CFIndex count) {
  bool ascii = ASCIIPrefix(bytes, static_cast<size_t>(count)) == static_cast<size_t>(count);
  return CreateCompact(allocator, bytes, count, ascii);
}

CFStringRef CreateStringFromUnits(CFAllocatorRef allocator, const UniChar *units, CFIndex count) {
  if (AllLatin1(units, count)) {
    TolvanCFString *string = AllocateString(allocator, count, false, true);
    if (string == nullptr) return nullptr;
    unsigned char *out = InlineChars(string);
    bool ascii = true;
    for (CFIndex i = 0; i < count; ++i) {
      out[i] = static_cast<unsigned char>(units[i]);
      ascii = ascii && units[i] < 0x80;
    }
    if (!ascii) string->header.bits = 0;
    return string;
  }
  TolvanCFString *string = AllocateString(allocator, count, true, false);
  if (string == nullptr) return nullptr;
  std::memcpy(InlineChars(string), units, static_cast<size_t>(count) * sizeof(UniChar));
  return string;
}

CFStringRef CreateStringFromView(CFAllocatorRef allocator, StringView text) {
  if (!text.wide) return CreateCompact(allocator, text.bytes(), text.length, text.ascii);
  return CreateStringFromUnits(allocator, text.units(), text.length);
}

CFStringRef CreateStringFromUTF8(CFAllocatorRef allocator, const unsigned char *bytes,
                                 size_t count) {
  size_t prefix = ASCIIPrefix(bytes, count);
  if (prefix == count) {
    if (count >= UINT32_MAX) return nullptr;
    return CreateCompact(allocator, bytes, static_cast<CFIndex>(count), true);
  }
  UTF8Scan scan;
  if (!ScanUTF8(bytes + prefix, count - prefix, &scan)) return nullptr;
  CFIndex length = static_cast<CFIndex>(prefix) + scan.units;
  bool wide = scan.max_code > 0xFF;
  TolvanCFString *string = AllocateString(allocator, length, wide, false);
  if (string == nullptr) return nullptr;
  if (wide) {
    auto *out = reinterpret_cast<UniChar *>(InlineChars(string));
    for (size_t i = 0; i < prefix; ++i) out[i] = bytes[i];
    DecodeUTF8ToUnits(bytes + prefix, count - prefix, out + prefix);
  } else {
    unsigned char *out = InlineChars(string);
    std::memcpy(out, bytes, prefix);
    DecodeUTF8ToLatin1(bytes + prefix, count - prefix, out + prefix);
  }
  return string;
}

int CompareViews(StringView a, StringView b) {
  CFIndex common = a.length < b.length ? a.length : b.length;
  if (!a.wide && !b.wide) {
    int order = common != 0 ? std::memcmp(a.bytes(), b.bytes(), static_cast<size_t>(common)) : 0;
    if (order != 0) return order < 0 ? -1 : 1;
  } else {
    for (CFIndex i = 0; i < common; ++i) {
      UniChar x = a.at(i), y = b.at(i);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
}

bool EqualViews(StringView a, StringView b) {
  if (a.length != b.length) return false;
  if (a.wide == b.wide) {
    size_t unit = a.wide ? sizeof(UniChar) : 1;
    return a.length == 0 || std::memcmp(a.chars, b.chars, static_cast<size_t>(a.length) * unit) == 0;
  }
  // Storage is canonical for immutable strings, but a mutable string that
  // once held a wide character stays wide.
  for (CFIndex i = 0; i < a.length; ++i) {
    if (a.at(i) != b.at(i)) return false;
  }
  return true;
}

// Hashes UTF-16 units four at a time, the same for both storage forms.
CFHashCode HashView(StringView text) {
  uint64_t hash = HashSeed() ^ static_cast<uint64_t>(text.length);
  CFIndex i = 0;
  for (; i + 4 <= text.length; i += 4) {
    hash = (hash ^ FourUnits(text, i)) * 0x9E3779B97F4A7C15ULL;
    hash ^= hash >> 32;
  }
  uint64_t tail = 0;
  for (int shift = 0; i < text.length; ++i, shift += 16) tail |= uint64_t{text.at(i)} << shift;
  return MixHash(hash ^ tail);
}

}  // namespace tolvan::cf

using namespace tolvan::cf;

CFTypeID CFStringGetTypeID(void) { return kStringTypeID; }

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars,
                                         CFIndex numChars) {
  if (numChars < 0 || (chars == nullptr && numChars > 0)) {
    Fatal("CFStringCreateWithCharacters", "bad character buffer");
  }
  return CreateStringFromUnits(alloc, chars, numChars);
}

CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString) {
  StringView text = ViewOf(theString, "CFStringCreateCopy");
  const Object *header = Header(theString);
  bool immutable = (header->flags & kMutable) == 0;
  if (immutable && ((header->flags & kImmortal) != 0 ||
                    AllocatorOf(header) == ResolveAllocator(alloc))) {
    return static_cast<CFStringRef>(CFRetain(theString));
  }
  return CreateStringFromView(alloc, text);
}

CFStringRef CFStringCreateWithSubstring(CFAllocatorRef alloc, CFStringRef str, CFRange range) {
  StringView text = ViewOf(str, "CFStringCreateWithSubstring");
  CheckRange(range, text.length, "CFStringCreateWithSubstring");
  return CreateStringFromView(alloc, text.sub(range.location, range.length));
}

CFIndex CFStringGetLength(CFStringRef theString) {
  return ViewOf(theString, "CFStringGetLength").length;
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) {
  StringView text = ViewOf(theString, "CFStringGetCharacterAtIndex");
  if (idx < 0 || idx >= text.length) Fatal("CFStringGetCharacterAtIndex", "index out of bounds");
  return text.at(idx);
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer) {
  StringView text = ViewOf(theString, "CFStringGetCharacters");
  CheckRange(range, text.length, "CFStringGetCharacters");
  if (range.length == 0) return;
  if (buffer == nullptr) Fatal("CFStringGetCharacters", "null buffer");
  StringView part = text.sub(range.location, range.length);
  if (part.wide) {
    std::memcpy(buffer, part.units(), static_cast<size_t>(part.length) * sizeof(UniChar));
  } else {
    for (CFIndex i = 0; i < part.length; ++i) buffer[i] = part.bytes()[i];
  }
}
