// Interoperability of the XML property-list format with the two peers we
// measure ourselves against: Python's plistlib and libplist's plistutil.
// Each peer reads what we write and writes back what it read; we read that
// back. Skipped when a peer is not installed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cf/property_list_values.hpp"

extern char **environ;

namespace tolvan::test {
namespace {

struct ProgramResult {
  int status = -1;  // the exit status, or -1 when it did not run or exit
  std::string output;
};

// Runs argv[0] (searched in PATH) and collects its standard output.
ProgramResult RunProgram(const std::vector<std::string> &arguments) {
  ProgramResult result;
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  std::vector<char *> argv;
  for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawned == 0) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0) {
      result.output.append(buffer, static_cast<size_t>(got));
    }
  }
  close(pipe_ends[0]);
  int status = 0;
  if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  return result;
}

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvan-xml.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string &name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Deep trees exceed Python's default recursion limit of 1000 frames.
constexpr char kPlistlibRewrite[] =
    "import plistlib, sys\n"
    "sys.setrecursionlimit(20000)\n"
    "with open(sys.argv[1], 'rb') as f: value = plistlib.load(f)\n"
    "with open(sys.argv[2], 'wb') as f: plistlib.dump(value, f, fmt=plistlib.FMT_XML)\n";

bool HavePlistlib() { return RunProgram({"python3", "-c", "import plistlib"}).status == 0; }
bool HavePlistutil() { return RunProgram({"plistutil", "-v"}).status == 0; }

Value DataOfEveryLength() {
  std::vector<Value> data;
  std::string bytes;
  for (size_t length = 0; length <= 100; ++length) {
    data.push_back(Bytes(bytes));
    bytes.push_back(static_cast<char>(length * 73 + 5));
  }
  return ArrayOf(data);
}

// Everything the format must carry between writers. Keys avoid the one
// place the peers order differently (characters U+E000-U+FFFF against
// astral ones: UTF-16 units here, code points in Python).
Value RichValue() {
  return Dict({
      {"strings", Array({Str(""), Str("plain"), Str("&<>\"' & &amp; ]]>"),
                         Str("tab\tand\nnewline"), Str("caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD"),
                         Str("\xF0\x9F\x98\x80 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBD"),
                         Str("  spaces  ")})},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80 &<> key", Str("non-ASCII and escaped key")},
      {"", Str("empty key")},
      {"integers", Array({Int(0), Int(1), Int(-1), Int(INT64_MAX), Int(INT64_MIN),
                          Int(INT64_MAX - 1), Int(INT64_MIN + 1), Int(4294967296)})},
      {"reals", Array({Real(0.0), Real(1.0), Real(-2.0), Real(0.1), Real(1e-300), Real(5e-324),
                       Real(2.2250738585072014e-308), Real(1.7976931348623157e308),
                       Real(1e16), Real(1e15), Real(123456.789), Real(-1.5e-7)})},
      {"booleans", Array({Bool(true), Bool(false)})},
      {"dates", Array({DateAtUnix(0), DateAtUnix(1796980217), DateAtUnix(951782400),
                       DateAtUnix(-2208988800.0), DateAtUnix(253402300799.0)})},
      {"data", DataOfEveryLength()},
      {"empty", Array({Array({}), Dict({}), Str("")})},
      {"nested", Dict({{"a", Dict({{"b", Array({Array({Bytes(std::string(100, 'q'))})})}})}})},
      {"deep", NestedArrays(200, Str("bottom"))},
  });
}

std::string WithoutDoctype(const std::string &document) {
  const size_t start = document.find("<!DOCTYPE");
  if (start == std::string::npos) return document;
  return document.substr(0, start) + document.substr(document.find('\n', start) + 1);
}

TEST(XmlInteropPlistlib, ReadsOursAndWritesTheSameBytesBack) {
  if (!HavePlistlib()) GTEST_SKIP() << "python3 with plistlib is not installed";
  TemporaryFolder folder;
  const Value value = RichValue();
  const std::string ours = Write(value.get());
  ASSERT_NE(ours, "<null>");
  WriteFile(folder.File("ours.plist"), ours);
  ASSERT_EQ(RunProgram({"python3", "-c", kPlistlibRewrite, folder.File("ours.plist"),
                 folder.File("theirs.plist")})
                .status,
            0);
  const std::string theirs = ReadFile(folder.File("theirs.plist"));
  // Equal bytes from plistlib's writer mean plistlib read every value as
  // we meant it; only the DOCTYPE line differs by design.
  EXPECT_EQ(WithoutDoctype(theirs), WithoutDoctype(ours));
  EXPECT_NE(theirs.find("<!DOCTYPE plist PUBLIC"), std::string::npos);
  const Value back = Parse(theirs);
  EXPECT_TRUE(SameValue(back.get(), value.get())) << theirs;
}

TEST(XmlInteropPlistlib, CarriesWhatItsWriterSpellsDifferently) {
  if (!HavePlistlib()) GTEST_SKIP() << "python3 with plistlib is not installed";
  TemporaryFolder folder;
  // Carriage returns (which plistlib writes as line feeds), infinities
  // ("inf" there), NaN and negative zero, checked value by value.
  const Value value = Array({Str("a\rb\r\nc"), Real(HUGE_VAL), Real(-HUGE_VAL), Real(NAN),
                             Real(-0.0)});
  WriteFile(folder.File("ours.plist"), Write(value.get()));
  const ProgramResult seen = RunProgram(
      {"python3", "-c",
       "import plistlib, sys, math\n"
       "v = plistlib.load(open(sys.argv[1], 'rb'))\n"
       "print(repr(v[0]), v[1], v[2], math.isnan(v[3]), math.copysign(1, v[4]))\n",
       folder.File("ours.plist")});
  ASSERT_EQ(seen.status, 0);
  EXPECT_EQ(seen.output, "'a\\rb\\r\\nc' inf -inf True -1.0\n");
  ASSERT_EQ(RunProgram({"python3", "-c", kPlistlibRewrite, folder.File("ours.plist"),
                 folder.File("theirs.plist")})
                .status,
            0);
  const Value back = Parse(ReadFile(folder.File("theirs.plist")));
  EXPECT_TRUE(SameValue(back.get(), Array({Str("a\nb\nc"), Real(HUGE_VAL), Real(-HUGE_VAL),
                                           Real(NAN), Real(-0.0)})
                                        .get()))
      << Describe(back.get());
}

TEST(XmlInteropPlistlib, NestingAtTheLimitTravelsBothWays) {
  if (!HavePlistlib()) GTEST_SKIP() << "python3 with plistlib is not installed";
  TemporaryFolder folder;
  const Value value = NestedArrays(kTolvanPropertyListMaxDepth - 1, Dict({{"k", Str("v")}}));
  WriteFile(folder.File("ours.plist"), Write(value.get()));
  ASSERT_EQ(RunProgram({"python3", "-c", kPlistlibRewrite, folder.File("ours.plist"),
                 folder.File("theirs.plist")})
                .status,
            0);
  EXPECT_TRUE(SameValue(Parse(ReadFile(folder.File("theirs.plist"))).get(), value.get()));
}

TEST(XmlInteropPlistlib, UnsignedValuesBeyondSigned64BitsAreRefused) {
  if (!HavePlistlib()) GTEST_SKIP() << "python3 with plistlib is not installed";
  const ProgramResult written = RunProgram(
      {"python3", "-c",
       "import plistlib, sys\n"
       "sys.stdout.buffer.write(plistlib.dumps([2**63, 2**64 - 1], fmt=plistlib.FMT_XML))\n"});
  ASSERT_EQ(written.status, 0);
  EXPECT_FALSE(Parse(written.output));
}

// plistutil converts between its two formats; from XML to XML it only copies
// the file, so the trip goes through its binary form: XML reader, binary
// writer, binary reader, XML writer.
bool RewriteWithPlistutil(const TemporaryFolder &folder, const std::string &in,
                          const std::string &out) {
  return RunProgram({"plistutil", "-i", in, "-o", folder.File("binary.plist"), "-f", "bin"}).status ==
             0 &&
         RunProgram({"plistutil", "-i", folder.File("binary.plist"), "-o", out, "-f", "xml"}).status == 0;
}

TEST(XmlInteropPlistutil, ReadsOursAndWritesTheSameValuesBack) {
  if (!HavePlistutil()) GTEST_SKIP() << "plistutil (libplist-utils) is not installed";
  TemporaryFolder folder;
  const Value value = RichValue();
  WriteFile(folder.File("ours.plist"), Write(value.get()));
  ASSERT_TRUE(RewriteWithPlistutil(folder, folder.File("ours.plist"), folder.File("theirs.plist")));
  const std::string theirs = ReadFile(folder.File("theirs.plist"));
  const Value back = Parse(theirs);
  EXPECT_TRUE(SameValue(back.get(), value.get())) << theirs;
}

TEST(XmlInteropPlistutil, SpecialRealsAndCarriageReturnsTravel) {
  if (!HavePlistutil()) GTEST_SKIP() << "plistutil (libplist-utils) is not installed";
  TemporaryFolder folder;
  const Value value = Array({Str("a\rb"), Real(HUGE_VAL), Real(-HUGE_VAL), Real(NAN), Real(-0.0),
                             NestedArrays(kTolvanPropertyListMaxDepth - 1)});
  WriteFile(folder.File("ours.plist"), Write(value.get()));
  ASSERT_TRUE(RewriteWithPlistutil(folder, folder.File("ours.plist"), folder.File("theirs.plist")));
  const std::string theirs = ReadFile(folder.File("theirs.plist"));
  const Value back = Parse(theirs);
  ASSERT_TRUE(back) << theirs;
  // libplist reads "&#13;" as a carriage return but writes it back raw, and
  // XML line-end normalisation makes a raw one a line feed. It also writes
  // -0.0 as "0.0".
  const Value expected = Array({Str("a\nb"), Real(HUGE_VAL), Real(-HUGE_VAL), Real(NAN),
                                Real(0.0), NestedArrays(kTolvanPropertyListMaxDepth - 1)});
  EXPECT_TRUE(SameValue(back.get(), expected.get())) << Describe(back.get());
}

}  // namespace
}  // namespace tolvan::test
