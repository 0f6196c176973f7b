// UTF-8 scanning and decoding. Reading property lists is mostly making
// strings from UTF-8 bytes, so ASCII runs are skipped a word at a time and
// validation counts the UTF-16 length in the same pass.
#include <cstring>

#include "platform/cf/string.hpp"

namespace tolvan::cf {
namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of a valid sequence starting at bytes[0] (non-ASCII lead), or 0.
size_t SequenceLength(const unsigned char *bytes, size_t available, uint32_t *code) {
  unsigned char lead = bytes[0];
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (available < 2 || !IsContinuation(bytes[1])) return 0;
    *code = (uint32_t{lead} & 0x1F) << 6 | (bytes[1] & 0x3F);
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (available < 3 || !IsContinuation(bytes[1]) || !IsContinuation(bytes[2])) return 0;
    if (lead == 0xE0 && bytes[1] < 0xA0) return 0;   // overlong
    if (lead == 0xED && bytes[1] >= 0xA0) return 0;  // surrogate
    *code = (uint32_t{lead} & 0x0F) << 12 | (uint32_t{bytes[1]} & 0x3F) << 6 | (bytes[2] & 0x3F);
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (available < 4 || !IsContinuation(bytes[1]) || !IsContinuation(bytes[2]) ||
        !IsContinuation(bytes[3])) {
      return 0;
    }
    if (lead == 0xF0 && bytes[1] < 0x90) return 0;   // overlong
    if (lead == 0xF4 && bytes[1] >= 0x90) return 0;  // past U+10FFFF
    *code = (uint32_t{lead} & 0x07) << 18 | (uint32_t{bytes[1]} & 0x3F) << 12 |
            (uint32_t{bytes[2]} & 0x3F) << 6 | (bytes[3] & 0x3F);
    return 4;
  }
  return 0;
}

template <typename Unit>
void Decode(const unsigned char *bytes, size_t count, Unit *out) {
  size_t i = 0;
  while (i < count) {
    unsigned char byte = bytes[i];
    if (byte < 0x80) {
      *out++ = byte;
      ++i;
      continue;
    }
    uint32_t code = 0;
    i += SequenceLength(bytes + i, count - i, &code);
    if (code >= 0x10000) {
      code -= 0x10000;
      *out++ = static_cast<Unit>(0xD800 + (code >> 10));
      *out++ = static_cast<Unit>(0xDC00 + (code & 0x3FF));
    } else {
      *out++ = static_cast<Unit>(code);
    }
  }
}

}  // namespace

size_t ASCIIPrefix(const unsigned char *bytes, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if ((word & kHighBits) != 0) break;
  }
  while (i < count && bytes[i] < 0x80) ++i;
  return i;
}

bool ScanUTF8(const unsigned char *bytes, size_t count, UTF8Scan *scan) {
  CFIndex units = 0;
  uint32_t max_code = 0;
  size_t i = 0;
  while (i < count) {
    size_t run = ASCIIPrefix(bytes + i, count - i);
    if (run != 0) {
      if (max_code < 0x7F) max_code = 0x7F;
      units += static_cast<CFIndex>(run);
      i += run;
      continue;
    }
    uint32_t code = 0;
    size_t length = SequenceLength(bytes + i, count - i, &code);
    if (length == 0) return false;
    units += code >= 0x10000 ? 2 : 1;
    if (code > max_code) max_code = code;
    i += length;
  }
  scan->units = units;
  scan->max_code = max_code;
  return true;
}

void DecodeUTF8ToLatin1(const unsigned char *bytes, size_t count, unsigned char *out) {
  Decode(bytes, count, out);
}

void DecodeUTF8ToUnits(const unsigned char *bytes, size_t count, UniChar *out) {
  Decode(bytes, count, out);
}

bool StringBuffer::AppendUTF8Lossy(CFAllocatorRef allocator, const unsigned char *bytes,
                                   CFIndex count) {
  static const UniChar kReplacement = 0xFFFD;
  StringBuffer added;
  bool ok = true;
  size_t i = 0;
  size_t total = static_cast<size_t>(count);
  while (ok && i < total) {
    size_t run = ASCIIPrefix(bytes + i, total - i);
    if (run != 0) {
      ok = added.AppendLatin1(allocator, bytes + i, static_cast<CFIndex>(run));
      i += run;
      continue;
    }
    uint32_t code = 0;
    size_t sequence = SequenceLength(bytes + i, total - i, &code);
    if (sequence == 0) {
      ok = added.AppendUnits(allocator, &kReplacement, 1);
      ++i;
      continue;
    }
    UniChar units[2];
    Decode(bytes + i, sequence, units);
    ok = added.AppendUnits(allocator, units, code >= 0x10000 ? 2 : 1);
    i += sequence;
  }
  ok = ok && AppendView(allocator, added.view());
  added.Clear(allocator);
  return ok;
}

}  // namespace tolvan::cf
