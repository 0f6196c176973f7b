// `tolvan-prefs write` of one key, end to end on the normal path: a valid
// copy of the helper tool (root's, 04555, the shipped file's size and time)
// is installed in the user's folder, so the program finds it, runs it and
// the tool saves. Against the floor of bench/request_floor.hpp, in turns in
// the same run. Run as root, so that the right is granted without a
// password; HOME is a folder inside the build folder.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/request_floor.hpp"
#include "tests/support/installed_helper_tool.hpp"

namespace {

using tolvan::bench::Median;

struct Setup {
  std::string error;
  std::string home;
  off_t store_size = 0;
};

std::string CopyPathIn(const std::string &home) {
  return home + "/.local/share/Tolvan/tolvan-helper";
}

// The copy a repair leaves: the template's content and times, root's, 04555.
bool InstallValidCopy(const std::string &home) {
  const std::string folder = home + "/.local/share/Tolvan";
  if (!tolvan::test::MakeRootOwnedFolders(folder)) return false;
  const std::string copy = CopyPathIn(home);
  const std::string command =
      "cp -p '" TOLVAN_HELPER_PATH "' '" + copy + "' && chmod 04555 '" + copy + "'";
  return system(command.c_str()) == 0;
}

bool RunWrite(const std::string &home) {
  static const int null_device = open("/dev/null", O_RDWR | O_CLOEXEC);
  std::string program = TOLVAN_PREFS_PATH;
  std::string home_variable = "HOME=" + home;
  char write_word[] = "write", key[] = "bench.write", value[] = "tolvan";
  char path_variable[] = "PATH=/usr/bin:/bin";
  char *const argv[] = {program.data(), write_word, key, value, nullptr};
  char *const envp[] = {home_variable.data(), path_variable, nullptr};
  pid_t pid = vfork();
  if (pid == 0) {
    dup2(null_device, 0);
    dup2(null_device, 1);
    execve(program.c_str(), argv, envp);
    _exit(127);
  }
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const Setup &TheSetup() {
  static const Setup setup = [] {
    Setup s;
    if (geteuid() != 0) {
      s.error = "run as root: the copy is installed set-user-ID root";
      return s;
    }
    if (!tolvan::test::EnsureSystemRootMachineID()) {
      s.error = "cannot write the system root's machine id";
      return s;
    }
    s.home = TOLVAN_BUILD_DIR "/bench-prefs-home";
    if (!InstallValidCopy(s.home) || !RunWrite(s.home)) {
      s.error = "tolvan-prefs write does not succeed with a valid copy installed";
      return s;
    }
    struct stat copy, store;
    if (stat(CopyPathIn(s.home).c_str(), &copy) != 0 || (copy.st_mode & 07777) != 04555) {
      s.error = "the valid copy was replaced: the write did not take the normal path";
      return s;
    }
    if (stat(tolvan::bench::StoreFile().c_str(), &store) != 0) {
      s.error = "no store file after a write";
      return s;
    }
    s.store_size = store.st_size;
    return s;
  }();
  return setup;
}

void BM_WriteAgainstFloor(benchmark::State &state) {
  if (!TheSetup().error.empty()) {
    state.SkipWithError(TheSetup().error.c_str());
    return;
  }
  const std::function<bool()> steps[] = {
      [] { return RunWrite(TheSetup().home); },
      [] { return tolvan::bench::RunRequestFloor(TheSetup().store_size); }};
  std::vector<double> times[std::size(steps)];
  if (!tolvan::bench::TimeInTurns(state, steps, times)) return;
  state.counters["write_us"] = Median(times[0]);
  state.counters["floor_us"] = Median(times[1]);
  state.counters["write_per_floor"] = Median(times[0]) / Median(times[1]);
}
BENCHMARK(BM_WriteAgainstFloor)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(5);

}  // namespace

BENCHMARK_MAIN();
