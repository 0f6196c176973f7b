// Parsing what /proc says about processes: the stat line with hostile
// command names, the status file's Uid line, the boot id; and the readers
// agree with the kernel's own calls.
#include "platform/auth/process_identity.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace tolvan::auth {
namespace {

// Fields after the name: state ppid pgrp session tty_nr tpgid flags minflt
// cminflt majflt cmajflt utime stime cutime cstime priority nice threads
// itrealvalue starttime, then the rest.
std::string StatLine(const std::string &name, const std::string &session = "4242",
                     const std::string &terminal = "34816", const std::string &start = "987654") {
  return "1234 (" + name + ") S 1 1234 " + session + " " + terminal +
         " -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 " + start +
         " 5632000 200 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n";
}

TEST(ParseProcStat, ReadsTheIdentifyingFieldsWhateverTheName) {
  for (const std::string name : {"cat", "", "a b", ") S 9 9 9 9", "x) (y", "((", "))", "\n"}) {
    const std::string line = StatLine(name);
    ProcStat stat;
    ASSERT_TRUE(ParseProcStat(line.data(), line.size(), &stat)) << name;
    EXPECT_EQ(stat.pid, 1234) << name;
    EXPECT_EQ(stat.session, 4242) << name;
    EXPECT_EQ(stat.terminal, 34816u) << name;
    EXPECT_EQ(stat.startTime, 987654u) << name;
  }
}

TEST(ParseProcStat, RefusesDamagedLines) {
  const std::string good = StatLine("cat");
  const std::string cases[] = {
      "",
      "1234",
      "1234 (cat)",
      "1234 (cat) S 1 1234 4242 34816",                     // cut before the start time
      good.substr(0, good.find(" 987654")),                 // cut right before it
      "-1234 (cat)" + good.substr(good.find(')') + 1),      // negative pid
      "0 (cat)" + good.substr(good.find(')') + 1),          // pid 0
      "12x4 (cat)" + good.substr(good.find(')') + 1),       // not a number
      "1234 cat) S 1 1234 4242 34816 -1",                   // no opening bracket
      StatLine("cat", "-5"),                                // negative session
      StatLine("cat", "4242", "+1"),                        // signed terminal
      StatLine("cat", "4242", "34816", "99999999999999999999999"),  // overflow
      StatLine("cat", "42  42"),                            // empty field
  };
  for (const std::string &line : cases) {
    ProcStat stat;
    EXPECT_FALSE(ParseProcStat(line.data(), line.size(), &stat)) << line;
  }
}

TEST(ParseProcStatusRealUid, TakesTheFirstOfTheFourUids) {
  const std::string status = "Name:\tcat\nUmask:\t0022\nState:\tR\nPid:\t7\nUid:\t1000\t0\t0\t0\n";
  uid_t uid = 99;
  ASSERT_TRUE(ParseProcStatusRealUid(status.data(), status.size(), &uid));
  EXPECT_EQ(uid, 1000u);
  for (const std::string bad : {"Name:\tcat\n", "Uid:\t\t0\n", "Uid:\tx\n", "Uid: 5\t5\n",
                                "Uid:\t4294967295\t0\n", "Uid:\t99999999999\n"}) {
    EXPECT_FALSE(ParseProcStatusRealUid(bad.data(), bad.size(), &uid)) << bad;
  }
}

TEST(ParseBootId, ReadsTheUuidBytes) {
  const std::string text = "eb8ca888-e3c3-423d-bfa5-2a1c64e79538\n";
  BootId id;
  ASSERT_TRUE(ParseBootId(text.data(), text.size(), &id));
  EXPECT_EQ(id.bytes[0], 0xeb);
  EXPECT_EQ(id.bytes[15], 0x38);
  for (const std::string bad : {"", "eb8ca888-e3c3-423d-bfa5-2a1c64e7953",
                                "eb8ca888-e3c3-423d-bfa5-2a1c64e795380",
                                "eb8ca888ee3c3-423d-bfa5-2a1c64e79538",
                                "eb8ca888-e3c3-423d-bfa5-2a1c64e7953g",
                                "eb8ca888-e3c3-423d-bfa5-2a1c64e79538\n\n"}) {
    EXPECT_FALSE(ParseBootId(bad.data(), bad.size(), &id)) << bad;
  }
}

TEST(ProcessReaders, AgreeWithTheKernelsCalls) {
  ProcStat self;
  ASSERT_TRUE(ReadSelfStat(&self));
  EXPECT_EQ(self.pid, getpid());
  EXPECT_EQ(self.session, getsid(0));

  UniqueFd folder = OpenProcessFolder(getpid());
  ASSERT_TRUE(folder);
  uid_t uid = 12345;
  ASSERT_TRUE(ReadProcessRealUid(folder.get(), &uid));
  EXPECT_EQ(uid, getuid());
  ProcStat again;
  ASSERT_TRUE(ReadProcStat(folder.get(), &again));
  EXPECT_EQ(again.startTime, self.startTime);

  BootId first, second;
  ASSERT_TRUE(ReadBootId(&first));
  ASSERT_TRUE(ReadBootId(&second));
  EXPECT_EQ(0, memcmp(first.bytes, second.bytes, sizeof first.bytes));
}

TEST(ProcessReaders, AFolderStaysWithItsProcessAfterItEnds) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  UniqueFd folder = OpenProcessFolder(child);
  ASSERT_TRUE(folder);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  ProcStat stat;
  EXPECT_FALSE(ReadProcStat(folder.get(), &stat));
  EXPECT_FALSE(OpenProcessFolder(child));
}

}  // namespace
}  // namespace tolvan::auth
