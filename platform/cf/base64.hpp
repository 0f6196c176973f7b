// Base64 (RFC 4648 alphabet, with padding) for the <data> element.
#ifndef TOLVAN_PLATFORM_CF_BASE64_HPP
#define TOLVAN_PLATFORM_CF_BASE64_HPP

#include <cstddef>
#include <cstdint>

namespace tolvan {

constexpr size_t Base64EncodedLength(size_t byte_count) { return (byte_count + 2) / 3 * 4; }

// Writes Base64EncodedLength(length) characters, no line breaks.
void Base64Encode(const uint8_t *bytes, size_t length, char *out);

// An upper bound of what Base64Decode writes for a text of that length.
constexpr size_t Base64DecodedCapacity(size_t text_length) { return text_length / 4 * 3 + 3; }

// Decodes text in which XML whitespace may appear anywhere (writers break
// lines and indent them). Padding is required to complete the last group,
// and nothing but whitespace may follow it. False on any other character.
bool Base64Decode(const char *text, size_t length, uint8_t *out, size_t *out_length);

}  // namespace tolvan

#endif
