#include "unix/executable_path.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "unix/copy.h"

namespace {

std::string ProcSelfExe() {
  char path[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

TEST(ExecutablePath, SizeProtocolOfTwoCalls) {
  const std::string expected = ProcSelfExe();
  ASSERT_FALSE(expected.empty());
  const uint32_t needed = static_cast<uint32_t>(expected.size() + 1);

  char scratch = 'z';
  uint32_t size = 0;
  EXPECT_EQ(TolvanGetExecutablePath(&scratch, &size), -1);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(scratch, 'z');

  std::vector<char> buffer(size + 1, 'z');
  EXPECT_EQ(TolvanGetExecutablePath(buffer.data(), &size), 0);
  EXPECT_EQ(size, needed);
  EXPECT_STREQ(buffer.data(), expected.c_str());
  EXPECT_EQ(buffer[needed], 'z') << "nothing written past the terminator";
}

TEST(ExecutablePath, BufferSizesAroundTheNeededOne) {
  const uint32_t needed = static_cast<uint32_t>(ProcSelfExe().size() + 1);
  std::vector<char> buffer(needed + 100, 'z');

  uint32_t size = needed - 1;  // no room for the terminator
  EXPECT_EQ(TolvanGetExecutablePath(buffer.data(), &size), -1);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(buffer[0], 'z') << "a refused buffer is not written";

  size = needed + 100;  // a larger buffer: the size comes back as what was used
  EXPECT_EQ(TolvanGetExecutablePath(buffer.data(), &size), 0);
  EXPECT_EQ(size, needed);

  size = 0;
  EXPECT_EQ(TolvanGetExecutablePath(nullptr, &size), -1) << "size 0 needs no buffer";
  EXPECT_EQ(size, needed);
}

TEST(ExecutablePath, NullArgumentsAreEinval) {
  char buffer[8];
  EXPECT_EQ(TolvanGetExecutablePath(buffer, nullptr), EINVAL);
  uint32_t size = 8;
  EXPECT_EQ(TolvanGetExecutablePath(nullptr, &size), EINVAL);
  EXPECT_EQ(size, 8u);
}

// Run inside a copy of this program that removed its own file: the result
// comes back as the exit status.
constexpr char kRemovedChildVariable[] = "TOLVAN_EXECUTABLE_PATH_REMOVED_CHILD";

TEST(ExecutablePath, RemovedExecutableHasNoPath) {
  if (getenv(kRemovedChildVariable) != nullptr) {
    unlink(ProcSelfExe().c_str());
    uint32_t size = 0;
    int result = TolvanGetExecutablePath(nullptr, &size);
    _exit(result == -1 && size == 0 ? 0 : 1);
  }
  std::string copy = testing::TempDir() + "tolvan-exe-copy-" + std::to_string(getpid());
  ASSERT_EQ(TolvanUNIXCopyFile(ProcSelfExe().c_str(), copy.c_str()), 0);
  pid_t child = fork();
  if (child == 0) {
    setenv(kRemovedChildVariable, "1", 1);
    execl(copy.c_str(), copy.c_str(), "--gtest_filter=ExecutablePath.RemovedExecutableHasNoPath",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  unlink(copy.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
