// Strings from encoded bytes and back: ASCII, ISO Latin 1, Mac Roman, UTF-8,
// UTF-16 and UTF-32 in both byte orders.
#include <climits>
#include <cstring>

#include "platform/cf/string.hpp"

namespace tolvan::cf {
namespace {

// Mac Roman bytes 0x80..0xFF.
constexpr UniChar kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4,
    0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF,
    0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020,
    0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4,
    0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202,
    0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1,
    0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3,
    0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A,
    0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC,
    0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF,
    0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

enum class Family { kASCII, kLatin1, kMacRoman, kUTF8, kUTF16, kUTF32, kUnknown };

struct Encoding {
  Family family = Family::kUnknown;
  bool big_endian = true;
  bool generic = false;  // UTF-16 or UTF-32 without a stated byte order
};

Encoding Classify(CFStringEncoding encoding) {
  switch (encoding) {
    case kCFStringEncodingASCII: return {Family::kASCII};
    case kCFStringEncodingISOLatin1: return {Family::kLatin1};
    case kCFStringEncodingMacRoman: return {Family::kMacRoman};
    case kCFStringEncodingUTF8: return {Family::kUTF8};
    case kCFStringEncodingUTF16: return {Family::kUTF16, true, true};
    case kCFStringEncodingUTF16BE: return {Family::kUTF16, true, false};
    case kCFStringEncodingUTF16LE: return {Family::kUTF16, false, false};
    case kCFStringEncodingUTF32: return {Family::kUTF32, true, true};
    case kCFStringEncodingUTF32BE: return {Family::kUTF32, true, false};
    case kCFStringEncodingUTF32LE: return {Family::kUTF32, false, false};
    default: return {};
  }
}

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

uint32_t ReadWord(const UInt8 *bytes, size_t width, bool big_endian) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value |= uint32_t{bytes[big_endian ? i : width - 1 - i]} << (8 * (width - 1 - i));
  }
  return value;
}

void WriteWord(UInt8 *out, uint32_t value, size_t width, bool big_endian) {
  for (size_t i = 0; i < width; ++i) {
    auto byte = static_cast<UInt8>(value >> (8 * (width - 1 - i)));
    out[big_endian ? i : width - 1 - i] = byte;
  }
}

// Makes a string of count units produced by unit(i), choosing the storage
// from the largest unit.
template <typename UnitAt>
CFStringRef CreateFromUnitSource(CFAllocatorRef allocator, CFIndex count, UnitAt unit) {
  uint32_t largest = 0;
  for (CFIndex i = 0; i < count; ++i) largest |= unit(i);
  bool wide = largest > 0xFF;
  TolvanCFString *string = AllocateString(allocator, count, wide, largest < 0x80);
  if (string == nullptr) return nullptr;
  if (wide) {
    auto *out = reinterpret_cast<UniChar *>(InlineChars(string));
    for (CFIndex i = 0; i < count; ++i) out[i] = static_cast<UniChar>(unit(i));
  } else {
    unsigned char *out = InlineChars(string);
    for (CFIndex i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(unit(i));
  }
  return string;
}

CFStringRef CreateFromMacRoman(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex count) {
  return CreateFromUnitSource(allocator, count, [bytes](CFIndex i) -> uint32_t {
    return bytes[i] < 0x80 ? bytes[i] : kMacRomanHigh[bytes[i] - 0x80];
  });
}

CFStringRef CreateFromUTF16(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex count,
                            bool big_endian) {
  if (count % 2 != 0) return nullptr;
  return CreateFromUnitSource(allocator, count / 2, [bytes, big_endian](CFIndex i) {
    return ReadWord(bytes + 2 * i, 2, big_endian);
  });
}

CFStringRef CreateFromUTF32(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex count,
                            bool big_endian) {
  if (count % 4 != 0) return nullptr;
  CFIndex words = count / 4;
  CFIndex units = 0;
  for (CFIndex i = 0; i < words; ++i) {
    uint32_t code = ReadWord(bytes + 4 * i, 4, big_endian);
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return nullptr;
    units += code >= 0x10000 ? 2 : 1;
  }
  // Unit i of the UTF-16 form, walking the words in step with the units.
  CFIndex word = 0, unit_of_word = 0;
  auto unit_at = [&](CFIndex i) -> uint32_t {
    if (i == 0) word = unit_of_word = 0;
    uint32_t code = ReadWord(bytes + 4 * word, 4, big_endian);
    uint32_t unit;
    if (code < 0x10000) {
      unit = code;
      ++word;
    } else if (unit_of_word == 0) {
      unit = 0xD800 + ((code - 0x10000) >> 10);
      unit_of_word = 1;
    } else {
      unit = 0xDC00 + ((code - 0x10000) & 0x3FF);
      unit_of_word = 0;
      ++word;
    }
    return unit;
  };
  return CreateFromUnitSource(allocator, units, unit_at);
}

// Honours and drops a byte-order mark of a UTF-16 or UTF-32 external
// representation; without one, the text is big-endian.
bool TakeByteOrderMark(const UInt8 **bytes, CFIndex *count, size_t width, bool *big_endian) {
  if (*count < static_cast<CFIndex>(width)) return false;
  uint32_t mark_be = ReadWord(*bytes, width, true);
  uint32_t mark_le = ReadWord(*bytes, width, false);
  if (mark_be != 0xFEFF && mark_le != 0xFEFF) return false;
  *big_endian = mark_be == 0xFEFF;
  *bytes += width;
  *count -= static_cast<CFIndex>(width);
  return true;
}

int MacRomanByte(UniChar unit) {
  if (unit < 0x80) return unit;
  for (int i = 0; i < 128; ++i) {
    if (kMacRomanHigh[i] == unit) return 0x80 + i;
  }
  return -1;
}

// One step of the conversion: the bytes for the character at index, how
// many units it takes (2 for a surrogate pair), or 0 bytes when the
// encoding cannot represent it.
struct Step {
  UInt8 bytes[4];
  int length = 0;
  int consumed = 1;
};

Step Encode(const Encoding &encoding, StringView text, CFIndex index, CFIndex end) {
  Step step;
  uint32_t unit = text.at(index);
  switch (encoding.family) {
    case Family::kASCII:
      if (unit < 0x80) step.bytes[step.length++] = static_cast<UInt8>(unit);
      break;
    case Family::kLatin1:
      if (unit <= 0xFF) step.bytes[step.length++] = static_cast<UInt8>(unit);
      break;
    case Family::kMacRoman: {
      int byte = MacRomanByte(static_cast<UniChar>(unit));
      if (byte >= 0) step.bytes[step.length++] = static_cast<UInt8>(byte);
      break;
    }
    case Family::kUTF16:
      WriteWord(step.bytes, unit, 2, encoding.big_endian);
      step.length = 2;
      break;
    case Family::kUTF8:
    case Family::kUTF32: {
      uint32_t code = unit;
      if (IsHighSurrogate(unit) && index + 1 < end && IsLowSurrogate(text.at(index + 1))) {
        code = 0x10000 + ((unit - 0xD800) << 10) + (text.at(index + 1) - 0xDC00);
        step.consumed = 2;
      } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
        break;  // a lone surrogate has no scalar value to encode
      }
      if (encoding.family == Family::kUTF32) {
        WriteWord(step.bytes, code, 4, encoding.big_endian);
        step.length = 4;
      } else if (code < 0x80) {
        step.bytes[step.length++] = static_cast<UInt8>(code);
      } else if (code < 0x800) {
        step.bytes[step.length++] = static_cast<UInt8>(0xC0 | (code >> 6));
        step.bytes[step.length++] = static_cast<UInt8>(0x80 | (code & 0x3F));
      } else if (code < 0x10000) {
        step.bytes[step.length++] = static_cast<UInt8>(0xE0 | (code >> 12));
        step.bytes[step.length++] = static_cast<UInt8>(0x80 | ((code >> 6) & 0x3F));
        step.bytes[step.length++] = static_cast<UInt8>(0x80 | (code & 0x3F));
      } else {
        step.bytes[step.length++] = static_cast<UInt8>(0xF0 | (code >> 18));
        step.bytes[step.length++] = static_cast<UInt8>(0x80 | ((code >> 12) & 0x3F));
        step.bytes[step.length++] = static_cast<UInt8>(0x80 | ((code >> 6) & 0x3F));
        step.bytes[step.length++] = static_cast<UInt8>(0x80 | (code & 0x3F));
      }
      break;
    }
    case Family::kUnknown:
      break;
  }
  if (step.length == 0) step.consumed = 1;
  return step;
}

// The stand-in for an unrepresentable character: the loss byte, as a whole
// unit in the wide encodings.
Step LossStep(const Encoding &encoding, UInt8 loss_byte) {
  Step step;
  size_t width = encoding.family == Family::kUTF16 ? 2 : encoding.family == Family::kUTF32 ? 4 : 1;
  WriteWord(step.bytes, loss_byte, width, encoding.big_endian);
  step.length = static_cast<int>(width);
  return step;
}

// UTF-8 is what writers ask for; this loop avoids the general one's
// per-character dispatch. Same protocol as CFStringGetBytes.
template <typename Unit>
CFIndex ConvertToUTF8(const Unit *chars, CFIndex count, UInt8 loss_byte, UInt8 *buffer,
                      CFIndex capacity, CFIndex *used_bytes) {
  CFIndex used = 0, i = 0;
  while (i < count) {
    if constexpr (sizeof(Unit) == 1) {
      size_t run = ASCIIPrefix(chars + i, static_cast<size_t>(count - i));
      if (run != 0) {
        auto take = static_cast<CFIndex>(run);
        if (buffer != nullptr) {
          if (take > capacity - used) take = capacity - used;
          std::memcpy(buffer + used, chars + i, static_cast<size_t>(take));
        }
        used += take;
        i += take;
        if (take != static_cast<CFIndex>(run)) break;
        continue;
      }
    }
    uint32_t code = chars[i];
    int consumed = 1;
    UInt8 bytes[4];
    int length;
    if (code < 0x80) {
      bytes[0] = static_cast<UInt8>(code);
      length = 1;
    } else if (code < 0x800) {
      bytes[0] = static_cast<UInt8>(0xC0 | (code >> 6));
      bytes[1] = static_cast<UInt8>(0x80 | (code & 0x3F));
      length = 2;
    } else if (!IsHighSurrogate(code) && !IsLowSurrogate(code)) {
      bytes[0] = static_cast<UInt8>(0xE0 | (code >> 12));
      bytes[1] = static_cast<UInt8>(0x80 | ((code >> 6) & 0x3F));
      bytes[2] = static_cast<UInt8>(0x80 | (code & 0x3F));
      length = 3;
    } else if (IsHighSurrogate(code) && i + 1 < count && IsLowSurrogate(chars[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (chars[i + 1] - 0xDC00);
      bytes[0] = static_cast<UInt8>(0xF0 | (code >> 18));
      bytes[1] = static_cast<UInt8>(0x80 | ((code >> 12) & 0x3F));
      bytes[2] = static_cast<UInt8>(0x80 | ((code >> 6) & 0x3F));
      bytes[3] = static_cast<UInt8>(0x80 | (code & 0x3F));
      length = 4;
      consumed = 2;
    } else {
      if (loss_byte == 0) break;  // a lone surrogate has no UTF-8 form
      bytes[0] = loss_byte;
      length = 1;
    }
    if (buffer != nullptr) {
      if (length > capacity - used) break;
      std::memcpy(buffer + used, bytes, static_cast<size_t>(length));
    }
    used += length;
    i += consumed;
  }
  *used_bytes = used;
  return i;
}

bool CompactBytesPassThrough(const Encoding &encoding, StringView text) {
  if (text.wide) return false;
  if (encoding.family == Family::kLatin1) return true;
  return text.ascii && (encoding.family == Family::kASCII || encoding.family == Family::kUTF8 ||
                        encoding.family == Family::kMacRoman);
}

}  // namespace
}  // namespace tolvan::cf

using namespace tolvan::cf;

CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
  if (numBytes < 0 || (bytes == nullptr && numBytes > 0)) {
    Fatal("CFStringCreateWithBytes", "bad byte buffer");
  }
  static const UInt8 kNoBytes[1] = {0};
  if (bytes == nullptr) bytes = kNoBytes;
  Encoding kind = Classify(encoding);
  size_t count = static_cast<size_t>(numBytes);
  switch (kind.family) {
    case Family::kUTF8:
      return CreateStringFromUTF8(alloc, bytes, count);
    case Family::kASCII:
      if (ASCIIPrefix(bytes, count) != count) return nullptr;
      return CreateStringFromLatin1(alloc, bytes, numBytes);
    case Family::kLatin1:
      return CreateStringFromLatin1(alloc, bytes, numBytes);
    case Family::kMacRoman:
      return CreateFromMacRoman(alloc, bytes, numBytes);
    case Family::kUTF16:
    case Family::kUTF32: {
      size_t width = kind.family == Family::kUTF16 ? 2 : 4;
      bool big_endian = kind.big_endian;
      if (kind.generic && isExternalRepresentation) {
        TakeByteOrderMark(&bytes, &numBytes, width, &big_endian);
      }
      return width == 2 ? CreateFromUTF16(alloc, bytes, numBytes, big_endian)
                        : CreateFromUTF32(alloc, bytes, numBytes, big_endian);
    }
    case Family::kUnknown:
      break;
  }
  return nullptr;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr,
                                      CFStringEncoding encoding) {
  if (cStr == nullptr) Fatal("CFStringCreateWithCString", "null C string");
  return CFStringCreateWithBytes(alloc, reinterpret_cast<const UInt8 *>(cStr),
                                 static_cast<CFIndex>(std::strlen(cStr)), encoding, false);
}

CFStringRef CFStringCreateWithFileSystemRepresentation(CFAllocatorRef alloc, const char *buffer) {
  return CFStringCreateWithCString(alloc, buffer, kCFStringEncodingUTF8);
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                         CFIndex maxBufLen, CFIndex *usedBufLen) {
  StringView text = ViewOf(theString, "CFStringGetBytes");
  CheckRange(range, text.length, "CFStringGetBytes");
  if (buffer != nullptr && maxBufLen < 0) Fatal("CFStringGetBytes", "negative buffer length");
  Encoding kind = Classify(encoding);
  CFIndex used = 0, converted = 0;
  auto fits = [&](CFIndex more) { return buffer == nullptr || more <= maxBufLen - used; };
  if (kind.family == Family::kUnknown) {
    if (usedBufLen != nullptr) *usedBufLen = 0;
    return 0;
  }
  if (CompactBytesPassThrough(kind, text)) {
    CFIndex count = range.length;
    if (buffer != nullptr) {
      if (count > maxBufLen) count = maxBufLen;
      if (count != 0) std::memcpy(buffer, text.bytes() + range.location, static_cast<size_t>(count));
    }
    if (usedBufLen != nullptr) *usedBufLen = count;
    return count;
  }
  if (kind.family == Family::kUTF8) {
    StringView part = text.sub(range.location, range.length);
    CFIndex used_bytes = 0;
    CFIndex count = part.wide ? ConvertToUTF8(part.units(), part.length, lossByte, buffer, maxBufLen, &used_bytes)
                              : ConvertToUTF8(part.bytes(), part.length, lossByte, buffer, maxBufLen, &used_bytes);
    if (usedBufLen != nullptr) *usedBufLen = used_bytes;
    return count;
  }
  if (isExternalRepresentation && kind.generic) {
    Step mark;
    mark.length = kind.family == Family::kUTF16 ? 2 : 4;
    WriteWord(mark.bytes, 0xFEFF, static_cast<size_t>(mark.length), kind.big_endian);
    if (!fits(mark.length)) {
      if (usedBufLen != nullptr) *usedBufLen = 0;
      return 0;
    }
    if (buffer != nullptr) std::memcpy(buffer, mark.bytes, static_cast<size_t>(mark.length));
    used = mark.length;
  }
  CFIndex end = range.location + range.length;
  for (CFIndex i = range.location; i < end;) {
    Step step = Encode(kind, text, i, end);
    if (step.length == 0) {
      if (lossByte == 0) break;
      step = LossStep(kind, lossByte);
    }
    if (!fits(step.length)) break;
    if (buffer != nullptr) std::memcpy(buffer + used, step.bytes, static_cast<size_t>(step.length));
    used += step.length;
    converted += step.consumed;
    i += step.consumed;
  }
  if (usedBufLen != nullptr) *usedBufLen = used;
  return converted;
}

Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
  StringView text = ViewOf(theString, "CFStringGetCString");
  if (buffer == nullptr || bufferSize <= 0) return false;
  CFIndex used = 0;
  CFIndex converted =
      CFStringGetBytes(theString, CFRangeMake(0, text.length), encoding, 0, false,
                       reinterpret_cast<UInt8 *>(buffer), bufferSize - 1, &used);
  buffer[used] = '\0';
  if (converted != text.length) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) {
  StringView text = ViewOf(theString, "CFStringGetCStringPtr");
  if (!CompactBytesPassThrough(Classify(encoding), text)) return nullptr;
  return reinterpret_cast<const char *>(text.bytes());
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  if (length < 0) return kCFNotFound;
  CFIndex per_unit;
  switch (Classify(encoding).family) {
    case Family::kASCII:
    case Family::kLatin1:
    case Family::kMacRoman: per_unit = 1; break;
    case Family::kUTF8: per_unit = 3; break;
    case Family::kUTF16: per_unit = 2; break;
    case Family::kUTF32: per_unit = 4; break;
    default: return kCFNotFound;
  }
  CFIndex size;
  if (__builtin_mul_overflow(length, per_unit, &size)) return kCFNotFound;
  return size;
}

CFIndex CFStringGetMaximumSizeOfFileSystemRepresentation(CFStringRef string) {
  CFIndex size = CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8);
  if (size == kCFNotFound || size == LONG_MAX) return kCFNotFound;
  return size + 1;
}

// A path must not carry a NUL character: the C string would name another
// file than the string does.
Boolean CFStringGetFileSystemRepresentation(CFStringRef string, char *buffer, CFIndex maxBufLen) {
  StringView text = ViewOf(string, "CFStringGetFileSystemRepresentation");
  for (CFIndex i = 0; i < text.length; ++i) {
    if (text.at(i) == 0) return false;
  }
  return CFStringGetCString(string, buffer, maxBufLen, kCFStringEncodingUTF8);
}
