// External forms: a reference survives the trip to another process of the
// same user, and every forged, damaged, stale or foreign form is refused
// with errAuthorizationInvalidRef.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/auth/authorization.h"

namespace {

// The documented layout.
constexpr size_t kPidOffset = 8;
constexpr size_t kUidOffset = 12;
constexpr size_t kStartTimeOffset = 16;
constexpr size_t kNonceOffset = 24;

AuthorizationExternalForm FormOfNewReference() {
  AuthorizationRef ref = nullptr;
  AuthorizationExternalForm form;
  std::memset(&form, 0, sizeof form);
  EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref), 0);
  EXPECT_EQ(AuthorizationMakeExternalForm(ref, &form), 0);
  EXPECT_EQ(AuthorizationFree(ref, kAuthorizationFlagDefaults), 0);
  return form;
}

OSStatus Rebuild(const AuthorizationExternalForm &form) {
  AuthorizationRef ref = reinterpret_cast<AuthorizationRef>(&ref);
  OSStatus status = AuthorizationCreateFromExternalForm(&form, &ref);
  EXPECT_EQ(status == 0, ref != nullptr) << "the out-pointer must be null exactly on failure";
  if (ref != nullptr) AuthorizationFree(ref, kAuthorizationFlagDefaults);
  return status;
}

template <typename Value>
AuthorizationExternalForm With(AuthorizationExternalForm form, size_t offset, Value value) {
  std::memcpy(form.bytes + offset, &value, sizeof value);
  return form;
}

template <typename Value>
Value Field(const AuthorizationExternalForm &form, size_t offset) {
  Value value;
  std::memcpy(&value, form.bytes + offset, sizeof value);
  return value;
}

// A child that makes a form, hands it over and lives until told to end.
struct FormMaker {
  pid_t pid = -1;
  int release = -1;
  AuthorizationExternalForm form;

  // identity runs in the child before the form is made.
  template <typename Identity>
  explicit FormMaker(Identity identity) {
    int formPipe[2], releasePipe[2];
    EXPECT_EQ(pipe(formPipe), 0);
    EXPECT_EQ(pipe(releasePipe), 0);
    pid = fork();
    if (pid == 0) {
      close(formPipe[0]);
      close(releasePipe[1]);
      if (!identity()) _exit(1);
      AuthorizationExternalForm made = FormOfNewReference();
      if (write(formPipe[1], &made, sizeof made) != sizeof made) _exit(1);
      char byte;
      (void)!read(releasePipe[0], &byte, 1);
      _exit(0);
    }
    close(formPipe[1]);
    close(releasePipe[0]);
    release = releasePipe[1];
    std::memset(&form, 0, sizeof form);
    EXPECT_EQ(read(formPipe[0], &form, sizeof form), static_cast<ssize_t>(sizeof form));
    close(formPipe[0]);
  }

  void End() {
    if (pid <= 0) return;
    close(release);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~FormMaker() { End(); }
};

TEST(ExternalForm, RoundTripsToTheSameBytes) {
  AuthorizationRef ref = nullptr;
  ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref), 0);
  AuthorizationExternalForm form, again;
  ASSERT_EQ(AuthorizationMakeExternalForm(ref, &form), 0);
  AuthorizationRef rebuilt = nullptr;
  ASSERT_EQ(AuthorizationCreateFromExternalForm(&form, &rebuilt), 0);
  ASSERT_EQ(AuthorizationMakeExternalForm(rebuilt, &again), 0);
  EXPECT_EQ(0, std::memcmp(&form, &again, sizeof form));
  EXPECT_EQ(Field<uint32_t>(form, kPidOffset), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(Field<uint32_t>(form, kUidOffset), getuid());
  EXPECT_EQ(AuthorizationFree(rebuilt, kAuthorizationFlagDefaults), 0);
  EXPECT_EQ(AuthorizationFree(ref, kAuthorizationFlagDefaults), 0);

  AuthorizationExternalForm other = FormOfNewReference();
  EXPECT_NE(0, std::memcmp(form.bytes + kNonceOffset, other.bytes + kNonceOffset, 8))
      << "two references of one process must differ in their random bytes";
}

TEST(ExternalForm, IsValidInAnotherProcessOfTheUserOnlyWhileItsMakerLives) {
  FormMaker maker([] { return true; });
  EXPECT_EQ(Rebuild(maker.form), 0);
  maker.End();
  EXPECT_EQ(Rebuild(maker.form), errAuthorizationInvalidRef) << "its maker is gone";
}

TEST(ExternalForm, EveryFlippedBitOutsideThePidAndRandomBytesIsRefused) {
  const AuthorizationExternalForm good = FormOfNewReference();
  ASSERT_EQ(Rebuild(good), 0);
  for (size_t bit = 0; bit < kNonceOffset * 8; ++bit) {
    // A neighbouring pid may be a process of ours started in the same clock
    // tick, for which the form is then as valid as its own; other pids are
    // covered by the forgeries below.
    if (bit / 8 >= kPidOffset && bit / 8 < kPidOffset + 4) continue;
    AuthorizationExternalForm form = good;
    form.bytes[bit / 8] ^= static_cast<char>(1u << (bit % 8));
    EXPECT_EQ(Rebuild(form), errAuthorizationInvalidRef) << "bit " << bit;
  }
}

TEST(ExternalForm, ForgedFormsAreRefused) {
  const AuthorizationExternalForm good = FormOfNewReference();
  AuthorizationExternalForm zero;
  std::memset(&zero, 0, sizeof zero);
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  struct Case {
    const char *what;
    AuthorizationExternalForm form;
  };
  const Case cases[] = {
      {"all zero", zero},
      {"random bytes zero", With<uint64_t>(good, kNonceOffset, 0)},
      {"the parent's pid with our start time", With<uint32_t>(good, kPidOffset, getppid())},
      {"a dead process", With<uint32_t>(good, kPidOffset, static_cast<uint32_t>(dead))},
      {"start time one tick later",
       With<uint64_t>(good, kStartTimeOffset, Field<uint64_t>(good, kStartTimeOffset) + 1)},
      {"another user id", With<uint32_t>(good, kUidOffset, getuid() + 1)},
      {"a pid beyond the kernel's range", With<uint32_t>(good, kPidOffset, 0x80000000u)},
      {"version 2", With<uint16_t>(good, 4, 2)},
      {"reserved bytes set", With<uint16_t>(good, 6, 1)},
  };
  for (const Case &c : cases) EXPECT_EQ(Rebuild(c.form), errAuthorizationInvalidRef) << c.what;
}

TEST(ExternalForm, AnotherUsersFormIsRefusedEvenWhenItNamesUs) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  FormMaker maker([] { return setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0; });
  EXPECT_EQ(Field<uint32_t>(maker.form, kUidOffset), 65534u);
  EXPECT_EQ(Rebuild(maker.form), errAuthorizationInvalidRef) << "a form for another user";
  EXPECT_EQ(Rebuild(With<uint32_t>(maker.form, kUidOffset, 0)), errAuthorizationInvalidRef)
      << "the form claims our user, but the process it names belongs to another";
}

TEST(ExternalForm, NullPointersAndBadReferences) {
  AuthorizationRef ref = nullptr;
  const AuthorizationExternalForm good = FormOfNewReference();
  EXPECT_EQ(AuthorizationCreateFromExternalForm(nullptr, &ref), errAuthorizationInvalidPointer);
  EXPECT_EQ(AuthorizationCreateFromExternalForm(&good, nullptr), errAuthorizationInvalidPointer);
  AuthorizationExternalForm form;
  EXPECT_EQ(AuthorizationMakeExternalForm(nullptr, &form), errAuthorizationInvalidRef);
  ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref), 0);
  EXPECT_EQ(AuthorizationMakeExternalForm(ref, nullptr), errAuthorizationInvalidPointer);
  EXPECT_EQ(AuthorizationFree(ref, 0x100), errAuthorizationInvalidFlags);
  EXPECT_EQ(AuthorizationFree(ref, kAuthorizationFlagDefaults), 0);
  EXPECT_EQ(AuthorizationFree(nullptr, kAuthorizationFlagDefaults), errAuthorizationInvalidRef);
  EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, nullptr),
            errAuthorizationInvalidPointer);
  EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, 0x100, &ref), errAuthorizationInvalidFlags);
  EXPECT_EQ(ref, nullptr);
}

TEST(PrivilegedReference, IsNeverHandedToAProgramNotStartedByTheLauncher) {
  AuthorizationRef ref = reinterpret_cast<AuthorizationRef>(&ref);
  EXPECT_EQ(AuthorizationCopyPrivilegedReference(&ref, kAuthorizationFlagDefaults),
            errAuthorizationInvalidRef);
  EXPECT_EQ(ref, nullptr);
  EXPECT_EQ(AuthorizationCopyPrivilegedReference(nullptr, kAuthorizationFlagDefaults),
            errAuthorizationInvalidPointer);
}

}  // namespace
