#include "platform/cf/base64.hpp"

#include <array>

#include "platform/cf/xml_chars.hpp"

namespace tolvan {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

enum : uint8_t { kWhitespace = 64, kPadding = 65, kInvalid = 66 };

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> table{};
  for (auto &entry : table) entry = kInvalid;
  for (uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  for (unsigned c : {' ', '\t', '\n', '\r'}) table[c] = kWhitespace;
  table['='] = kPadding;
  return table;
}

constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

void Base64Encode(const uint8_t *bytes, size_t length, char *out) {
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    *out++ = kAlphabet[group >> 18];
    *out++ = kAlphabet[(group >> 12) & 63];
    *out++ = kAlphabet[(group >> 6) & 63];
    *out++ = kAlphabet[group & 63];
  }
  if (i == length) return;
  const bool two = length - i == 2;
  const uint32_t group = (uint32_t{bytes[i]} << 16) | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
  *out++ = kAlphabet[group >> 18];
  *out++ = kAlphabet[(group >> 12) & 63];
  *out++ = two ? kAlphabet[(group >> 6) & 63] : '=';
  *out++ = '=';
}

bool Base64Decode(const char *text, size_t length, uint8_t *out, size_t *out_length) {
  uint32_t group = 0;
  int filled = 0;   // sextets in the current group
  int padding = 0;  // '=' seen; once non-zero only '=' or whitespace may follow
  uint8_t *p = out;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t code = kDecode[static_cast<unsigned char>(text[i])];
    if (code == kWhitespace) continue;
    if (code == kInvalid) return false;
    if (code == kPadding) {
      // "xx==" and "xxx=" are the only padded groups.
      if (filled + padding < 2 || filled + padding >= 4) return false;
      ++padding;
      continue;
    }
    if (padding != 0) return false;
    group = (group << 6) | code;
    if (++filled == 4) {
      *p++ = static_cast<uint8_t>(group >> 16);
      *p++ = static_cast<uint8_t>(group >> 8);
      *p++ = static_cast<uint8_t>(group);
      group = 0;
      filled = 0;
    }
  }
  if (padding != 0) {
    if (filled + padding != 4) return false;
    group <<= 6 * padding;
    *p++ = static_cast<uint8_t>(group >> 16);
    if (filled == 3) *p++ = static_cast<uint8_t>(group >> 8);
  } else if (filled != 0) {
    return false;
  }
  *out_length = static_cast<size_t>(p - out);
  return true;
}

}  // namespace tolvan
