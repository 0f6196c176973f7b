// printf-style formatting into strings. Each C conversion is handed to
// snprintf on its own, with its flags, width, precision and length
// modifier; %@ inserts an object (a string itself, anything else its
// description), %C and %S a UTF-16 unit and a NUL-terminated UTF-16 string.
// Positional arguments (%1$@) and %n are not supported: a format asking for
// them is a programming error and aborts.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "platform/base/heap_buffer.hpp"
#include "platform/cf/string.hpp"

#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace tolvan::cf {
namespace {

// Widths and precisions beyond this are programming errors, not requests
// for gigabytes of padding.
constexpr int kMaxField = 1 << 20;

struct Directive {
  char text[64];  // the conversion spelled for snprintf, * resolved
  int length = 0;
  int width = -1;
  int precision = -1;
  bool left = false;
  char modifier[3] = {0, 0, 0};
  char conversion = 0;

  void Add(char c) {
    if (length + 1 < static_cast<int>(sizeof text)) text[length++] = c;
    text[length] = '\0';
  }
  void AddNumber(int value) {
    char digits[16];
    int count = std::snprintf(digits, sizeof digits, "%d", value);
    for (int i = 0; i < count; ++i) Add(digits[i]);
  }
};

class Formatter {
 public:
  Formatter(StringBuilder &out, StringView format, va_list *args)
      : out_(out), format_(format), args_(args) {}

  void Run() {
    CFIndex run_start = 0;
    for (index_ = 0; index_ < format_.length;) {
      if (format_.at(index_) != '%') {
        ++index_;
        continue;
      }
      out_.AppendView(format_.sub(run_start, index_ - run_start));
      ++index_;
      Convert(Parse());
      run_start = index_;
    }
    out_.AppendView(format_.sub(run_start, format_.length - run_start));
  }

 private:
  UniChar Next() {
    if (index_ >= format_.length) Fatal("CFStringCreateWithFormat", "incomplete conversion");
    return format_.at(index_++);
  }
  UniChar Peek() const { return index_ < format_.length ? format_.at(index_) : 0; }

  int ReadNumber() {
    long value = 0;
    while (Peek() >= '0' && Peek() <= '9') {
      value = value * 10 + (Next() - '0');
      if (value > kMaxField) Fatal("CFStringCreateWithFormat", "field width or precision too large");
    }
    if (Peek() == '$') Fatal("CFStringCreateWithFormat", "positional arguments are not supported");
    return static_cast<int>(value);
  }

  int ReadStarArgument() {
    int value = va_arg(*args_, int);
    if (value > kMaxField || value < -kMaxField) {
      Fatal("CFStringCreateWithFormat", "field width or precision too large");
    }
    return value;
  }

  Directive Parse() {
    Directive directive;
    directive.Add('%');
    for (UniChar c = Peek(); c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'';
         c = Peek()) {
      directive.left = directive.left || c == '-';
      directive.Add(static_cast<char>(Next()));
    }
    if (Peek() == '*') {
      Next();
      directive.width = ReadStarArgument();
      if (directive.width < 0) {
        directive.left = true;
        directive.Add('-');
        directive.width = -directive.width;
      }
      directive.AddNumber(directive.width);
    } else if (Peek() >= '1' && Peek() <= '9') {
      directive.width = ReadNumber();
      directive.AddNumber(directive.width);
    }
    if (Peek() == '.') {
      Next();
      if (Peek() == '*') {
        Next();
        directive.precision = ReadStarArgument();
      } else {
        directive.precision = ReadNumber();
      }
      // A negative precision from * means none, as in printf.
      if (directive.precision >= 0) {
        directive.Add('.');
        directive.AddNumber(directive.precision);
      }
    }
    int modifier_length = 0;
    for (UniChar c = Peek(); c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'z' || c == 'j' ||
                             c == 't';
         c = Peek()) {
      if (modifier_length == 2) Fatal("CFStringCreateWithFormat", "bad length modifier");
      directive.modifier[modifier_length++] = static_cast<char>(Next());
    }
    if (directive.modifier[0] == 'q') directive.modifier[0] = 'l', directive.modifier[1] = 'l';
    for (char c : directive.modifier) {
      if (c != 0) directive.Add(c);
    }
    UniChar conversion = Next();
    if (conversion > 0x7F) Fatal("CFStringCreateWithFormat", "unknown conversion");
    directive.conversion = static_cast<char>(conversion);
    directive.Add(directive.conversion);
    return directive;
  }

  bool Modifier(const Directive &directive, const char *want) const {
    return directive.modifier[0] == want[0] && directive.modifier[1] == (want[0] != 0 ? want[1] : 0);
  }

  template <typename T>
  void Print(const Directive &directive, T value) {
    char small[256];
    int needed = std::snprintf(small, sizeof small, directive.text, value);
    if (needed < 0) {
      out_.AppendUTF8Lossy("\xEF\xBF\xBD", 3);  // the C library could not convert it
      return;
    }
    if (needed < static_cast<int>(sizeof small)) {
      out_.AppendUTF8Lossy(small, needed);
      return;
    }
    HeapBuffer large = HeapBuffer::Allocate(static_cast<size_t>(needed) + 1);
    if (!large) {
      out_.Fail();
      return;
    }
    std::snprintf(reinterpret_cast<char *>(large.data()), large.size(), directive.text, value);
    out_.AppendUTF8Lossy(reinterpret_cast<const char *>(large.data()), needed);
  }

  void PrintSigned(const Directive &directive) {
    if (Modifier(directive, "ll")) return Print(directive, va_arg(*args_, long long));
    if (Modifier(directive, "l")) return Print(directive, va_arg(*args_, long));
    if (Modifier(directive, "z")) return Print(directive, va_arg(*args_, ssize_t));
    if (Modifier(directive, "j")) return Print(directive, va_arg(*args_, intmax_t));
    if (Modifier(directive, "t")) return Print(directive, va_arg(*args_, ptrdiff_t));
    if (directive.modifier[0] == 'L') Fatal("CFStringCreateWithFormat", "bad length modifier");
    Print(directive, va_arg(*args_, int));  // also hh and h, promoted to int
  }

  void PrintUnsigned(const Directive &directive) {
    if (Modifier(directive, "ll")) return Print(directive, va_arg(*args_, unsigned long long));
    if (Modifier(directive, "l")) return Print(directive, va_arg(*args_, unsigned long));
    if (Modifier(directive, "z")) return Print(directive, va_arg(*args_, size_t));
    if (Modifier(directive, "j")) return Print(directive, va_arg(*args_, uintmax_t));
    if (Modifier(directive, "t")) return Print(directive, va_arg(*args_, ptrdiff_t));
    if (directive.modifier[0] == 'L') Fatal("CFStringCreateWithFormat", "bad length modifier");
    Print(directive, va_arg(*args_, unsigned int));
  }

  // Our own conversions pad with spaces to the width, as %s would.
  void AppendPadded(const Directive &directive, StringView text) {
    if (directive.precision >= 0 && text.length > directive.precision) text = text.sub(0, directive.precision);
    static const unsigned char kSpace[1] = {' '};
    CFIndex padding = directive.width > text.length ? directive.width - text.length : 0;
    if (!directive.left) {
      for (CFIndex i = 0; i < padding; ++i) out_.AppendLatin1(kSpace, 1);
    }
    out_.AppendView(text);
    if (directive.left) {
      for (CFIndex i = 0; i < padding; ++i) out_.AppendLatin1(kSpace, 1);
    }
  }

  void AppendObject(const Directive &directive) {
    CFTypeRef object = va_arg(*args_, CFTypeRef);
    if (object == nullptr) {
      StringBuilder null_text(kCFAllocatorSystemDefault);
      null_text.AppendASCII("(null)");
      return AppendPadded(directive, null_text.view());
    }
    if (CFGetTypeID(object) == kStringTypeID) {
      return AppendPadded(directive, ViewOf(static_cast<CFStringRef>(object), "CFStringCreateWithFormat"));
    }
    StringBuilder description(kCFAllocatorSystemDefault);
    DescribeInto(object, description, 0);
    if (description.failed()) out_.Fail();
    AppendPadded(directive, description.view());
  }

  void AppendCodePoint(StringBuilder &text, uint32_t code) {
    if (code >= 0x10000 && code <= 0x10FFFF) {
      UniChar pair[2] = {static_cast<UniChar>(0xD800 + ((code - 0x10000) >> 10)),
                         static_cast<UniChar>(0xDC00 + ((code - 0x10000) & 0x3FF))};
      text.AppendUnits(pair, 2);
    } else {
      UniChar unit = code > 0x10FFFF ? 0xFFFD : static_cast<UniChar>(code);
      text.AppendUnits(&unit, 1);
    }
  }

  void AppendWide(const Directive &directive) {
    StringBuilder text(kCFAllocatorSystemDefault);
    if (directive.conversion == 'C') {
      auto unit = static_cast<UniChar>(va_arg(*args_, int));
      text.AppendUnits(&unit, 1);
    } else if (directive.conversion == 'c') {
      AppendCodePoint(text, static_cast<uint32_t>(va_arg(*args_, wint_t)));
    } else if (directive.conversion == 'S') {
      const UniChar *units = va_arg(*args_, const UniChar *);
      if (units == nullptr) {
        text.AppendASCII("(null)");
      } else {
        CFIndex count = 0;
        while (units[count] != 0 && (directive.precision < 0 || count < directive.precision)) ++count;
        text.AppendUnits(units, count);
      }
    } else {  // %ls
      const wchar_t *wide = va_arg(*args_, const wchar_t *);
      if (wide == nullptr) {
        text.AppendASCII("(null)");
      } else {
        for (CFIndex i = 0; wide[i] != 0 && (directive.precision < 0 || i < directive.precision); ++i) {
          AppendCodePoint(text, static_cast<uint32_t>(wide[i]));
        }
      }
    }
    if (text.failed()) out_.Fail();
    AppendPadded(directive, text.view());
  }

  void Convert(const Directive &directive) {
    switch (directive.conversion) {
      case '%': out_.AppendASCII("%"); return;
      case '@': return AppendObject(directive);
      case 'd':
      case 'i': return PrintSigned(directive);
      case 'u':
      case 'o':
      case 'x':
      case 'X': return PrintUnsigned(directive);
      case 'C':
      case 'S': return AppendWide(directive);
      case 'c':
        if (Modifier(directive, "l")) return AppendWide(directive);
        return Print(directive, va_arg(*args_, int));
      case 's':
        if (Modifier(directive, "l")) return AppendWide(directive);
        return Print(directive, va_arg(*args_, const char *));
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (directive.modifier[0] == 'L') return Print(directive, va_arg(*args_, long double));
        return Print(directive, va_arg(*args_, double));
      case 'p': return Print(directive, va_arg(*args_, void *));
      case 'n': Fatal("CFStringCreateWithFormat", "%n is not supported");
      default: Fatal("CFStringCreateWithFormat", "unknown conversion");
    }
  }

  StringBuilder &out_;
  StringView format_;
  va_list *args_;
  CFIndex index_ = 0;
};

}  // namespace

bool FormatInto(StringBuilder &out, CFStringRef format, va_list arguments) {
  StringView text = ViewOf(format, "CFStringCreateWithFormat");
  va_list args;
  va_copy(args, arguments);
  Formatter(out, text, &args).Run();
  va_end(args);
  return !out.failed();
}

}  // namespace tolvan::cf

using namespace tolvan::cf;

CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef alloc, CFTypeRef,
                                                 CFStringRef format, va_list arguments) {
  StringBuilder out(alloc);
  if (!FormatInto(out, format, arguments)) return nullptr;
  return out.Copy();
}

CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFTypeRef formatOptions,
                                     CFStringRef format, ...) {
  va_list arguments;
  va_start(arguments, format);
  CFStringRef result = CFStringCreateWithFormatAndArguments(alloc, formatOptions, format, arguments);
  va_end(arguments);
  return result;
}

Boolean CFStringAppendFormat(CFMutableStringRef theString, CFTypeRef formatOptions,
                             CFStringRef format, ...) {
  va_list arguments;
  va_start(arguments, format);
  CFStringRef formatted = CFStringCreateWithFormatAndArguments(CFGetAllocator(theString),
                                                               formatOptions, format, arguments);
  va_end(arguments);
  if (formatted == nullptr) return false;
  Boolean ok = CFStringAppend(theString, formatted);
  CFRelease(formatted);
  return ok;
}
