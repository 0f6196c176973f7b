#include "platform/cf/xml_chars.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tolvan {
namespace {

constexpr uint64_t kOnes = ~uint64_t{0} / 255;

// True when all eight bytes are printable ASCII (0x20..0x7F), which is what
// most of a property list is; such words need no closer look.
inline bool IsPlainAsciiWord(uint64_t word) {
  uint64_t below_space = (word - kOnes * 0x20) & ~word;
  return ((below_space | word) & (kOnes * 0x80)) == 0;
}

// Decodes one multi-byte sequence starting at bytes[0] (a byte >= 0x80);
// answers its length, or 0 when it is malformed or not an XML character.
size_t MultiByteSequenceLength(const uint8_t *bytes, size_t available) {
  const uint8_t lead = bytes[0];
  size_t length;
  uint32_t code_point;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (available < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (bytes[i] & 0x3F);
  }
  if (code_point < minimum || !IsXmlChar(code_point)) return 0;
  return length;
}

// The length of the leading run of 16-byte blocks that hold only ASCII
// characters XML allows (printable ASCII, tab, line feed, carriage return):
// most of any property list, tabs and line ends included.
size_t SkipPlainAsciiBlocks(const uint8_t *bytes, size_t length) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i line_feed = _mm_set1_epi8('\n');
  const __m128i carriage_return = _mm_set1_epi8('\r');
  for (; length - i >= 16; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
    // Signed comparison: bytes >= 0x80 count as below 0x20 too, which is
    // what we want, since they need the careful path.
    const __m128i unusual = _mm_cmplt_epi8(block, space);
    const __m128i allowed =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, tab), _mm_cmpeq_epi8(block, line_feed)),
                     _mm_cmpeq_epi8(block, carriage_return));
    if (_mm_movemask_epi8(_mm_andnot_si128(allowed, unusual)) != 0) break;
  }
#else
  (void)bytes;
  (void)length;
#endif
  return i;
}

}  // namespace

size_t FindInvalidXmlText(const uint8_t *bytes, size_t length) {
  size_t i = 0;
  while (i < length) {
    i += SkipPlainAsciiBlocks(bytes + i, length - i);
    if (i == length) break;
    if (length - i >= 8) {
      uint64_t word;
      std::memcpy(&word, bytes + i, sizeof word);
      if (IsPlainAsciiWord(word)) {
        i += 8;
        continue;
      }
    }
    const uint8_t c = bytes[i];
    if (c < 0x80) {
      if (c < 0x20 && !IsXmlChar(c)) return i;
      ++i;
      continue;
    }
    const size_t sequence = MultiByteSequenceLength(bytes + i, length - i);
    if (sequence == 0) return i;
    i += sequence;
  }
  return length;
}

size_t EncodeUtf8(uint32_t code_point, char *out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

}  // namespace tolvan
