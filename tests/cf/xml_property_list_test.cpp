// The XML property-list writer and reader: exact output, round trips,
// what the reader accepts from other writers, what it refuses, the
// mutability options, and damaged documents.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cf/property_list_values.hpp"

namespace tolvan::test {
namespace {

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Tolvan//DTD PLIST 1.0//EN\" "
    "\"http://www.tolvan.invalid/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string Document(const std::string &body) { return kHeader + body + "</plist>\n"; }

// A short document with no declaration, for tables of bodies.
std::string Bare(const std::string &body) { return "<plist version=\"1.0\">" + body + "</plist>"; }

TEST(XmlWriter, WritesTheDocumentLayoutExactly) {
  const Value value = Dict({
      {"a", Array({})},
      {"b", Dict({})},
      {"c", Str("")},
      {"d", Str("x&<>\r\n\t\"'")},
      {"e", Int(-5)},
      {"f", Real(1.0)},
      {"g", Bool(true)},
      {"h", Bool(false)},
      {"i", DateAtUnix(1796980217)},
      {"j", Bytes(std::string(60, 'x'))},
      {"k", Array({Bytes(""), Array({Int(1)})})},
  });
  EXPECT_EQ(Write(value.get()),
            Document("<dict>\n"
                     "\t<key>a</key>\n"
                     "\t<array/>\n"
                     "\t<key>b</key>\n"
                     "\t<dict/>\n"
                     "\t<key>c</key>\n"
                     "\t<string></string>\n"
                     "\t<key>d</key>\n"
                     "\t<string>x&amp;&lt;&gt;&#13;\n\t\"'</string>\n"
                     "\t<key>e</key>\n"
                     "\t<integer>-5</integer>\n"
                     "\t<key>f</key>\n"
                     "\t<real>1.0</real>\n"
                     "\t<key>g</key>\n"
                     "\t<true/>\n"
                     "\t<key>h</key>\n"
                     "\t<false/>\n"
                     "\t<key>i</key>\n"
                     "\t<date>2026-12-11T09:10:17Z</date>\n"
                     "\t<key>j</key>\n"
                     "\t<data>\n"
                     "\teHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4\n"
                     "\teHh4eHh4eHh4\n"
                     "\t</data>\n"
                     "\t<key>k</key>\n"
                     "\t<array>\n"
                     "\t\t<data>\n"
                     "\t\t</data>\n"
                     "\t\t<array>\n"
                     "\t\t\t<integer>1</integer>\n"
                     "\t\t</array>\n"
                     "\t</array>\n"
                     "</dict>\n"));
}

TEST(XmlWriter, OrdersKeysByUtf16UnitsWhateverTheInsertionOrder) {
  // U+FB01 sorts after U+1F600 by UTF-16 units (D83D DE00) but before it by
  // code point; the format wants the former.
  const Value value = Dict({{"\xEF\xAC\x81", Int(3)}, {"\xF0\x9F\x98\x80", Int(2)}, {"B", Int(1)},
                            {"a", Int(0)}});
  EXPECT_EQ(Write(value.get()),
            Document("<dict>\n"
                     "\t<key>B</key>\n\t<integer>1</integer>\n"
                     "\t<key>a</key>\n\t<integer>0</integer>\n"
                     "\t<key>\xF0\x9F\x98\x80</key>\n\t<integer>2</integer>\n"
                     "\t<key>\xEF\xAC\x81</key>\n\t<integer>3</integer>\n"
                     "</dict>\n"));
}

TEST(XmlWriter, NarrowsBase64LinesWithDepthLikeOtherWriters) {
  // 76 columns less 8 per tab, never under 16 characters.
  const std::string bytes(100, '\xA5');
  const std::string root = Write(Bytes(bytes).get());
  EXPECT_NE(root.find("<data>\npaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWl\n"),
            std::string::npos)
      << root;
  const std::string deep = Write(NestedArrays(9, Bytes(bytes)).get());
  EXPECT_NE(deep.find("\t\t\t\t\t\t\t\t\tpaWlpaWlpaWlpaWl\n"), std::string::npos) << deep;
}

TEST(XmlWriter, RefusesWhatIsNotAPropertyListOrNotXml) {
  auto mutable_array =
      CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  CFArrayAppendValue(mutable_array.get(), mutable_array.get());  // holds itself
  const Value one = Int(1), v = Str("v");
  const void *number_key = one.get();
  const void *some_value = v.get();
  auto number_keyed = Value::Adopt(CFDictionaryCreate(nullptr, &number_key, &some_value, 1,
                                                      &kCFTypeDictionaryKeyCallBacks,
                                                      &kCFTypeDictionaryValueCallBacks));
  const struct {
    const char *what;
    Value value;
  } cases[] = {
      {"null", Value()},
      {"an allocator", Value::Retain(kCFAllocatorSystemDefault)},
      {"an allocator in an array", Array({Value::Retain(kCFAllocatorSystemDefault)})},
      {"a number key", number_keyed},
      {"a C0 control", Str("a\x01z")},
      {"a NUL", Str(std::string("a\0z", 3))},
      {"U+FFFE", Str("\xEF\xBF\xBE")},
      {"U+FFFF in a key", Dict({{"\xEF\xBF\xBF", Int(1)}})},
      {"an unpaired surrogate", Utf16({'a', 0xD800, 'z'})},
      {"a date past year 9999", DateAtUnix(253402300800.0)},
      {"513 levels", NestedArrays(513)},
      {"a container that holds itself", Value::Retain(mutable_array.get())},
  };
  for (const auto &c : cases) EXPECT_EQ(Write(c.value.get()), "<null>") << c.what;
  CFArrayRemoveAllValues(mutable_array.get());  // break the cycle
}

// One table of values of every type, each written, read back and compared
// (reals by bits, so -0.0 and NaN count).
TEST(XmlRoundTrip, EveryValueTypeReadsBackAsWritten) {
  std::vector<Value> values = {
      Str(""),
      Str("plain"),
      Str("&<>\"'&amp; ]]> <![CDATA[x]]> <!-- c -->"),
      Str("tab\tline\nreturn\rpair\r\n"),
      Str("  leading and trailing spaces  "),
      Str("caf\xC3\xA9 \xE2\x82\xAC \xEF\xBB\xBF \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBD"),
      Int(0),
      Int(-1),
      Int(INT64_MAX),
      Int(INT64_MIN),
      Real(0.0),
      Real(-0.0),
      Real(1.0),
      Real(-3.0),
      Real(0.1),
      Real(1e-300),
      Real(5e-324),
      Real(1.7976931348623157e308),
      Real(1e16),
      Real(123456789.125),
      Real(HUGE_VAL),
      Real(-HUGE_VAL),
      Real(NAN),
      Bool(true),
      Bool(false),
      DateAtUnix(0),
      DateAtUnix(1796980217),
      DateAtUnix(-62135596800.0),
      DateAtUnix(253402300799.0),
      Array({}),
      Dict({}),
      Array({Int(1), Str("two"), Array({Real(3.5)}), Dict({{"k", Bool(true)}})}),
      Dict({{"", Str("empty key")}, {"&<>", Str("escaped key")}, {"\xF0\x9F\x98\x80", Int(1)}}),
      NestedArrays(512, Str("deepest")),
  };
  for (size_t length = 0; length <= 100; ++length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 151 + 7);
    values.push_back(Bytes(bytes));
  }
  for (const Value &value : values) {
    const std::string text = Write(value.get());
    ASSERT_NE(text, "<null>") << Describe(value.get());
    const Value back = Parse(text);
    EXPECT_TRUE(SameValue(value.get(), back.get())) << text;
  }
}

TEST(XmlRoundTrip, DatesKeepWholeSecondsOnly) {
  const Value back = Parse(Write(DateAtUnix(1796980217.75).get()));
  EXPECT_TRUE(CFEqual(back.get(), DateAtUnix(1796980217).get()));
}

struct Accepted {
  const char *what;
  std::string document;
  Value expected;
};

TEST(XmlReader, AcceptsWhatConformingWritersProduce) {
  const Accepted cases[] = {
      {"no declaration, no DOCTYPE", "<plist><true/></plist>", Bool(true)},
      {"byte-order mark, lower-case encoding, another DOCTYPE",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone='yes'?>\n"
       "<!DOCTYPE plist SYSTEM \"file:///nowhere.dtd\">\n<plist version=\"1.0\"><false/></plist>",
       Bool(false)},
      {"DOCTYPE with single-quoted identifiers",
       "<!DOCTYPE plist PUBLIC '-//X//Y//EN' 'http://x.invalid/y'><plist><integer>1</integer></plist>",
       Int(1)},
      {"bare DOCTYPE", "<!DOCTYPE plist>\n<plist><integer>1</integer></plist>", Int(1)},
      {"leading whitespace", "\n\n  \t<?xml version=\"1.0\"?><plist><integer>2</integer></plist>",
       Int(2)},
      {"comments and processing instructions everywhere",
       "<?xml version=\"1.0\"?><!-- a --><?pi x?><!DOCTYPE plist><!-- b --><plist>"
       "<!-- c --><dict><!-- d --><key>k</key><!-- e --><?pi?><string>v</string></dict>"
       "<!-- f --></plist><!-- g --><?pi?>\n",
       Dict({{"k", Str("v")}})},
      {"a comment and a PI inside a string", Bare("<string>a<!-- x -->b<?pi y?>c</string>"),
       Str("abc")},
      {"CDATA", Bare("<string>x<![CDATA[a<b&c]]>y<![CDATA[]]></string>"), Str("xa<b&cy")},
      {"predefined entities", Bare("<string>&amp;&lt;&gt;&quot;&apos;</string>"),
       Str("&<>\"'")},
      {"character references",
       Bare("<string>&#65;&#x42;&#x1F600;&#128512;&#13;&#x9;&#0000065;</string>"),
       Str("AB\xF0\x9F\x98\x80\xF0\x9F\x98\x80\r\tA")},
      {"line ends normalised", Bare("<string>a\r\nb\rc\n</string>"), Str("a\nb\nc\n")},
      {"line ends normalised in CDATA", Bare("<string><![CDATA[a\r\nb\r]]></string>"),
       Str("a\nb\n")},
      {"entity in a key", Bare("<dict><key>a&amp;b</key><true/></dict>"),
       Dict({{"a&b", Bool(true)}})},
      {"empty forms",
       Bare("<array><string/><data/><data></data><dict/><array/><true></true>"
            "<dict><key/><string></string></dict></array>"),
       Array({Str(""), Bytes(""), Bytes(""), Dict({}), Array({}), Bool(true),
              Dict({{"", Str("")}})})},
      {"whitespace inside tags and between elements",
       "<plist version = '1.0' >\n <array >\n\t<string >x</string >\n <true />\n</array\n>\n</plist >",
       Array({Str("x"), Bool(true)})},
      {"whitespace around numbers and dates",
       Bare("<array><integer> 5\n</integer><real>\t2.5 </real>"
            "<date>\n2026-12-11T09:10:17Z\n</date></array>"),
       Array({Int(5), Real(2.5), DateAtUnix(1796980217)})},
      {"signed and hexadecimal integers",
       Bare("<array><integer>+7</integer><integer>0x1F</integer><integer>-0x10</integer></array>"),
       Array({Int(7), Int(31), Int(-16)})},
      {"reals as other writers spell them",
       Bare("<array><real>1</real><real>-infinity</real><real>+infinity</real><real>inf</real>"
            "<real>1.5000000000000001e+300</real></array>"),
       Array({Real(1.0), Real(-HUGE_VAL), Real(HUGE_VAL), Real(HUGE_VAL), Real(1.5e300)})},
      {"base64 broken and indented any way",
       Bare("<data>\n\t\tZm9v\r\n  YmFy\n YQ=\n=\n\t</data>"), Bytes("foobara")},
      {"keys in any order", Bare("<dict><key>b</key><integer>2</integer><key>a</key><integer>1</integer></dict>"),
       Dict({{"a", Int(1)}, {"b", Int(2)}})},
      {"non-ASCII text in place and decoded",
       Bare("<array><string>caf\xC3\xA9</string><string>caf\xC3\xA9&amp;</string></array>"),
       Array({Str("caf\xC3\xA9"), Str("caf\xC3\xA9&")})},
      {"a leading U+FEFF inside a string is content", Bare("<string>\xEF\xBB\xBFx</string>"),
       Str("\xEF\xBB\xBFx")},
  };
  for (const Accepted &c : cases) {
    CFStringRef error = CFSTR("untouched");
    auto data = DataOf(c.document);
    const Value value = Value::Adopt(
        CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, &error));
    EXPECT_TRUE(SameValue(value.get(), c.expected.get()))
        << c.what << ": got " << Describe(value.get());
    EXPECT_EQ(error, nullptr) << c.what;
    if (error != nullptr) CFRelease(error);
  }
}

TEST(XmlReader, RefusesMalformedDocuments) {
  std::string too_deep, too_deep_empty;
  for (int i = 0; i < 513; ++i) too_deep += "<array>";
  for (int i = 0; i < 513; ++i) too_deep += "</array>";
  for (int i = 0; i < 512; ++i) too_deep_empty += "<array>";
  too_deep_empty += "<dict/>";
  for (int i = 0; i < 512; ++i) too_deep_empty += "</array>";
  const struct {
    const char *what;
    std::string document;
  } cases[] = {
      {"empty", ""},
      {"whitespace", " \n\t"},
      {"no value", Bare("")},
      {"empty plist element", "<plist/>"},
      {"no plist element", "<dict/>"},
      {"only an end tag", "</plist>"},
      {"no end tag", "<plist><string>a</string>"},
      {"internal subset",
       "<!DOCTYPE plist [<!ENTITY x \"y\">]><plist><string>&x;</string></plist>"},
      {"empty internal subset", "<!DOCTYPE plist []><plist><true/></plist>"},
      {"entity declaration", "<!ENTITY x \"y\"><plist><true/></plist>"},
      {"unknown DOCTYPE keyword", "<!DOCTYPE plist FOO \"x\"><plist><true/></plist>"},
      {"unterminated DOCTYPE", "<!DOCTYPE plist PUBLIC \"x\" \"y\""},
      {"second DOCTYPE", "<!DOCTYPE plist><!DOCTYPE plist><plist><true/></plist>"},
      {"another encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><true/></plist>"},
      {"misplaced declaration", Bare("<?xml version=\"1.0\"?><true/>")},
      {"unterminated declaration", "<?xml version=\"1.0\""},
      {"unterminated comment", Bare("<true/><!-- x")},
      {"unterminated processing instruction", Bare("<true/><?pi")},
      {"unterminated CDATA", Bare("<string><![CDATA[x</string>")},
      {"unknown entity", Bare("<string>&nbsp;</string>")},
      {"bare ampersand", Bare("<string>a & b</string>")},
      {"unterminated reference", Bare("<string>&amp</string>")},
      {"reference to NUL", Bare("<string>&#0;</string>")},
      {"reference to a C0 control", Bare("<string>&#1;</string>")},
      {"reference to a surrogate", Bare("<string>&#xD800;</string>")},
      {"reference to U+FFFE", Bare("<string>&#xFFFE;</string>")},
      {"reference beyond Unicode", Bare("<string>&#x110000;</string>")},
      {"huge reference", Bare("<string>&#99999999999999999999;</string>")},
      {"empty reference", Bare("<string>&#;</string>")},
      {"empty hex reference", Bare("<string>&#x;</string>")},
      {"upper-case X in a reference", Bare("<string>&#X41;</string>")},
      {"bad digit in reference", Bare("<string>&#12a;</string>")},
      {"unknown element", Bare("<foo/>")},
      {"unknown element in a dict", Bare("<dict><key>a</key><foo/></dict>")},
      {"nested plist", Bare("<plist><true/></plist>")},
      {"mismatched container end", Bare("<array></dict>")},
      {"mismatched leaf end", Bare("<string>x</key>")},
      {"end tag of another leaf", Bare("<integer>1</real>")},
      {"unterminated string", "<plist><string>abc"},
      {"invalid UTF-8", Bare("<string>\xFF</string>")},
      {"overlong UTF-8", Bare("<string>\xC0\xAF</string>")},
      {"encoded surrogate", Bare("<string>\xED\xA0\x80</string>")},
      {"invalid UTF-8 in a comment", Bare("<true/><!-- \xFE -->")},
      {"NUL in a string", Bare(std::string("<string>a\0b</string>", 20))},
      {"NUL after the document", Bare("<true/>") + std::string(1, '\0')},
      {"literal C0 control", Bare("<string>\x01</string>")},
      {"literal U+FFFF", Bare("<string>\xEF\xBF\xBF</string>")},
      {"empty integer", Bare("<integer/>")},
      {"fractional integer", Bare("<integer>1.5</integer>")},
      {"word integer", Bare("<integer>ten</integer>")},
      {"integer beyond 64 bits signed", Bare("<integer>9223372036854775808</integer>")},
      {"unsigned 64-bit integer", Bare("<integer>18446744073709551615</integer>")},
      {"integer below 64 bits signed", Bare("<integer>-9223372036854775809</integer>")},
      {"empty real", Bare("<real></real>")},
      {"word real", Bare("<real>pi</real>")},
      {"real beyond double", Bare("<real>1e400</real>")},
      {"two points", Bare("<real>1.2.3</real>")},
      {"bad base64 character", Bare("<data>Zm9v!</data>")},
      {"missing base64 padding", Bare("<data>Zg=</data>")},
      {"base64 after padding", Bare("<data>Zg==Zg==</data>")},
      {"bad month", Bare("<date>2026-13-01T00:00:00Z</date>")},
      {"not a date", Bare("<date>yesterday</date>")},
      {"empty date", Bare("<date/>")},
      {"date with offset", Bare("<date>2026-12-11T09:10:17+01:00</date>")},
      {"two root values", Bare("<string>a</string><string>b</string>")},
      {"text after the document", Bare("<true/>") + "x"},
      {"element after the document", Bare("<true/>") + "<true/>"},
      {"second plist", Bare("<true/>") + Bare("<true/>")},
      {"key at the root", Bare("<key>a</key>")},
      {"key in an array", Bare("<array><key>a</key></array>")},
      {"dictionary value missing", Bare("<dict><key>a</key></dict>")},
      {"two keys in a row", Bare("<dict><key>a</key><key>b</key><string/></dict>")},
      {"value without key", Bare("<dict><string>x</string></dict>")},
      {"duplicate keys", Bare("<dict><key>a</key><true/><key>a</key><false/></dict>")},
      {"duplicate keys spelt differently",
       Bare("<dict><key>a</key><true/><key>&#97;</key><false/></dict>")},
      {"attribute on a value", Bare("<string a=\"b\">x</string>")},
      {"text in an array", Bare("<array>x</array>")},
      {"text in a dict", Bare("<dict>x<key>a</key><true/></dict>")},
      {"text beside the root value", Bare("x<true/>")},
      {"CDATA in an array", Bare("<array><![CDATA[x]]></array>")},
      {"element in a string", Bare("<string><b/></string>")},
      {"element in an integer", Bare("<integer><integer>1</integer></integer>")},
      {"text in true", Bare("<true>yes</true>")},
      {"less-than in an attribute", "<plist version=\"<\"><true/></plist>"},
      {"attribute without value", "<plist version><true/></plist>"},
      {"unterminated attribute", "<plist version=\"1.0><true/></plist>"},
      {"513 levels", Bare(too_deep)},
      {"an empty container at level 513", Bare(too_deep_empty)},
  };
  for (const auto &c : cases) {
    CFStringRef error = nullptr;
    auto data = DataOf(c.document);
    const Value value = Value::Adopt(
        CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, &error));
    EXPECT_EQ(value.get(), nullptr) << c.what << ": got " << Describe(value.get());
    EXPECT_NE(error, nullptr) << c.what;
    if (error != nullptr) CFRelease(error);
  }
}

TEST(XmlReader, SaysWhatWasWrongAndWhere) {
  CFStringRef error = nullptr;
  auto data = DataOf("<plist>\n<dict>\n<key>a</key>\n<true/>\n<key>a</key>\n<true/>\n</dict>\n</plist>");
  EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, &error),
            nullptr);
  const std::string text = Utf8Of(error);
  EXPECT_NE(text.find("duplicate"), std::string::npos) << text;
  EXPECT_NE(text.find("line 7"), std::string::npos) << text;
  if (error != nullptr) CFRelease(error);
}

TEST(XmlReader, AcceptsNullDataAsMalformed) {
  CFStringRef error = nullptr;
  EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, nullptr, kCFPropertyListImmutable, &error),
            nullptr);
  EXPECT_NE(error, nullptr);
  if (error != nullptr) CFRelease(error);
}

const std::string kMixed = Bare(
    "<dict><key>a</key><array><string>s</string><data>Zm9v</data></array>"
    "<key>d</key><dict><key>n</key><integer>1</integer></dict></dict>");

// The reader's results are typed as immutable; these tests know better.
template <typename Mutable>
Mutable AsMutable(const void *object) {
  return static_cast<Mutable>(const_cast<void *>(object));
}

CFArrayRef ArrayIn(CFTypeRef root) {
  return static_cast<CFArrayRef>(
      CFDictionaryGetValue(static_cast<CFDictionaryRef>(root), CFSTR("a")));
}

TEST(XmlMutability, MutableContainersCanGrowAndLeavesStayShared) {
  const Value root = Parse(kMixed, kCFPropertyListMutableContainers);
  ASSERT_TRUE(root);
  auto dictionary = AsMutable<CFMutableDictionaryRef>(root.get());
  EXPECT_TRUE(CFDictionarySetValue(dictionary, CFSTR("new"), kCFBooleanTrue));
  auto array = AsMutable<CFMutableArrayRef>(ArrayIn(root.get()));
  EXPECT_TRUE(CFArrayAppendValue(array, kCFBooleanFalse));
  auto inner = AsMutable<CFMutableDictionaryRef>(CFDictionaryGetValue(dictionary, CFSTR("d")));
  EXPECT_TRUE(CFDictionarySetValue(inner, CFSTR("m"), kCFBooleanFalse));
  EXPECT_EQ(CFDictionaryGetCount(dictionary), 3);
  EXPECT_EQ(CFArrayGetCount(ArrayIn(root.get())), 3);
}

TEST(XmlMutability, MutableLeavesCanBeChanged) {
  const Value root = Parse(kMixed, kCFPropertyListMutableContainersAndLeaves);
  ASSERT_TRUE(root);
  CFArrayRef array = ArrayIn(root.get());
  auto string = AsMutable<CFMutableStringRef>(CFArrayGetValueAtIndex(array, 0));
  EXPECT_TRUE(CFStringAppend(string, CFSTR("!")));
  EXPECT_TRUE(CFEqual(string, CFSTR("s!")));
  auto data = AsMutable<CFMutableDataRef>(CFArrayGetValueAtIndex(array, 1));
  EXPECT_TRUE(CFDataAppendBytes(data, reinterpret_cast<const UInt8 *>("d"), 1));
  EXPECT_EQ(CFDataGetLength(data), 4);
}

// Mutating an immutable object aborts by design, so these run as death
// tests: each option must build exactly what it promises, not more.
TEST(XmlMutabilityDeathTest, ImmutableMeansImmutable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Value immutable = Parse(kMixed, kCFPropertyListImmutable);
  ASSERT_TRUE(immutable);
  EXPECT_DEATH(CFDictionarySetValue(AsMutable<CFMutableDictionaryRef>(immutable.get()),
                                    CFSTR("x"), kCFBooleanTrue),
               "");
  EXPECT_DEATH(CFArrayAppendValue(AsMutable<CFMutableArrayRef>(ArrayIn(immutable.get())),
                                  kCFBooleanTrue),
               "");
  const Value containers = Parse(kMixed, kCFPropertyListMutableContainers);
  ASSERT_TRUE(containers);
  EXPECT_DEATH(CFStringAppend(AsMutable<CFMutableStringRef>(
                                  CFArrayGetValueAtIndex(ArrayIn(containers.get()), 0)),
                              CFSTR("!")),
               "");
}

TEST(XmlMutability, EveryOptionReadsTheSameValues) {
  const Value immutable = Parse(kMixed, kCFPropertyListImmutable);
  ASSERT_TRUE(immutable);
  for (CFOptionFlags option :
       {kCFPropertyListMutableContainers, kCFPropertyListMutableContainersAndLeaves}) {
    EXPECT_TRUE(CFEqual(Parse(kMixed, option).get(), immutable.get())) << option;
  }
  // Duplicate keys are refused whichever way dictionaries are built.
  for (CFOptionFlags option : {kCFPropertyListImmutable, kCFPropertyListMutableContainers,
                               kCFPropertyListMutableContainersAndLeaves}) {
    EXPECT_FALSE(Parse(Bare("<dict><key>a</key><true/><key>a</key><true/></dict>"), option))
        << option;
  }
}

// Damaged copies of valid documents: every truncation and many random bit
// flips. Each must parse or fail cleanly; the sanitizer build catches any
// read beyond the bytes.
TEST(XmlReader, SurvivesTruncationAndBitFlips) {
  const std::vector<std::string> documents = {
      Write(Dict({{"a", Array({Str("x&y"), Int(-12), Real(0.5), Bool(true)})},
                  {"b", Bytes("binary\x01\x02")},
                  {"c", DateAtUnix(1796980217)},
                  {"d", Dict({{"\xC3\xA9", Str("\xF0\x9F\x98\x80")}})}})
                .get()),
      Bare("<array><string>a<![CDATA[b]]>&#x41;<!--c--></string><data>Zm9v</data></array>"),
  };
  std::mt19937 random(1211);
  for (const std::string &document : documents) {
    ASSERT_TRUE(Parse(document)) << document;
    for (size_t length = 0; length < document.size(); ++length) {
      // A heap copy of exactly that length, so that reading past it is
      // visible to the address sanitizer.
      auto data = DataOf(document.substr(0, length));
      CFTypeRef value =
          CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr);
      if (value != nullptr) CFRelease(value);
    }
    for (int round = 0; round < 3000; ++round) {
      std::string damaged = document;
      const int flips = 1 + round % 4;
      for (int i = 0; i < flips; ++i) {
        damaged[random() % damaged.size()] ^= static_cast<char>(1 << (random() % 8));
      }
      for (CFOptionFlags option : {kCFPropertyListImmutable, kCFPropertyListMutableContainersAndLeaves}) {
        const Value value = Parse(damaged, option);
        if (value) {
          EXPECT_TRUE(SameValue(Parse(Write(value.get())).get(), value.get())) << damaged;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tolvan::test
