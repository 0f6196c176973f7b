// Throwaway users and groups with known passwords, the test system root's
// PAM service and authorization policy, for tests that drive the real
// authentication (they run as root).
//
// The PAM service file and the policy file are shared by every test program
// that uses the system root, and ctest runs tests in parallel: a test that
// writes them holds an AuthorizationSetupLock for as long as it relies on
// them. User and group names carry the process id, so parallel tests and
// repeated runs never meet.
#ifndef TOLVAN_TESTS_SUPPORT_AUTHORIZATION_ACCOUNTS_HPP
#define TOLVAN_TESTS_SUPPORT_AUTHORIZATION_ACCOUNTS_HPP

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace tolvan::test {

// Runs argv[0] (looked up in PATH) with input on its standard input and its
// output thrown away. Returns the exit status, or -1.
inline int RunProgram(const std::vector<std::string> &argv, const std::string &input = "") {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    int null = open("/dev/null", O_WRONLY);
    if (dup2(pipeEnds[0], 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeEnds[0]);
  if (pid > 0 && !input.empty()) {
    ssize_t written = write(pipeEnds[1], input.data(), input.size());
    (void)written;
  }
  close(pipeEnds[1]);
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string SystemRootPath(const std::string &relative) {
  return std::string(TOLVAN_SYSTEM_ROOT) + "/" + relative;
}

// Creates every missing folder of the absolute path, owned by root, 0755.
inline bool MakeRootOwnedFolders(const std::string &path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// Replaces path by a root-owned file with content and mode, in one rename.
inline bool WriteRootOwnedFile(const std::string &path, const std::string &content,
                               mode_t mode = 0644) {
  if (!MakeRootOwnedFolders(path.substr(0, path.rfind('/')))) return false;
  const std::string temporary = path + ".new." + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
            fchown(fd, 0, 0) == 0 && fchmod(fd, mode) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

// Held by every test that writes or relies on the shared PAM service or
// policy file of the system root.
class AuthorizationSetupLock {
 public:
  AuthorizationSetupLock() {
    fd_ = open(TOLVAN_BUILD_DIR "/authorization-setup.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~AuthorizationSetupLock() {
    if (fd_ >= 0) close(fd_);
  }
  AuthorizationSetupLock(const AuthorizationSetupLock &) = delete;
  AuthorizationSetupLock &operator=(const AuthorizationSetupLock &) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The PAM service the tests use: the machine's own password files through
// pam_unix, without its delay after a failure so that wrong-password cases
// stay quick.
inline bool WriteTestPamService() {
  return WriteRootOwnedFile(SystemRootPath("etc/pam.d/tolvan"),
                            "auth required pam_unix.so nodelay\n"
                            "account required pam_unix.so\n");
}

inline bool WriteAuthorizationPolicy(const std::string &content, mode_t mode = 0644) {
  return WriteRootOwnedFile(SystemRootPath("etc/tolvan/authorization"), content, mode);
}

struct ThrowawayUser {
  std::string name;
  std::string password;
  uid_t uid = 0;
  gid_t gid = 0;
};

// Users and groups made for one test and removed by the destructor, with
// the timestamp files the authorization kept for them.
class ThrowawayAccounts {
 public:
  ThrowawayAccounts() = default;
  ~ThrowawayAccounts() {
    for (const ThrowawayUser &user : users_) {
      RunProgram({"userdel", "-f", user.name});
      unlink(SystemRootPath("run/tolvan/timestamps/" + std::to_string(user.uid)).c_str());
    }
    for (const std::string &group : groups_) RunProgram({"groupdel", group});
  }
  ThrowawayAccounts(const ThrowawayAccounts &) = delete;
  ThrowawayAccounts &operator=(const ThrowawayAccounts &) = delete;

  // A name unique to this process: prefix, then the process id.
  static std::string UniqueName(const std::string &prefix) {
    return prefix + std::to_string(getpid());
  }

  bool AddGroup(const std::string &name) {
    if (RunProgram({"groupadd", name}) != 0) return false;
    groups_.push_back(name);
    return true;
  }

  // A user without a home folder, in group (when not empty) besides its
  // primary group, with password set through chpasswd.
  bool AddUser(const std::string &name, const std::string &password, const std::string &group,
               ThrowawayUser *out) {
    std::vector<std::string> command = {"useradd", "-M", "-N", "-s", "/bin/sh"};
    if (!group.empty()) {
      command.push_back("-G");
      command.push_back(group);
    }
    command.push_back(name);
    if (RunProgram(command) != 0) return false;
    ThrowawayUser user;
    user.name = name;
    user.password = password;
    struct passwd *entry = getpwnam(name.c_str());
    if (entry != nullptr) {
      user.uid = entry->pw_uid;
      user.gid = entry->pw_gid;
    }
    users_.push_back(user);
    if (entry == nullptr || RunProgram({"chpasswd"}, name + ":" + password + "\n") != 0) {
      return false;
    }
    *out = user;
    return true;
  }

 private:
  std::vector<ThrowawayUser> users_;
  std::vector<std::string> groups_;
};

// In a child: takes on user's identity the way a set-user-ID root program
// started by that user has it once it has lowered its effective user id:
// real and effective user the user's, saved set-user-ID root (unless
// keepSavedRoot is false). Returns false when a step fails.
inline bool BecomeUser(const ThrowawayUser &user, bool keepSavedRoot = true) {
  return initgroups(user.name.c_str(), user.gid) == 0 &&
         setresgid(user.gid, user.gid, user.gid) == 0 &&
         setresuid(user.uid, user.uid, keepSavedRoot ? 0 : user.uid) == 0;
}

}  // namespace tolvan::test

#endif
