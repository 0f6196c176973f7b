// Every system call of a save made to fail in turn (strace's fault
// injection, on a separate saver program): the save then reports failure
// and leaves the old file whole, or reports success and the new file is
// whole. Either way no temporary file is left behind.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/prefs/prefs_test_support.hpp"

extern char **environ;

namespace tolvan::prefs {
namespace {

using test::Exists;
using test::ListFolder;
using test::ParseDictionaryFile;
using test::ScratchRoot;

constexpr size_t kPayloadSize = 1000;
// The saver's status for a save that reported failure.
constexpr int kSaveFailed = 3;
const std::string kSaver = std::string(TOLVAN_BUILD_DIR) + "/tests/prefs_saver_helper";

// The environment for a program: under strace, LeakSanitizer (which cannot
// work under ptrace) is turned off in sanitizer builds.
std::vector<std::string> EnvironmentFor(const std::string &program) {
  std::vector<std::string> variables;
  std::string asan_options = "ASAN_OPTIONS=";
  for (char **variable = environ; *variable != nullptr; ++variable) {
    std::string text(*variable);
    if (text.rfind(asan_options, 0) == 0) {
      asan_options = text + ":";
    } else {
      variables.push_back(text);
    }
  }
  if (program == "strace") asan_options += "detect_leaks=0";
  variables.push_back(asan_options);
  return variables;
}

std::vector<char *> Pointers(const std::vector<std::string> &texts) {
  std::vector<char *> pointers;
  for (const std::string &text : texts) pointers.push_back(const_cast<char *>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// The exit status of a program, or -1 when it did not exit normally.
int RunProgram(const std::vector<std::string> &arguments) {
  std::vector<char *> argv = Pointers(arguments);
  std::vector<std::string> environment = EnvironmentFor(arguments[0]);
  std::vector<char *> envp = Pointers(environment);
  // The loader's complaints about the calls made to fail are expected.
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool StraceWorks() { return RunProgram({"strace", "-qq", "-o", "/dev/null", "true"}) == 0; }

std::vector<std::string> SaverArguments(const ScratchRoot &root, int64_t generation) {
  return {kSaver, root.path(), std::to_string(generation), std::to_string(kPayloadSize)};
}

// How many times a clean save makes the call (the loader's calls included:
// failing those just keeps the saver from starting, which is also a case).
int CountCalls(const ScratchRoot &root, int64_t generation, const std::string &call) {
  std::string log = root.path() + "/strace.log";
  std::vector<std::string> command = {"strace", "-f", "-qq", "-e", "trace=" + call, "-o", log};
  for (const std::string &argument : SaverArguments(root, generation)) command.push_back(argument);
  if (RunProgram(command) != 0) return -1;
  std::ifstream in(log);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(call + "(") != std::string::npos) ++count;
  }
  ::unlink(log.c_str());
  return count;
}

int64_t GenerationOnDisk(const ScratchRoot &root) {
  if (!Exists(root.FilePath())) return 0;
  return test::GenerationIn(ParseDictionaryFile(root.FilePath()).get(), kPayloadSize);
}

bool HasTemporaryFiles(const ScratchRoot &root) {
  for (const std::string &name : ListFolder(root.Folder())) {
    if (name.find(".tmp~") != std::string::npos) return true;
  }
  return false;
}

// The contents of the files moved aside.
std::vector<std::string> AsideContents(const ScratchRoot &root) {
  std::vector<std::string> contents;
  for (const std::string &name : ListFolder(root.Folder())) {
    if (name.find(".corrupt~") != std::string::npos) {
      contents.push_back(test::ReadFile(root.Folder() + "/" + name));
    }
  }
  return contents;
}

struct Injection {
  const char *call;
  const char *error;
  // Only the save makes this call, and nothing can stand in for it, so
  // every failure of it must fail the save (an ignored fsync error would
  // otherwise pass unseen: the injected failure loses no data).
  bool must_fail;
};

// What a save calls, and the failures that matter most: no space or an I/O
// error on write, flush and close; a failed rename, open, lock or check.
// The loader also opens, reads, checks and closes files, and the clean-up of
// stale temporary files and the random names may fail without harm.
const Injection kInjections[] = {
    {"write", "EIO", true},          {"write", "ENOSPC", true},  {"fsync", "EIO", true},
    {"close", "EIO", false},         {"close", "ENOSPC", false}, {"renameat", "EIO", true},
    {"renameat2", "EIO", true},      {"openat", "EACCES", false}, {"flock", "ENOLCK", true},
    {"fchmod", "EPERM", true},       {"fchown", "EPERM", true},  {"read", "EIO", false},
    {"newfstatat", "EIO", false},    {"fstat", "EIO", false},    {"mkdirat", "EIO", true},
    {"getdents64", "EIO", false},    {"getrandom", "EAGAIN", false},
};

enum class Start { kSaved, kNothing, kCorrupt };
constexpr char kCorruptContent[] = "not a property list";

const char *Describe(Start start) {
  switch (start) {
    case Start::kSaved:
      return "generation 1 saved";
    case Start::kNothing:
      return "store not made yet";
    case Start::kCorrupt:
      return "a corrupt file";
  }
  return "";
}

void Prepare(const ScratchRoot &root, Start start) {
  if (start == Start::kSaved) {
    ASSERT_EQ(RunProgram(SaverArguments(root, 1)), 0);
  } else if (start == Start::kCorrupt) {
    root.MakeFolders();
    test::WriteFile(root.FilePath(), kCorruptContent);
  }
}

// Runs the saver with call number `when` failing and checks the outcome.
// after_rename: the call comes after the new file was renamed into place
// (the folder's flush), so its failure can no longer leave the old file but
// must still be reported.
void InjectOnce(const ScratchRoot &root, Start start, const Injection &injection, int when,
                bool after_rename) {
  const int64_t old = start == Start::kSaved ? 1 : 0;
  std::vector<std::string> command = {
      "strace", "-f",         "-qq", "-o", "/dev/null", "-e", std::string("trace=") + injection.call,
      "-e",     std::string("inject=") + injection.call + ":error=" + injection.error +
                    ":when=" + std::to_string(when)};
  for (const std::string &argument : SaverArguments(root, 2)) command.push_back(argument);
  int status = RunProgram(command);
  if (injection.must_fail) {
    EXPECT_NE(status, 0) << "the failure went unreported";
  }
  const int64_t found = GenerationOnDisk(root);
  if (status == 0 || (status == kSaveFailed && after_rename)) {
    EXPECT_EQ(found, 2) << "status " << status << " without the new file";
  } else if (start == Start::kCorrupt) {
    // The corrupt file is still at its name, or moved aside (checked below)
    // with nothing new in its place, or the program died after the save.
    bool old_state =
        !Exists(root.FilePath()) || test::ReadFile(root.FilePath()) == kCorruptContent;
    EXPECT_TRUE(old_state || (status != kSaveFailed && found == 2)) << "status " << status;
  } else if (status == kSaveFailed) {
    EXPECT_EQ(found, old) << "a failed save changed the file";
  } else {
    // The program died (before, during or after the save): as after a kill.
    EXPECT_TRUE(found == old || found == 2) << "status " << status << ", generation " << found;
  }
  if (start == Start::kCorrupt && !(Exists(root.FilePath()) &&
                                    test::ReadFile(root.FilePath()) == kCorruptContent)) {
    EXPECT_EQ(AsideContents(root), std::vector<std::string>{kCorruptContent})
        << "the corrupt file was not kept";
  }
  EXPECT_FALSE(HasTemporaryFiles(root)) << "a temporary file was left behind";
}

TEST(FaultInjection, EveryFailingCallLeavesTheOldOrTheNewFileWhole) {
  if (!StraceWorks()) GTEST_SKIP() << "strace is missing or cannot trace here";
  ASSERT_TRUE(Exists(kSaver)) << kSaver;
  int runs = 0;
  for (const Injection &injection : kInjections) {
    for (Start start : {Start::kSaved, Start::kNothing, Start::kCorrupt}) {
      SCOPED_TRACE(std::string(injection.call) + " fails with " + injection.error + ", " +
                   Describe(start));
      int calls;
      {
        ScratchRoot probe;
        Prepare(probe, start);
        calls = CountCalls(probe, 2, injection.call);
      }
      ASSERT_GE(calls, 0);
      for (int when = 1; when <= calls; ++when) {
        SCOPED_TRACE("call " + std::to_string(when));
        ScratchRoot root;
        Prepare(root, start);
        // The folder's flush is a save's last fsync.
        bool after_rename = std::string(injection.call) == "fsync" && when == calls;
        InjectOnce(root, start, injection, when, after_rename);
        ++runs;
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  RecordProperty("runs", runs);
}

}  // namespace
}  // namespace tolvan::prefs
