// What `tolvan-prefs import` accepts as a request, and the bound on what it
// reads.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "app/import_document.hpp"
#include "platform/cf/cf.h"

namespace tolvan::app {
namespace {

std::string Document(const std::string &body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
         "\n</plist>\n";
}

TEST(ImportDocument, OnlyADictionaryThatFitsOneRequestIsAccepted) {
  const std::string big_value(1 << 20, 'v');
  struct Case {
    const char *name;
    std::string document;
    const char *error;  // null: accepted
  } cases[] = {
      {"typed values",
       Document("<dict><key>a</key><integer>-7</integer><key>b</key><real>0.5</real>"
                "<key>c</key><true/><key>d</key><date>2026-12-11T10:00:00Z</date>"
                "<key>e</key><data>AP8=</data><key>f</key><dict/></dict>"),
       nullptr},
      {"empty dictionary", Document("<dict/>"), nullptr},
      {"array", Document("<array><string>a</string></array>"), "not a dictionary"},
      {"string", Document("<string>a</string>"), "not a dictionary"},
      {"not XML", "key=value\n", "not an XML property list"},
      {"truncated", Document("<dict><key>a</key>"), "not an XML property list"},
      {"empty input", "", "not an XML property list"},
      {"over one request",
       Document("<dict><key>a</key><string>" + big_value + "</string></dict>"),
       "larger than one request"},
  };
  for (const Case &c : cases) {
    std::string error;
    CFRef<CFDictionaryRef> request = ParseImportDocument(c.document, &error);
    if (c.error == nullptr) {
      EXPECT_TRUE(request) << c.name << ": " << error;
    } else {
      EXPECT_FALSE(request) << c.name;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
  }
}

TEST(ImportDocument, TypedValuesArriveAsTheirTypes) {
  std::string error;
  CFRef<CFDictionaryRef> request = ParseImportDocument(
      Document("<dict><key>n</key><integer>42</integer><key>s</key><string>x</string></dict>"),
      &error);
  ASSERT_TRUE(request) << error;
  EXPECT_EQ(CFGetTypeID(CFDictionaryGetValue(request.get(), CFSTR("n"))), CFNumberGetTypeID());
  EXPECT_EQ(CFGetTypeID(CFDictionaryGetValue(request.get(), CFSTR("s"))), CFStringGetTypeID());
}

// Reading stops at the bound instead of holding whatever a pipe delivers.
TEST(ImportDocument, ReadingStopsPastTheBound) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  pid_t writer = fork();
  if (writer == 0) {
    close(ends[0]);
    const std::string block(1 << 16, ' ');
    for (int i = 0; i < 1024; ++i) {
      if (write(ends[1], block.data(), block.size()) < 0) break;
    }
    _exit(0);
  }
  close(ends[1]);
  std::string document, error;
  EXPECT_FALSE(ReadImportDocument(ends[0], &document, &error));
  EXPECT_NE(error.find("larger than"), std::string::npos) << error;
  EXPECT_LE(document.size(), size_t(5) << 20);
  close(ends[0]);
  waitpid(writer, nullptr, 0);
}

TEST(ImportDocument, ReadsAWholeSmallInput) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  const std::string text = Document("<dict/>");
  ASSERT_EQ(write(ends[1], text.data(), text.size()), ssize_t(text.size()));
  close(ends[1]);
  std::string document, error;
  EXPECT_TRUE(ReadImportDocument(ends[0], &document, &error)) << error;
  EXPECT_EQ(document, text);
  close(ends[0]);
}

}  // namespace
}  // namespace tolvan::app
