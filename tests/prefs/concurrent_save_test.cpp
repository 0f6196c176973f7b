// Many savers at once, and savers killed at random moments: no pair is
// lost, and the file is always the old or the new one, whole.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/prefs/preference_file_writer.hpp"
#include "platform/prefs/preference_store.hpp"
#include "tests/prefs/prefs_test_support.hpp"

namespace tolvan::prefs {
namespace {

using test::IntegerValue;
using test::ListFolder;
using test::ParseDictionaryFile;
using test::ScratchRoot;
using test::String;
using test::ValueOf;

int SaveOne(const std::string &root, const std::string &key, int64_t value) {
  StagedChanges changes;
  if (!changes.Stage(String(key.c_str()).get(), test::Integer(value).get())) return ENOMEM;
  return SaveDomain(root, test::kTestAppID, changes);
}

TEST(ConcurrentSave, SixteenSaversAtOnceLoseNoPair) {
  constexpr int kSavers = 16;
  constexpr int kKeysEach = 50;
  ScratchRoot root;
  std::vector<pid_t> savers;
  for (int saver = 0; saver < kSavers; ++saver) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // One save per key, so that the savers interleave as much as they can.
      for (int key = 0; key < kKeysEach; ++key) {
        std::string name = "saver" + std::to_string(saver) + ".key" + std::to_string(key);
        if (SaveOne(root.path(), name, saver * 1000 + key) != 0) _exit(1);
      }
      _exit(0);
    }
    savers.push_back(pid);
  }
  for (pid_t pid : savers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
  }

  auto saved = ParseDictionaryFile(root.FilePath());
  ASSERT_TRUE(saved);
  EXPECT_EQ(CFDictionaryGetCount(saved.get()), kSavers * kKeysEach);
  for (int saver = 0; saver < kSavers; ++saver) {
    for (int key = 0; key < kKeysEach; ++key) {
      std::string name = "saver" + std::to_string(saver) + ".key" + std::to_string(key);
      EXPECT_EQ(IntegerValue(ValueOf(saved, name.c_str())), saver * 1000 + key) << name;
    }
  }
  EXPECT_EQ(ListFolder(root.Folder()),
            (std::set<std::string>{root.FileName(), root.FileName() + ".lock"}));
}

constexpr size_t kPayloadSize = 256 * 1024;

StagedChanges Generation(int64_t generation) {
  StagedChanges changes;
  EXPECT_TRUE(test::StageGeneration(generation, kPayloadSize, &changes));
  return changes;
}

int64_t GenerationOnDisk(const ScratchRoot &root) {
  return test::GenerationIn(ParseDictionaryFile(root.FilePath()).get(), kPayloadSize);
}

std::chrono::microseconds TimeOneSave(const ScratchRoot &root, int64_t generation) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SaveDomain(root.path(), test::kTestAppID, Generation(generation)), 0);
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

TEST(ConcurrentSave, ASaverKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
  constexpr int kRounds = 200;
  ScratchRoot root;
  TimeOneSave(root, 0);
  // Kills spread over a little more than a whole save, measured here, so
  // that they land before, during and after it.
  auto save_time = TimeOneSave(root, 1);
  std::mt19937 random(12345);
  std::uniform_int_distribution<long> delay_us(0, save_time.count() * 3 / 2 + 200);

  int64_t on_disk = 1;
  int completed = 0;
  int interrupted = 0;
  int mid_write = 0;
  for (int round = 0; round < kRounds; ++round) {
    int64_t next = on_disk + 1;
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(SaveDomain(root.path(), test::kTestAppID, Generation(next)) == 0 ? 0 : 1);
    long wait_us = delay_us(random);
    const struct timespec pause = {0, wait_us * 1000};
    ::nanosleep(&pause, nullptr);
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << "a save failed by itself";

    int64_t found = GenerationOnDisk(root);
    ASSERT_TRUE(found == on_disk || found == next)
        << "round " << round << ": found generation " << found << ", expected " << on_disk
        << " or " << next;
    (found == next ? completed : interrupted) += 1;
    for (const std::string &name : ListFolder(root.Folder())) {
      if (name.find(".tmp~") != std::string::npos) ++mid_write;
    }
    on_disk = found;
  }
  RecordProperty("completed", completed);
  RecordProperty("interrupted", interrupted);
  RecordProperty("temporary_files_left", mid_write);
  EXPECT_GT(completed, 0) << "no kill came late enough";
  EXPECT_GT(interrupted, 0) << "no kill came early enough";

  // The next save clears what the killed savers left behind.
  ASSERT_EQ(SaveDomain(root.path(), test::kTestAppID, Generation(on_disk + 1)), 0);
  EXPECT_EQ(GenerationOnDisk(root), on_disk + 1);
  EXPECT_EQ(ListFolder(root.Folder()),
            (std::set<std::string>{root.FileName(), root.FileName() + ".lock"}));
}

}  // namespace
}  // namespace tolvan::prefs
