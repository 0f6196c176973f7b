// The name rule: every refusal happens before anything is touched, and a
// name that passes is one component with exactly its own characters.
#include <gtest/gtest.h>

#include <string>

#include "tests/files/files_test_support.hpp"

namespace {

using files_test::Units;
using files_test::UnitsOf;
using volume_test::Entries;
using volume_test::RefFor;
using volume_test::ScratchFolder;

struct BadName {
  const char *why;
  Units name;
};

const BadName kBadNames[] = {
    {"empty", u""},
    {"a slash", u"a/b"},
    {"only a slash", u"/"},
    {"U+0000", Units(u"a\0b", 3)},
    {"dot", u"."},
    {"dot dot", u".."},
    {"256 units", Units(256, u'x')},
    {"lone high surrogate at the end", u"a\xD800"},
    {"high surrogate before a letter", u"\xD83Dx"},
    {"lone low surrogate", u"\xDC00"},
    {"reversed pair", u"\xDE00\xD83D"},
};

TEST(FileName, BadNamesAreRefusedAndNothingIsCreated) {
  ScratchFolder scratch;
  FSRef folder = RefFor(scratch.path());
  for (const BadName &bad : kBadNames) {
    FSRef made{};
    auto length = static_cast<UniCharCount>(bad.name.size());
    EXPECT_EQ(FSCreateFileUnicode(&folder, length, UnitsOf(bad.name), kFSCatInfoNone, nullptr,
                                  &made, nullptr),
              paramErr)
        << bad.why;
    EXPECT_EQ(FSCreateDirectoryUnicode(&folder, length, UnitsOf(bad.name), kFSCatInfoNone, nullptr,
                                       &made, nullptr, nullptr),
              paramErr)
        << bad.why;
    EXPECT_EQ(FSMakeFSRefUnicode(&folder, length, UnitsOf(bad.name), kTextEncodingUnknown, &made),
              paramErr)
        << bad.why;
  }
  EXPECT_TRUE(Entries(scratch.path()).empty());
}

TEST(FileName, GoodNamesBecomeTheirUTF8) {
  ScratchFolder scratch;
  FSRef folder = RefFor(scratch.path());
  struct Case {
    Units name;
    std::string bytes;
  } cases[] = {
      {u"plain", "plain"},
      {u"...", "..."},
      {u".hidden", ".hidden"},
      {u"caf\u00e9 \u65e5", "caf\xc3\xa9 \xe6\x97\xa5"},
      {u"\xD83D\xDE00", "\xf0\x9f\x98\x80"},  // a surrogate pair is one character
      {Units(255, u'y'), std::string(255, 'y')},
  };
  for (const Case &c : cases) {
    FSRef made{};
    ASSERT_EQ(FSCreateFileUnicode(&folder, c.name.size(), UnitsOf(c.name), kFSCatInfoNone, nullptr,
                                  &made, nullptr),
              noErr)
        << c.bytes;
    EXPECT_EQ(std::string(made.path), scratch.path() + "/" + c.bytes);
    EXPECT_EQ(Entries(scratch.path()).count(c.bytes), 1u) << c.bytes;
  }
}

TEST(FileName, NullNameAndNullReferenceAreParameterErrors) {
  ScratchFolder scratch;
  FSRef folder = RefFor(scratch.path());
  FSRef made{};
  EXPECT_EQ(FSMakeFSRefUnicode(&folder, 3, nullptr, kTextEncodingUnknown, &made), paramErr);
  EXPECT_EQ(FSMakeFSRefUnicode(nullptr, 1, UnitsOf(u"a"), kTextEncodingUnknown, &made), paramErr);
  EXPECT_EQ(FSMakeFSRefUnicode(&folder, 1, UnitsOf(u"a"), kTextEncodingUnknown, nullptr), paramErr);
}

}  // namespace
