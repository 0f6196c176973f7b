// Character classes of XML 1.0 shared by the property-list reader and
// writer.
#ifndef TOLVAN_PLATFORM_CF_XML_CHARS_HPP
#define TOLVAN_PLATFORM_CF_XML_CHARS_HPP

#include <cstddef>
#include <cstdint>

namespace tolvan {

constexpr bool IsXmlWhitespace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The Char production: what a document may hold, literally or through a
// character reference. Most C0 controls, the surrogates, U+FFFE and U+FFFF
// are not characters of XML 1.0.
constexpr bool IsXmlChar(uint32_t code_point) {
  if (code_point < 0x20) return code_point == '\t' || code_point == '\n' || code_point == '\r';
  if (code_point < 0xD800) return true;
  if (code_point < 0xE000) return false;
  if (code_point < 0x10000) return code_point <= 0xFFFD;
  return code_point <= 0x10FFFF;
}

inline void TrimXmlWhitespace(const char *&text, size_t &length) {
  while (length > 0 && IsXmlWhitespace(static_cast<unsigned char>(text[0]))) {
    ++text;
    --length;
  }
  while (length > 0 && IsXmlWhitespace(static_cast<unsigned char>(text[length - 1]))) --length;
}

// For the words of the format that other writers spell in either case
// ("UTF-8", "NaN", "Infinity").
inline bool EqualsIgnoringAsciiCase(const char *text, size_t length, const char *word) {
  size_t i = 0;
  for (; i < length; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (word[i] == '\0' || c != word[i]) return false;
  }
  return word[i] == '\0';
}

// The offset of the first byte that is not part of well-formed UTF-8
// encoding an XML character (NUL bytes, overlong forms and surrogates
// included), or length when every byte is.
size_t FindInvalidXmlText(const uint8_t *bytes, size_t length);

// Writes the UTF-8 form of an XML character (at most 4 bytes) and answers
// its length.
size_t EncodeUtf8(uint32_t code_point, char *out);

}  // namespace tolvan

#endif
