// Pieces the request benchmarks share: starting a program on a socket
// pair, the machine-wide store's file, the floor every request is measured
// against, and timing runs in turns.
//
// The floor: a bare vfork+exec of /bin/true over a socket pair, plus one
// fsync'd rename of a file the size of the saved store (and the fsync of its
// folder), which is the least any such helper must do.
#ifndef TOLVAN_BENCH_REQUEST_FLOOR_HPP
#define TOLVAN_BENCH_REQUEST_FLOOR_HPP

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tests/support/installed_helper_tool.hpp"
#include "tool/perform_command.h"

namespace tolvan::bench {

// vfork+exec of program with argv, one end of a socket pair as its 0 and
// 1; the child may only make system calls before exec.
inline pid_t Spawn(const char *program, char *const argv[], int socket, rlim_t open_files,
            rlim_t data_limit) {
  pid_t pid = vfork();
  if (pid == 0) {
    if (open_files != 0) {
      struct rlimit limit = {open_files, open_files};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (data_limit != 0) {
      struct rlimit limit = {data_limit, data_limit};
      setrlimit(RLIMIT_DATA, &limit);
    }
    dup2(socket, 0);
    dup2(socket, 1);
    char *const empty[] = {nullptr};
    execve(program, argv, empty);
    _exit(127);
  }
  return pid;
}

inline std::string StoreFolder() {
  return std::string(TOLVAN_SYSTEM_ROOT) + "/var/lib/tolvan/preferences/ByHost";
}

// The store file of the tool's domain (there is one host id).
inline std::string StoreFile() {
  const std::string prefix = std::string(kProductPreferencesIDString) + ".";
  std::string found;
  DIR *folder = opendir(StoreFolder().c_str());
  if (folder == nullptr) return found;
  while (const dirent *entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() + 6 &&
        name.compare(name.size() - 6, 6, ".plist") == 0) {
      found = StoreFolder() + "/" + name;
    }
  }
  closedir(folder);
  return found;
}

// A file the size of the store, written, flushed and renamed over the old
// one, its folder flushed: the durable part of any save.
inline bool DurableRename(const std::string &folder, const std::string &content) {
  const std::string target = folder + "/floor.plist";
  const std::string temporary = folder + "/floor.plist.tmp";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, content.data(), content.size()) == ssize_t(content.size()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok && rename(temporary.c_str(), target.c_str()) == 0;
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = ok && dir >= 0 && fsync(dir) == 0;
  if (dir >= 0) close(dir);
  return ok;
}

inline bool RunRequestFloor(off_t store_size) {
  static const std::string folder = [] {
    std::string path = std::string(TOLVAN_SYSTEM_ROOT) + "/var/lib/tolvan/bench-floor";
    tolvan::test::MakeRootOwnedFolders(path);
    return path;
  }();
  const std::string content(size_t(store_size), 'x');
  char program[] = "/bin/true";
  char *const argv[] = {program, nullptr};
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return false;
  pid_t pid = Spawn(program, argv, sockets[1], 0, 0);
  close(sockets[1]);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  close(sockets[0]);
  return DurableRename(folder, content) && status == 0;
}

inline double Microseconds(const struct timespec &from, const struct timespec &to) {
  return double(to.tv_sec - from.tv_sec) * 1e6 + double(to.tv_nsec - from.tv_nsec) / 1e3;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// The runs take turns, so that a disk or a neighbour that slows down for a
// while weighs on all of them alike; the medians and their ratios are the
// figures to compare. The microseconds of each step, or empty on a failure.
template <size_t N>
inline bool TimeInTurns(benchmark::State &state, const std::function<bool()> (&steps)[N],
                 std::vector<double> (&times)[N]) {
  size_t turn = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < N; ++k) {
      const size_t i = (turn + k) % N;
      struct timespec from, to;
      clock_gettime(CLOCK_MONOTONIC, &from);
      const bool ok = steps[i]();
      clock_gettime(CLOCK_MONOTONIC, &to);
      if (!ok) {
        state.SkipWithError("a run failed");
        return false;
      }
      times[i].push_back(Microseconds(from, to));
    }
    ++turn;
  }
  return true;
}

}  // namespace tolvan::bench

#endif
