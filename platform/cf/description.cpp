// Descriptions of container members, shared by arrays and dictionaries.
#include <cstdio>

#include "platform/cf/callbacks.hpp"
#include "platform/cf/string.hpp"

namespace tolvan::cf {

void AppendIndent(StringBuilder &out, int depth) {
  static const unsigned char kSpaces[] = "                                ";
  for (int i = 0; i < depth; ++i) out.AppendLatin1(kSpaces, 4);
}

void DescribeMember(StringBuilder &out, const void *value, bool typed,
                    CFStringRef (*copy_description)(const void *), int depth) {
  if (typed) {
    DescribeInto(value, out, depth);
    return;
  }
  if (copy_description != nullptr) {
    if (CFStringRef text = copy_description(value)) {
      out.AppendString(text);
      CFRelease(text);
      return;
    }
  }
  char text[32];
  int length = std::snprintf(text, sizeof text, "<%p>", value);
  out.AppendLatin1(reinterpret_cast<const unsigned char *>(text), length);
}

}  // namespace tolvan::cf
