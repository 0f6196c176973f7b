// The file repair of the self-repair mode: only the file this process runs
// from may become root-owned and set-user-ID. The test program itself is
// that file, so only refusals are checked here: of another file, of links
// (also the one to the running file) and of a folder.
#include "sec/self_repair_mode.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace tolvan {
namespace {

class RepairRunningExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tolvan-repair-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    other_ = folder_ + "/tool";
    int fd = open(other_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0555);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  void TearDown() override {
    unlink((folder_ + "/link").c_str());
    unlink(other_.c_str());
    rmdir(folder_.c_str());
  }

  std::string folder_;
  std::string other_;
};

// The swapped path: it names some file, just not the running one. Whatever
// is refused keeps its owner and mode.
TEST_F(RepairRunningExecutableTest, APathNamingAnotherFileIsRefusedAndLeftAlone) {
  if (geteuid() == 0) {
    ASSERT_EQ(chown(other_.c_str(), 65534, 65534), 0);
  }
  struct stat before;
  ASSERT_EQ(stat(other_.c_str(), &before), 0);
  ASSERT_EQ(symlink("/proc/self/exe", (folder_ + "/link").c_str()), 0);
  const struct {
    std::string path;
    OSStatus expected;
  } cases[] = {
      {other_, EPERM},
      {folder_ + "/link", ELOOP},
      {"/proc/self/exe", ELOOP},
      {folder_, EPERM},
      {folder_ + "/missing", ENOENT},
  };
  for (const auto &c : cases) EXPECT_EQ(RepairRunningExecutable(c.path.c_str()), c.expected) << c.path;
  struct stat after;
  ASSERT_EQ(stat(other_.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_mode, before.st_mode);
}

}  // namespace
}  // namespace tolvan
