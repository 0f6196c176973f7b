// CFPropertyListCreateFromXMLData: reads the XML text of a property list.
//
// The reader works on the caller's bytes in place and keeps no recursion:
// open containers live on an explicit stack bounded by
// kTolvanPropertyListMaxDepth, and the values of the open containers on two
// flat stacks (keys and values), from which each container is built in one
// call when it closes. Everything a conforming writer may put around the
// values is accepted (a byte-order mark, the XML declaration, comments,
// processing instructions, a DOCTYPE without internal subset, CDATA,
// character and predefined entity references); anything else, including
// duplicate dictionary keys, makes the whole document fail.
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/cf/allocator_vector.hpp"
#include "platform/cf/base64.hpp"
#include "platform/cf/cf.h"
#include "platform/cf/iso8601_date.hpp"
#include "platform/cf/number_text.hpp"
#include "platform/cf/xml_chars.hpp"

namespace tolvan {
namespace {

// The one reason that says "not malformed, only short of memory": callers
// that must not mistake a good document for a bad one ask for it through
// TolvanPropertyListErrorIsOutOfMemory.
constexpr char kOutOfMemoryReason[] = "out of memory";

enum class Element : uint8_t {
  kPlist,
  kDict,
  kKey,
  kArray,
  kString,
  kInteger,
  kReal,
  kTrue,
  kFalse,
  kDate,
  kData,
  kUnknown
};

struct ElementName {
  const char *name;
  size_t length;
  Element element;
};

constexpr ElementName kElementNames[] = {
    {"plist", 5, Element::kPlist},     {"dict", 4, Element::kDict},
    {"key", 3, Element::kKey},         {"array", 5, Element::kArray},
    {"string", 6, Element::kString},   {"integer", 7, Element::kInteger},
    {"real", 4, Element::kReal},       {"true", 4, Element::kTrue},
    {"false", 5, Element::kFalse},     {"date", 4, Element::kDate},
    {"data", 4, Element::kData},
};

Element LookUpElement(const char *name, size_t length) {
  for (const ElementName &entry : kElementNames) {
    if (entry.length == length && std::memcmp(entry.name, name, length) == 0) {
      return entry.element;
    }
  }
  return Element::kUnknown;
}

// Every name is at most 7 bytes, so one 8-byte load of the input, masked
// to a name's length, tells whether the name stands there.
struct NameWord {
  uint64_t pattern;
  uint64_t mask;
  size_t length;
  Element element;
};

constexpr uint64_t ByteAt(size_t index, unsigned char value) {
  const size_t shift = std::endian::native == std::endian::little ? 8 * index : 8 * (7 - index);
  return uint64_t{value} << shift;
}

constexpr std::array<NameWord, std::size(kElementNames)> MakeNameWords() {
  std::array<NameWord, std::size(kElementNames)> words{};
  for (size_t i = 0; i < words.size(); ++i) {
    const ElementName &entry = kElementNames[i];
    words[i].length = entry.length;
    words[i].element = entry.element;
    for (size_t j = 0; j < entry.length; ++j) {
      words[i].pattern |= ByteAt(j, static_cast<unsigned char>(entry.name[j]));
      words[i].mask |= ByteAt(j, 0xFF);
    }
  }
  return words;
}

constexpr auto kNameWords = MakeNameWords();

// How the text scanner treats each byte inside a leaf element.
enum TextClass : uint8_t { kPlainAscii, kNonAscii, kMarkup };

constexpr std::array<uint8_t, 256> MakeTextClasses() {
  std::array<uint8_t, 256> classes{};
  for (unsigned c = 0x80; c < 0x100; ++c) classes[c] = kNonAscii;
  classes['<'] = kMarkup;
  classes['&'] = kMarkup;
  classes['\r'] = kMarkup;  // line ends are normalised, which needs a copy
  return classes;
}

constexpr std::array<uint8_t, 256> kTextClasses = MakeTextClasses();

constexpr std::array<bool, 256> MakeNameBytes() {
  std::array<bool, 256> name_bytes{};
  for (unsigned c = 0; c < 256; ++c) {
    name_bytes[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == ':' || c == '.' || c == '-' || c >= 0x80;
  }
  return name_bytes;
}

constexpr std::array<bool, 256> kNameBytes = MakeNameBytes();

// A piece of character data: either a slice of the input or the reader's
// scratch buffer, valid until the next piece is read.
struct Text {
  const char *bytes;
  size_t length;
  bool ascii;
};

struct Frame {
  Element element;
  size_t first_value;
  size_t first_key;
};

// Owned references on a stack; whatever is left is released at the end.
class ReferenceStack {
 public:
  explicit ReferenceStack(CFAllocatorRef allocator) noexcept : refs_(allocator) {}
  ~ReferenceStack() { ReleaseFrom(0); }
  ReferenceStack(const ReferenceStack &) = delete;
  ReferenceStack &operator=(const ReferenceStack &) = delete;

  size_t size() const noexcept { return refs_.size(); }
  const void **at(size_t index) noexcept { return refs_.data() + index; }

  // Takes over the reference, or releases it when there is no room.
  [[nodiscard]] bool Push(CFTypeRef ref) noexcept {
    if (refs_.PushBack(ref)) return true;
    CFRelease(ref);
    return false;
  }

  void ReleaseFrom(size_t index) noexcept {
    for (size_t i = index; i < refs_.size(); ++i) CFRelease(refs_[i]);
    refs_.Truncate(index);
  }

  // Hands the references from index on to the caller without releasing
  // them.
  void ForgetFrom(size_t index) noexcept { refs_.Truncate(index); }

 private:
  AllocatorVector<const void *> refs_;
};

class XmlReader {
 public:
  XmlReader(CFAllocatorRef allocator, const UInt8 *bytes, size_t length,
            CFOptionFlags mutability) noexcept
      : allocator_(allocator),
        begin_(reinterpret_cast<const char *>(bytes)),
        p_(begin_),
        end_(begin_ + length),
        mutable_containers_(mutability == kCFPropertyListMutableContainers ||
                            mutability == kCFPropertyListMutableContainersAndLeaves),
        mutable_leaves_(mutability == kCFPropertyListMutableContainersAndLeaves),
        keys_(allocator),
        values_(allocator),
        scratch_(allocator),
        decoded_(allocator) {}

  CFPropertyListRef Parse() noexcept {
    const size_t invalid = FindInvalidXmlText(reinterpret_cast<const uint8_t *>(begin_),
                                              static_cast<size_t>(end_ - begin_));
    if (invalid != static_cast<size_t>(end_ - begin_)) {
      p_ = begin_ + invalid;
      Fail("invalid UTF-8, or a character XML does not allow");
      return nullptr;
    }
    if (!ReadProlog() || !ReadRootStart() || !ReadBody() || !ReadEpilog()) return nullptr;
    CFPropertyListRef root = *values_.at(0);
    values_.ForgetFrom(0);
    return root;
  }

  // A description of the first failure, for the optional error string.
  CFStringRef CopyErrorDescription() const noexcept {
    size_t line = 1;
    for (const char *c = begin_; c < p_ && c < end_; ++c) line += *c == '\n';
    char text[160];
    std::snprintf(text, sizeof text, "XML property list: %s (line %zu)",
                  error_ != nullptr ? error_ : "unreadable", line);
    return CFStringCreateWithCString(allocator_, text, kCFStringEncodingUTF8);
  }

 private:
  // ---- failure -----------------------------------------------------------

  bool Fail(const char *why) noexcept {
    if (error_ == nullptr) error_ = why;
    return false;
  }
  bool OutOfMemory() noexcept { return Fail(kOutOfMemoryReason); }

  // ---- scanning ----------------------------------------------------------

  size_t Left() const noexcept { return static_cast<size_t>(end_ - p_); }

  template <size_t N>
  bool LooksAt(const char (&literal)[N]) const noexcept {
    return Left() >= N - 1 && std::memcmp(p_, literal, N - 1) == 0;
  }

  template <size_t N>
  bool Consume(const char (&literal)[N]) noexcept {
    if (!LooksAt(literal)) return false;
    p_ += N - 1;
    return true;
  }

  void SkipWhitespace() noexcept {
    while (p_ < end_ && IsXmlWhitespace(static_cast<unsigned char>(*p_))) ++p_;
  }

  // Moves past the next occurrence of the terminator.
  bool SkipPast(const char *terminator, const char *what) noexcept {
    const size_t length = std::strlen(terminator);
    const void *found = memmem(p_, Left(), terminator, length);
    if (found == nullptr) return Fail(what);
    p_ = static_cast<const char *>(found) + length;
    return true;
  }

  bool ReadName(const char **name, size_t *length) noexcept {
    const char *start = p_;
    while (p_ < end_ && kNameBytes[static_cast<unsigned char>(*p_)]) ++p_;
    if (p_ == start) return Fail("a name was expected");
    *name = start;
    *length = static_cast<size_t>(p_ - start);
    return true;
  }

  // An element name, looked up; the unknown ones come back as kUnknown.
  bool ReadElementName(Element *element) noexcept {
    if (Left() >= 8) {
      uint64_t word;
      std::memcpy(&word, p_, sizeof word);
      for (const NameWord &name : kNameWords) {
        if ((word & name.mask) == name.pattern &&
            !kNameBytes[static_cast<unsigned char>(p_[name.length])]) {
          p_ += name.length;
          *element = name.element;
          return true;
        }
      }
    }
    const char *name;
    size_t length;
    if (!ReadName(&name, &length)) return false;
    *element = LookUpElement(name, length);
    return true;
  }

  bool SkipQuoted() noexcept {
    if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return Fail("a quoted value was expected");
    const char quote = *p_++;
    const void *close = std::memchr(p_, quote, Left());
    if (close == nullptr) return Fail("unterminated quoted value");
    const char *value_end = static_cast<const char *>(close);
    if (std::memchr(p_, '<', static_cast<size_t>(value_end - p_)) != nullptr) {
      return Fail("'<' in a quoted value");
    }
    p_ = value_end + 1;
    return true;
  }

  // The caller has seen "<!--" (or "<?" below) at p_.
  bool SkipComment() noexcept {
    p_ += 4;
    return SkipPast("-->", "unterminated comment");
  }

  bool SkipProcessingInstruction() noexcept {
    p_ += 2;
    const char *target;
    size_t length;
    if (!ReadName(&target, &length)) return false;
    if (EqualsIgnoringAsciiCase(target, length, "xml")) {
      return Fail("an XML declaration that is not at the start");
    }
    return SkipPast("?>", "unterminated processing instruction");
  }

  // Whitespace, comments and processing instructions, which may stand
  // anywhere between elements.
  bool SkipMiscellany() noexcept {
    for (;;) {
      SkipWhitespace();
      if (LooksAt("<!--")) {
        if (!SkipComment()) return false;
      } else if (LooksAt("<?")) {
        if (!SkipProcessingInstruction()) return false;
      } else {
        return true;
      }
    }
  }

  // ---- prolog and epilog -------------------------------------------------

  bool ReadProlog() noexcept {
    Consume("\xEF\xBB\xBF");
    SkipWhitespace();
    if (LooksAt("<?xml") && Left() > 5 &&
        (IsXmlWhitespace(static_cast<unsigned char>(p_[5])) || p_[5] == '?')) {
      if (!ReadXmlDeclaration()) return false;
    }
    if (!SkipMiscellany()) return false;
    if (LooksAt("<!DOCTYPE")) {
      if (!ReadDoctype() || !SkipMiscellany()) return false;
    }
    return true;
  }

  struct Attribute {
    const char *name;
    size_t name_length;
    const char *value;
    size_t value_length;
  };

  // name = "value", in the XML declaration or a start tag.
  bool ReadAttribute(Attribute *attribute, const char *malformed) noexcept {
    if (!ReadName(&attribute->name, &attribute->name_length)) return Fail(malformed);
    SkipWhitespace();
    if (!Consume("=")) return Fail(malformed);
    SkipWhitespace();
    attribute->value = p_ + 1;
    if (!SkipQuoted()) return false;
    attribute->value_length = static_cast<size_t>(p_ - 1 - attribute->value);
    return true;
  }

  // Only the encoding matters: the reader knows UTF-8 and nothing else.
  bool ReadXmlDeclaration() noexcept {
    p_ += 5;
    for (;;) {
      SkipWhitespace();
      if (Consume("?>")) return true;
      Attribute attribute;
      if (!ReadAttribute(&attribute, "malformed XML declaration")) return false;
      if (EqualsIgnoringAsciiCase(attribute.name, attribute.name_length, "encoding") &&
          !EqualsIgnoringAsciiCase(attribute.value, attribute.value_length, "utf-8")) {
        return Fail("an encoding other than UTF-8");
      }
    }
  }

  // <!DOCTYPE name [SYSTEM "uri" | PUBLIC "id" "uri"]>; an internal subset
  // could declare entities, so it is refused outright.
  bool ReadDoctype() noexcept {
    p_ += 9;
    const char *name;
    size_t length;
    SkipWhitespace();
    if (!ReadName(&name, &length)) return false;
    for (;;) {
      SkipWhitespace();
      if (p_ == end_) return Fail("unterminated DOCTYPE");
      if (*p_ == '>') {
        ++p_;
        return true;
      }
      if (*p_ == '[') return Fail("a DOCTYPE with an internal subset");
      if (*p_ == '"' || *p_ == '\'') {
        if (!SkipQuoted()) return false;
        continue;
      }
      const char *word;
      size_t word_length;
      if (!ReadName(&word, &word_length)) return Fail("malformed DOCTYPE");
      if (!(word_length == 6 && (std::memcmp(word, "SYSTEM", 6) == 0 ||
                                 std::memcmp(word, "PUBLIC", 6) == 0))) {
        return Fail("malformed DOCTYPE");
      }
    }
  }

  bool ReadRootStart() noexcept {
    if (!Consume("<")) return Fail("no <plist> element");
    Element element;
    if (!ReadElementName(&element)) return false;
    if (element != Element::kPlist) return Fail("the root is not <plist>");
    // The version attribute is not checked: there has only ever been one.
    for (;;) {
      SkipWhitespace();
      if (Consume(">")) break;
      if (LooksAt("/>")) return Fail("an empty <plist>");
      Attribute attribute;
      if (!ReadAttribute(&attribute, "malformed <plist> tag")) return false;
    }
    return frames_.PushFrame({Element::kPlist, 0, 0});
  }

  bool ReadEpilog() noexcept {
    if (!SkipMiscellany()) return false;
    if (p_ != end_) return Fail("content after the property list");
    return true;
  }

  // ---- the element tree --------------------------------------------------

  bool ReadBody() noexcept {
    while (!frames_.empty()) {
      if (!SkipMiscellany()) return false;
      if (p_ == end_) return Fail("unexpected end of the document");
      if (*p_ != '<') return Fail("text where an element was expected");
      if (LooksAt("</")) {
        if (!ReadEndTag(frames_.top().element) || !CloseFrame()) return false;
        continue;
      }
      if (!ReadElement()) return false;
    }
    return true;
  }

  bool ReadElement() noexcept {
    ++p_;
    Element element;
    if (!ReadElementName(&element)) return false;
    if (element == Element::kUnknown) return Fail("an unknown element");
    if (element == Element::kPlist) return Fail("a nested <plist>");
    SkipWhitespace();
    bool empty = false;
    if (Consume("/>")) {
      empty = true;
    } else if (!Consume(">")) {
      return Fail("attributes on a value element");
    }
    if (element == Element::kKey) return ReadKey(empty);
    if (!CheckValueAllowed()) return false;
    if (element == Element::kDict || element == Element::kArray) {
      // The <plist> frame is not a level; the new container is one.
      if (frames_.size() > static_cast<size_t>(kTolvanPropertyListMaxDepth)) {
        return Fail("nesting deeper than the limit");
      }
      if (empty) return Push(CreateContainer(element, keys_.size(), values_.size()));
      return frames_.PushFrame({element, values_.size(), keys_.size()}) || OutOfMemory();
    }
    Text text{"", 0, true};
    if (!empty && !ReadText(element, &text)) return false;
    return ReadLeaf(element, text);
  }

  bool ReadEndTag(Element expected) noexcept {
    p_ += 2;
    Element element;
    if (!ReadElementName(&element)) return false;
    if (element != expected) return Fail("mismatched end tag");
    SkipWhitespace();
    if (!Consume(">")) return Fail("malformed end tag");
    return true;
  }

  bool CheckValueAllowed() noexcept {
    const Frame &frame = frames_.top();
    const size_t values = values_.size() - frame.first_value;
    switch (frame.element) {
      case Element::kPlist:
        if (values != 0) return Fail("more than one root value");
        return true;
      case Element::kDict:
        if (keys_.size() - frame.first_key != values + 1) return Fail("a dictionary value without a key");
        return true;
      default:
        return true;
    }
  }

  bool ReadKey(bool empty) noexcept {
    const Frame &frame = frames_.top();
    if (frame.element != Element::kDict) return Fail("a <key> outside a dictionary");
    if (keys_.size() - frame.first_key != values_.size() - frame.first_value) {
      return Fail("a <key> where a value was expected");
    }
    Text text{"", 0, true};
    if (!empty && !ReadText(Element::kKey, &text)) return false;
    CFStringRef key = CreateImmutableString(text);
    if (key == nullptr) return OutOfMemory();
    if (!keys_.Push(key)) return OutOfMemory();
    return true;
  }

  bool CloseFrame() noexcept {
    const Frame frame = frames_.top();
    frames_.Pop();
    const size_t values = values_.size() - frame.first_value;
    if (frame.element == Element::kPlist) {
      if (values != 1) return Fail("no value in <plist>");
      return true;
    }
    if (frame.element == Element::kDict && keys_.size() - frame.first_key != values) {
      return Fail("a dictionary key without a value");
    }
    CFTypeRef container = CreateContainer(frame.element, frame.first_key, frame.first_value);
    if (container == nullptr) return false;
    keys_.ReleaseFrom(frame.first_key);
    values_.ReleaseFrom(frame.first_value);
    return Push(container);
  }

  // ---- building objects --------------------------------------------------

  bool Push(CFTypeRef value) noexcept {
    if (value == nullptr) return false;
    return values_.Push(value) || OutOfMemory();
  }

  CFTypeRef CreateContainer(Element element, size_t first_key, size_t first_value) noexcept {
    const auto count = static_cast<CFIndex>(values_.size() - first_value);
    CFTypeRef container = element == Element::kArray
                              ? CreateArray(values_.at(first_value), count)
                              : CreateDictionary(keys_.at(first_key), values_.at(first_value), count);
    if (container == nullptr) OutOfMemory();
    return container;
  }

  CFTypeRef CreateArray(const void **values, CFIndex count) noexcept {
    if (!mutable_containers_) {
      return CFArrayCreate(allocator_, values, count, &kCFTypeArrayCallBacks);
    }
    CFMutableArrayRef array = CFArrayCreateMutable(allocator_, 0, &kCFTypeArrayCallBacks);
    if (array == nullptr) return nullptr;
    for (CFIndex i = 0; i < count; ++i) {
      if (!CFArrayAppendValue(array, values[i])) {
        CFRelease(array);
        return nullptr;
      }
    }
    return array;
  }

  // A dictionary that ends up smaller than its key count had a duplicate:
  // which of two values a root helper should believe is not ours to guess.
  CFTypeRef CreateDictionary(const void **keys, const void **values, CFIndex count) noexcept {
    CFTypeRef dictionary;
    if (!mutable_containers_) {
      dictionary = CFDictionaryCreate(allocator_, keys, values, count,
                                      &kCFTypeDictionaryKeyCallBacks,
                                      &kCFTypeDictionaryValueCallBacks);
    } else {
      dictionary = CreateMutableDictionary(keys, values, count);
    }
    if (dictionary == nullptr) return nullptr;
    if (CFDictionaryGetCount(static_cast<CFDictionaryRef>(dictionary)) != count) {
      CFRelease(dictionary);
      Fail("a duplicate dictionary key");
      return nullptr;
    }
    return dictionary;
  }

  CFTypeRef CreateMutableDictionary(const void **keys, const void **values,
                                    CFIndex count) noexcept {
    CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
        allocator_, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    if (dictionary == nullptr) return nullptr;
    for (CFIndex i = 0; i < count; ++i) {
      if (!CFDictionaryAddValue(dictionary, keys[i], values[i])) {
        CFRelease(dictionary);
        return nullptr;
      }
    }
    return dictionary;
  }

  CFStringRef CreateImmutableString(const Text &text) noexcept {
    return CFStringCreateWithBytes(allocator_, reinterpret_cast<const UInt8 *>(text.bytes),
                                   static_cast<CFIndex>(text.length),
                                   text.ascii ? kCFStringEncodingASCII : kCFStringEncodingUTF8,
                                   FALSE);
  }

  CFTypeRef CreateString(const Text &text) noexcept {
    CFStringRef string = CreateImmutableString(text);
    if (string == nullptr || !mutable_leaves_) return string;
    CFMutableStringRef copy = CFStringCreateMutableCopy(allocator_, 0, string);
    CFRelease(string);
    return copy;
  }

  CFTypeRef CreateData(const uint8_t *bytes, size_t length) noexcept {
    if (!mutable_leaves_) return CFDataCreate(allocator_, bytes, static_cast<CFIndex>(length));
    CFMutableDataRef data = CFDataCreateMutable(allocator_, 0);
    if (data == nullptr) return nullptr;
    if (!CFDataAppendBytes(data, bytes, static_cast<CFIndex>(length))) {
      CFRelease(data);
      return nullptr;
    }
    return data;
  }

  bool ReadLeaf(Element element, const Text &text) noexcept {
    CFTypeRef value = nullptr;
    switch (element) {
      case Element::kString:
        value = CreateString(text);
        break;
      case Element::kInteger: {
        int64_t integer;
        if (!ParseInteger(text.bytes, text.length, &integer)) return Fail("a malformed integer");
        value = CFNumberCreate(allocator_, kCFNumberSInt64Type, &integer);
        break;
      }
      case Element::kReal: {
        double real;
        if (!ParseReal(text.bytes, text.length, &real)) return Fail("a malformed real");
        value = CFNumberCreate(allocator_, kCFNumberFloat64Type, &real);
        break;
      }
      case Element::kTrue:
      case Element::kFalse: {
        const char *bytes = text.bytes;
        size_t length = text.length;
        TrimXmlWhitespace(bytes, length);
        if (length != 0) return Fail("text inside <true/> or <false/>");
        value = CFRetain(element == Element::kTrue ? kCFBooleanTrue : kCFBooleanFalse);
        break;
      }
      case Element::kDate: {
        CFAbsoluteTime at;
        if (!ParseIso8601Date(text.bytes, text.length, &at)) return Fail("a malformed date");
        value = CFDateCreate(allocator_, at);
        break;
      }
      case Element::kData: {
        decoded_.Truncate(0);
        if (!decoded_.Reserve(Base64DecodedCapacity(text.length))) return OutOfMemory();
        size_t length = 0;
        if (!Base64Decode(text.bytes, text.length, decoded_.data(), &length)) {
          return Fail("malformed base64 data");
        }
        value = CreateData(decoded_.data(), length);
        break;
      }
      default:
        return Fail("an unknown element");
    }
    if (value == nullptr) return OutOfMemory();
    return Push(value);
  }

  // ---- character data ----------------------------------------------------

  // The content of a leaf element up to its end tag. Plain text, the usual
  // case, is handed out in place; references, CDATA, comments and carriage
  // returns need the decoded copy.
  bool ReadText(Element element, Text *text) noexcept {
    const char *start = p_;
    bool ascii = true;
    const char *scan = p_;
    for (; scan < end_; ++scan) {
      const uint8_t text_class = kTextClasses[static_cast<unsigned char>(*scan)];
      if (text_class == kPlainAscii) continue;
      if (text_class == kMarkup) break;
      ascii = false;
    }
    p_ = scan;
    if (LooksAt("</")) {
      if (!ReadEndTag(element)) return false;
      *text = {start, static_cast<size_t>(scan - start), ascii};
      return true;
    }
    p_ = start;
    return ReadDecodedText(element, text);
  }

  bool ReadDecodedText(Element element, Text *text) noexcept {
    scratch_.Truncate(0);
    bool ascii = true;
    for (;;) {
      const char *run = p_;
      while (p_ < end_ && kTextClasses[static_cast<unsigned char>(*p_)] != kMarkup) {
        ascii = ascii && static_cast<unsigned char>(*p_) < 0x80;
        ++p_;
      }
      if (!AppendScratch(run, static_cast<size_t>(p_ - run))) return OutOfMemory();
      if (p_ == end_) return Fail("unterminated element");
      if (*p_ == '&') {
        if (!ReadReference(&ascii)) return false;
      } else if (*p_ == '\r') {
        if (!AppendScratch("\n", 1)) return OutOfMemory();
        ++p_;
        if (p_ < end_ && *p_ == '\n') ++p_;
      } else if (LooksAt("</")) {
        if (!ReadEndTag(element)) return false;
        *text = {scratch_.data() != nullptr ? scratch_.data() : "", scratch_.size(), ascii};
        return true;
      } else if (LooksAt("<![CDATA[")) {
        if (!ReadCdata(&ascii)) return false;
      } else if (LooksAt("<!--")) {
        if (!SkipComment()) return false;
      } else if (LooksAt("<?")) {
        if (!SkipProcessingInstruction()) return false;
      } else {
        return Fail("an element inside a leaf value");
      }
    }
  }

  bool ReadCdata(bool *ascii) noexcept {
    p_ += 9;
    const void *close = memmem(p_, Left(), "]]>", 3);
    if (close == nullptr) return Fail("unterminated CDATA section");
    const char *stop = static_cast<const char *>(close);
    for (; p_ < stop; ++p_) {
      const auto c = static_cast<unsigned char>(*p_);
      *ascii = *ascii && c < 0x80;
      if (c == '\r') {
        if (p_ + 1 < stop && p_[1] == '\n') ++p_;
        if (!AppendScratch("\n", 1)) return OutOfMemory();
      } else if (!AppendScratch(p_, 1)) {
        return OutOfMemory();
      }
    }
    p_ = stop + 3;
    return true;
  }

  bool ReadReference(bool *ascii) noexcept {
    ++p_;
    const void *semicolon = std::memchr(p_, ';', Left() < 64 ? Left() : 64);
    if (semicolon == nullptr) return Fail("malformed reference");
    const char *name = p_;
    const auto length = static_cast<size_t>(static_cast<const char *>(semicolon) - name);
    p_ = static_cast<const char *>(semicolon) + 1;
    if (length > 1 && name[0] == '#') return ReadCharacterReference(name + 1, length - 1, ascii);
    constexpr struct {
      const char *name;
      char character;
    } kPredefined[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto &entity : kPredefined) {
      if (std::strlen(entity.name) == length && std::memcmp(entity.name, name, length) == 0) {
        return AppendScratch(&entity.character, 1) || OutOfMemory();
      }
    }
    return Fail("an unknown entity");
  }

  bool ReadCharacterReference(const char *digits, size_t length, bool *ascii) noexcept {
    uint32_t base = 10;
    if (digits[0] == 'x') {
      base = 16;
      ++digits;
      --length;
    }
    if (length == 0) return Fail("malformed character reference");
    uint32_t code_point = 0;
    for (size_t i = 0; i < length; ++i) {
      const char c = digits[i];
      uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (base == 16 && c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (base == 16 && c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return Fail("malformed character reference");
      }
      code_point = code_point * base + digit;
      if (code_point > 0x10FFFF) return Fail("a reference to a character XML does not allow");
    }
    if (!IsXmlChar(code_point)) return Fail("a reference to a character XML does not allow");
    char utf8[4];
    const size_t utf8_length = EncodeUtf8(code_point, utf8);
    *ascii = *ascii && code_point < 0x80;
    return AppendScratch(utf8, utf8_length) || OutOfMemory();
  }

  bool AppendScratch(const char *bytes, size_t length) noexcept {
    return scratch_.Append(bytes, length);
  }

  // Open elements: <plist> and at most kTolvanPropertyListMaxDepth
  // containers, so the stack never needs to grow.
  class FrameStack {
   public:
    bool empty() const noexcept { return size_ == 0; }
    size_t size() const noexcept { return size_; }
    const Frame &top() const noexcept { return frames_[size_ - 1]; }
    void Pop() noexcept { --size_; }
    [[nodiscard]] bool PushFrame(const Frame &frame) noexcept {
      if (size_ == frames_.size()) return false;
      frames_[size_++] = frame;
      return true;
    }

   private:
    std::array<Frame, kTolvanPropertyListMaxDepth + 1> frames_;
    size_t size_ = 0;
  };

  CFAllocatorRef allocator_;
  const char *begin_;
  const char *p_;
  const char *end_;
  const bool mutable_containers_;
  const bool mutable_leaves_;
  const char *error_ = nullptr;
  FrameStack frames_;
  ReferenceStack keys_;
  ReferenceStack values_;
  AllocatorVector<char> scratch_;
  AllocatorVector<uint8_t> decoded_;
};

}  // namespace
}  // namespace tolvan

extern "C" CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef allocator,
                                                             CFDataRef xmlData,
                                                             CFOptionFlags mutabilityOption,
                                                             CFStringRef *errorString) {
  if (errorString != nullptr) *errorString = nullptr;
  if (allocator == kCFAllocatorDefault) allocator = CFAllocatorGetDefault();
  const UInt8 *bytes = xmlData != nullptr ? CFDataGetBytePtr(xmlData) : nullptr;
  const auto length = xmlData != nullptr ? static_cast<size_t>(CFDataGetLength(xmlData)) : 0;
  tolvan::XmlReader reader(allocator, bytes != nullptr ? bytes : reinterpret_cast<const UInt8 *>(""),
                           length, mutabilityOption);
  CFPropertyListRef result = reader.Parse();
  if (result == nullptr && errorString != nullptr) *errorString = reader.CopyErrorDescription();
  return result;
}

extern "C" Boolean TolvanPropertyListErrorIsOutOfMemory(CFStringRef errorString) {
  // No explanation at all means even it could not be allocated.
  if (errorString == nullptr) return true;
  char text[256];
  if (!CFStringGetCString(errorString, text, sizeof text, kCFStringEncodingUTF8)) return false;
  return std::strstr(text, tolvan::kOutOfMemoryReason) != nullptr;
}
