// CFPropertyListCreateXMLData: the XML text of a property list.
//
// Strings are written as UTF-8 with &, < and > escaped, and a carriage
// return as "&#13;" so that XML line-end normalisation in the reader does not
// turn it into a line feed. Characters that XML 1.0 cannot carry at all
// (most C0 controls, U+FFFE, U+FFFF, unpaired surrogates) make the writer
// fail, since any text written for them would not read back as the same
// string.
#include <array>
#include <cstring>

#include "platform/cf/allocator_vector.hpp"
#include "platform/cf/base64.hpp"
#include "platform/cf/cf.h"
#include "platform/cf/iso8601_date.hpp"
#include "platform/cf/number_text.hpp"
#include "platform/cf/property_list_kind.hpp"

namespace tolvan {
namespace {

constexpr char kDocumentStart[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Tolvan//DTD PLIST 1.0//EN\" "
    "\"http://www.tolvan.invalid/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr char kDocumentEnd[] = "</plist>\n";

// How each byte of a string's UTF-8 is written.
enum ByteClass : uint8_t {
  kCopy,
  kEscape,     // & < > and carriage return get a reference
  kForbidden,  // C0 controls XML 1.0 has no place for
  kCheckEF,    // the lead byte of U+FFFE and U+FFFF
};

constexpr std::array<uint8_t, 256> MakeByteClasses() {
  std::array<uint8_t, 256> classes{};
  for (unsigned c = 0; c < 0x20; ++c) classes[c] = kForbidden;
  classes['\t'] = kCopy;
  classes['\n'] = kCopy;
  classes['\r'] = kEscape;
  classes['&'] = kEscape;
  classes['<'] = kEscape;
  classes['>'] = kEscape;
  classes[0xEF] = kCheckEF;
  return classes;
}

constexpr std::array<uint8_t, 256> kByteClasses = MakeByteClasses();

const char *ReferenceFor(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    default:
      return "&#13;";
  }
}

// plistlib and the platform's own writer narrow base64 lines as the
// nesting deepens, keeping each indented line within 76 columns (a tab
// counted as 8) but never narrower than 16 characters.
size_t Base64BytesPerLine(int level) {
  const int columns = 76 - 8 * level;
  const int characters = columns < 16 ? 16 : columns;
  return static_cast<size_t>(characters / 4 * 3);
}

class XmlWriter {
  static constexpr size_t kInitialCapacity = 4096;

 public:
  explicit XmlWriter(CFAllocatorRef allocator) noexcept
      : allocator_(allocator), out_(allocator), utf8_(allocator), children_(allocator) {}

  bool WriteDocument(CFPropertyListRef root) noexcept {
    return out_.Reserve(kInitialCapacity) && Append(kDocumentStart) && WriteValue(root, 0) &&
           Append(kDocumentEnd);
  }

  CFDataRef TakeData() noexcept {
    const size_t length = out_.size();
    char *bytes = out_.Release();
    // Give back the slack of the last growth before the data object keeps
    // the block for its whole life.
    void *fitted = CFAllocatorReallocate(allocator_, bytes, static_cast<CFIndex>(length), 0);
    if (fitted != nullptr) bytes = static_cast<char *>(fitted);
    CFDataRef data = CFDataCreateWithBytesNoCopy(allocator_, reinterpret_cast<UInt8 *>(bytes),
                                                 static_cast<CFIndex>(length), allocator_);
    if (data == nullptr) CFAllocatorDeallocate(allocator_, bytes);
    return data;
  }

 private:
  // level counts the containers around the value (0 for the root); the
  // value itself is one level deeper when it is a container.
  bool WriteValue(CFTypeRef value, int level) noexcept {
    switch (kinds_.Of(value)) {
      case PropertyListKind::kString:
        return WriteString("string", static_cast<CFStringRef>(value), level);
      case PropertyListKind::kNumber:
        return WriteNumber(static_cast<CFNumberRef>(value), level);
      case PropertyListKind::kBoolean:
        return WriteIndent(level) &&
               Append(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "<true/>\n"
                                                                          : "<false/>\n");
      case PropertyListKind::kDate:
        return WriteDate(static_cast<CFDateRef>(value), level);
      case PropertyListKind::kData:
        return WriteData(static_cast<CFDataRef>(value), level);
      case PropertyListKind::kArray:
        return WriteArray(static_cast<CFArrayRef>(value), level);
      case PropertyListKind::kDictionary:
        return WriteDictionary(static_cast<CFDictionaryRef>(value), level);
      case PropertyListKind::kNotPropertyList:
        break;
    }
    return false;
  }

  bool WriteArray(CFArrayRef array, int level) noexcept {
    if (level >= kTolvanPropertyListMaxDepth) return false;
    const auto count = static_cast<size_t>(CFArrayGetCount(array));
    if (count == 0) return WriteIndent(level) && Append("<array/>\n");
    // The children sit on one shared stack; nested containers push above
    // them, so they are addressed by index, never by a kept pointer.
    const size_t base = children_.size();
    const void **slots = children_.Extend(count);
    if (slots == nullptr) return false;
    CFArrayGetValues(array, CFRangeMake(0, static_cast<CFIndex>(count)), slots);
    bool written = WriteIndent(level) && Append("<array>\n");
    for (size_t i = 0; written && i < count; ++i) {
      written = WriteValue(children_[base + i], level + 1);
    }
    children_.Truncate(base);
    return written && WriteIndent(level) && Append("</array>\n");
  }

  bool WriteDictionary(CFDictionaryRef dictionary, int level) noexcept {
    if (level >= kTolvanPropertyListMaxDepth) return false;
    const auto count = static_cast<size_t>(CFDictionaryGetCount(dictionary));
    if (count == 0) return WriteIndent(level) && Append("<dict/>\n");
    const size_t base = children_.size();
    const void **slots = children_.Extend(2 * count);
    if (slots == nullptr) return false;
    // String keys come out in ascending order of their UTF-16 units, which
    // is the order the format wants.
    CFDictionaryGetKeysAndValues(dictionary, slots, slots + count);
    bool written = WriteIndent(level) && Append("<dict>\n");
    for (size_t i = 0; written && i < count; ++i) {
      const void *key = children_[base + i];
      written = kinds_.Of(key) == PropertyListKind::kString &&
                WriteString("key", static_cast<CFStringRef>(key), level + 1) &&
                WriteValue(children_[base + count + i], level + 1);
    }
    children_.Truncate(base);
    return written && WriteIndent(level) && Append("</dict>\n");
  }

  bool WriteString(const char *tag, CFStringRef string, int level) noexcept {
    const char *utf8 = nullptr;
    size_t length = 0;
    return Utf8Of(string, &utf8, &length) && WriteIndent(level) && AppendTag("<", tag) &&
           AppendEscaped(utf8, length) && AppendTag("</", tag) && Append("\n");
  }

  // Compact ASCII strings lend their own storage; others are converted
  // into a scratch buffer that the next string reuses.
  bool Utf8Of(CFStringRef string, const char **utf8, size_t *length) noexcept {
    const CFIndex units = CFStringGetLength(string);
    if (const char *direct = CFStringGetCStringPtr(string, kCFStringEncodingUTF8)) {
      *utf8 = direct;
      *length = static_cast<size_t>(units);
      return true;
    }
    const CFIndex capacity = CFStringGetMaximumSizeForEncoding(units, kCFStringEncodingUTF8);
    utf8_.Truncate(0);
    if (capacity < 0 || !utf8_.Reserve(static_cast<size_t>(capacity) + 1)) return false;
    CFIndex used = 0;
    const CFIndex converted =
        CFStringGetBytes(string, CFRangeMake(0, units), kCFStringEncodingUTF8, 0, FALSE,
                         reinterpret_cast<UInt8 *>(utf8_.data()), capacity, &used);
    // An unpaired surrogate stops the conversion early.
    if (converted != units) return false;
    *utf8 = utf8_.data();
    *length = static_cast<size_t>(used);
    return true;
  }

  bool AppendEscaped(const char *text, size_t length) noexcept {
    size_t run_start = 0;
    for (size_t i = 0; i < length; ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      const uint8_t byte_class = kByteClasses[byte];
      if (byte_class == kCopy) continue;
      if (byte_class == kForbidden) return false;
      if (byte_class == kCheckEF) {
        // EF BF BE and EF BF BF are U+FFFE and U+FFFF.
        if (i + 2 < length && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
          return false;
        }
        continue;
      }
      if (!AppendBytes(text + run_start, i - run_start) || !Append(ReferenceFor(text[i]))) {
        return false;
      }
      run_start = i + 1;
    }
    return AppendBytes(text + run_start, length - run_start);
  }

  bool WriteNumber(CFNumberRef number, int level) noexcept {
    char text[kNumberTextCapacity];
    size_t length;
    const char *tag;
    if (CFNumberIsFloatType(number)) {
      double value = 0;
      CFNumberGetValue(number, kCFNumberFloat64Type, &value);
      length = FormatReal(value, text);
      tag = "real";
    } else {
      int64_t value = 0;
      CFNumberGetValue(number, kCFNumberSInt64Type, &value);
      length = FormatInteger(value, text);
      tag = "integer";
    }
    return WriteIndent(level) && AppendTag("<", tag) && AppendBytes(text, length) &&
           AppendTag("</", tag) && Append("\n");
  }

  bool WriteDate(CFDateRef date, int level) noexcept {
    char text[kIso8601DateLength];
    return FormatIso8601Date(CFDateGetAbsoluteTime(date), text) && WriteIndent(level) &&
           Append("<date>") && AppendBytes(text, sizeof text) && Append("</date>\n");
  }

  bool WriteData(CFDataRef data, int level) noexcept {
    const UInt8 *bytes = CFDataGetBytePtr(data);
    const auto length = static_cast<size_t>(CFDataGetLength(data));
    const size_t per_line = Base64BytesPerLine(level);
    if (!WriteIndent(level) || !Append("<data>\n")) return false;
    for (size_t done = 0; done < length; done += per_line) {
      const size_t chunk = length - done < per_line ? length - done : per_line;
      if (!WriteIndent(level)) return false;
      char *line = out_.Extend(Base64EncodedLength(chunk) + 1);
      if (line == nullptr) return false;
      Base64Encode(bytes + done, chunk, line);
      line[Base64EncodedLength(chunk)] = '\n';
    }
    return WriteIndent(level) && Append("</data>\n");
  }

  bool WriteIndent(int level) noexcept {
    char *tabs = out_.Extend(static_cast<size_t>(level));
    if (tabs == nullptr) return false;
    std::memset(tabs, '\t', static_cast<size_t>(level));
    return true;
  }

  bool AppendTag(const char *opening, const char *tag) noexcept {
    return Append(opening) && Append(tag) && Append(">");
  }

  bool Append(const char *text) noexcept { return AppendBytes(text, std::strlen(text)); }

  bool AppendBytes(const char *bytes, size_t length) noexcept { return out_.Append(bytes, length); }

  CFAllocatorRef allocator_;
  PropertyListKinds kinds_;
  AllocatorVector<char> out_;
  AllocatorVector<char> utf8_;
  AllocatorVector<const void *> children_;
};

}  // namespace
}  // namespace tolvan

extern "C" CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef allocator,
                                                 CFPropertyListRef propertyList) {
  if (allocator == kCFAllocatorDefault) allocator = CFAllocatorGetDefault();
  tolvan::XmlWriter writer(allocator);
  if (!writer.WriteDocument(propertyList)) return nullptr;
  return writer.TakeData();
}
