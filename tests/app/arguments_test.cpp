#include "app/arguments.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvan::app {
namespace {

using Words = std::vector<std::string>;

Invocation Parsed(const Words &words) {
  Invocation invocation;
  std::string error;
  EXPECT_TRUE(ParseArguments(words, &invocation, &error)) << error;
  return invocation;
}

TEST(Arguments, CommandsTakeTheirOperandsAndOptions) {
  Invocation write = Parsed({"write", "--int", "answer", "42"});
  EXPECT_EQ(write.command, Command::kWrite);
  EXPECT_EQ(write.type, ValueType::kInteger);
  EXPECT_EQ(write.operands, (Words{"answer", "42"}));

  EXPECT_EQ(Parsed({"write", "k", "v"}).type, ValueType::kString);
  EXPECT_EQ(Parsed({"write", "k", "--data", "00"}).type, ValueType::kData);

  Invocation read = Parsed({"read", "--xml", "k"});
  EXPECT_EQ(read.command, Command::kRead);
  EXPECT_TRUE(read.xml);
  EXPECT_EQ(read.operands, Words{"k"});
  EXPECT_TRUE(Parsed({"read"}).operands.empty());

  EXPECT_EQ(Parsed({"import", "-"}).operands, Words{"-"});
  EXPECT_EQ(Parsed({"status"}).command, Command::kStatus);
  EXPECT_EQ(Parsed({"--version"}).command, Command::kVersion);
}

TEST(Arguments, HelpWinsAnywhereBeforeTheEndOfOptions) {
  EXPECT_EQ(Parsed({"--help"}).command, Command::kHelp);
  EXPECT_EQ(Parsed({"write", "--bogus", "-h"}).command, Command::kHelp);
  EXPECT_EQ(Parsed({"nonsense", "--help"}).command, Command::kHelp);
  Invocation literal = Parsed({"write", "--", "key", "--help"});
  EXPECT_EQ(literal.command, Command::kWrite);
  EXPECT_EQ(literal.operands, (Words{"key", "--help"}));
}

TEST(Arguments, DashesThatAreOperands) {
  EXPECT_EQ(Parsed({"write", "--int", "k", "-5"}).operands, (Words{"k", "-5"}));
  EXPECT_EQ(Parsed({"write", "--", "--k", "--v"}).operands, (Words{"--k", "--v"}));
}

TEST(Arguments, UsageErrors) {
  const Words kCases[] = {
      {},
      {"frobnicate"},
      {"write", "k"},
      {"write", "k", "v", "extra"},
      {"write", "--int", "--real", "k", "1"},
      {"write", "--xml", "k", "v"},
      {"read", "--int"},
      {"read", "a", "b"},
      {"import"},
      {"import", "a", "b"},
      {"status", "x"},
      {"status", "--xml"},
      {"--version", "x"},
      {"-x"},
  };
  for (const Words &words : kCases) {
    Invocation invocation;
    std::string error;
    EXPECT_FALSE(ParseArguments(words, &invocation, &error)) << ::testing::PrintToString(words);
    EXPECT_FALSE(error.empty()) << ::testing::PrintToString(words);
  }
}

}  // namespace
}  // namespace tolvan::app
