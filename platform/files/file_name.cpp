// The name rule: a name is one component, so nothing in it can move the
// operation to another folder.
#include "platform/files/file_name.hpp"

#include <string.h>

#include <cstring>

#include "platform/cf/xml_chars.hpp"

namespace tolvan::files {
namespace {

bool IsHighSurrogate(UniChar unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(UniChar unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool IsDotName(const FileName &name) {
  return (name.length == 1 && name.bytes[0] == '.') ||
         (name.length == 2 && name.bytes[0] == '.' && name.bytes[1] == '.');
}

}  // namespace

OSStatus MakeFileName(const UniChar *name, UniCharCount length, FileName *out) {
  if (name == nullptr || length == 0 || length > kMaxNameUnits) return paramErr;
  size_t used = 0;
  for (UniCharCount i = 0; i < length; ++i) {
    uint32_t code = name[i];
    if (code == 0 || code == '/' || IsLowSurrogate(name[i])) return paramErr;
    if (IsHighSurrogate(name[i])) {
      if (i + 1 == length || !IsLowSurrogate(name[i + 1])) return paramErr;
      code = 0x10000 + ((code - 0xD800) << 10) + (name[i + 1] - 0xDC00u);
      ++i;
    }
    used += EncodeUtf8(code, out->bytes + used);  // a pair: 2 units, 4 bytes
  }
  out->bytes[used] = '\0';
  out->length = used;
  return IsDotName(*out) ? paramErr : noErr;
}

OSStatus JoinPath(const FSRef &parent, const FileName &name, FSRef *child) {
  size_t parent_length = strnlen(parent.path, sizeof parent.path);
  if (parent_length == 0 || parent_length == sizeof parent.path) return paramErr;
  bool slash = parent.path[parent_length - 1] != '/';
  size_t total = parent_length + (slash ? 1 : 0) + name.length;
  if (total >= sizeof child->path) return paramErr;
  FSRef joined;
  std::memcpy(joined.path, parent.path, parent_length);
  if (slash) joined.path[parent_length] = '/';
  std::memcpy(joined.path + total - name.length, name.bytes, name.length + 1);
  *child = joined;
  return noErr;
}

}  // namespace tolvan::files
