// Reading and writing the fixed-offset fields of the records and forms that
// only this machine reads back: native byte order, no alignment assumed.
#ifndef TOLVAN_PLATFORM_AUTH_NATIVE_FIELDS_HPP
#define TOLVAN_PLATFORM_AUTH_NATIVE_FIELDS_HPP

#include <cstddef>
#include <cstring>

namespace tolvan::auth {

template <typename Value>
void PutField(unsigned char *bytes, size_t offset, Value value) noexcept {
  std::memcpy(bytes + offset, &value, sizeof value);
}

template <typename Value>
Value GetField(const unsigned char *bytes, size_t offset) noexcept {
  Value value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

}  // namespace tolvan::auth

#endif
