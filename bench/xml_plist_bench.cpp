// Reading and writing ~1 MiB XML property lists made by Python's plistlib
// (a flat dictionary of ~20,000 string and integer pairs, and a nested mix
// of dictionaries and arrays), side by side with libplist in process and
// with plistlib itself (timed by python3 in a subprocess). Ends with a
// table of MB/s, the ratios, and the heap the flat document's objects take
// per input byte.
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

#ifdef TOLVAN_HAVE_LIBPLIST
#include <plist/plist.h>
#endif

extern char **environ;

namespace {

using tolvan::CFRef;

// Both documents come out of plistlib at run time; nothing is committed.
constexpr char kGenerator[] = R"(
import plistlib, sys, datetime
flat = {}
for i in range(20000):
    flat['pref.%05d' % i] = i * 7919 if i % 2 else 'value %d' % i
nested = {'items': []}
for i in range(1300):
    nested['items'].append({
        'name': 'item %d' % i, 'id': i, 'ratio': i / 7.0, 'enabled': i % 3 == 0,
        'created': datetime.datetime(2020, 1, 1) + datetime.timedelta(seconds=i * 3600),
        'tags': ['alpha', 'beta & gamma', 'caf\u00e9 %d' % i],
        'payload': bytes(range(i % 40)),
        'child': {'depth': [1, [2, [3, {'leaf': 'x' * (i % 10)}]]]},
    })
with open(sys.argv[1] + '/flat.plist', 'wb') as f: plistlib.dump(flat, f, fmt=plistlib.FMT_XML)
with open(sys.argv[1] + '/nested.plist', 'wb') as f: plistlib.dump(nested, f, fmt=plistlib.FMT_XML)
print('made')
)";

constexpr char kPlistlibTimer[] = R"(
import plistlib, sys, time, timeit
data = open(sys.argv[1], 'rb').read()
value = plistlib.loads(data)
# CPU time, as the in-process benchmarks report, so that a busy machine
# does not favour either side.
def best(work):
    return min(timeit.repeat(work, number=3, repeat=5, timer=time.process_time)) / 3
read = best(lambda: plistlib.loads(data))
write = best(lambda: plistlib.dumps(value, fmt=plistlib.FMT_XML))
print(read, write)
)";

struct Document {
  std::string name;
  std::string bytes;
};

std::vector<Document> documents;

// MB/s by benchmark name, filled by the reporter for the table.
std::map<std::string, double> throughput;

std::string RunPython(const std::vector<std::string> &arguments) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>("python3"));
  for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  const int spawned = posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  std::string output;
  if (spawned == 0) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0) output.append(buffer, got);
    int status;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) output.clear();
  }
  close(pipe_ends[0]);
  return output;
}

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

CFRef<CFDataRef> DataOf(const std::string &bytes) {
  return CFRef<CFDataRef>::Adopt(CFDataCreateWithBytesNoCopy(
      nullptr, reinterpret_cast<const UInt8 *>(bytes.data()), static_cast<CFIndex>(bytes.size()),
      kCFAllocatorNull));
}

void TolvanRead(benchmark::State &state, const Document *document) {
  auto data = DataOf(document->bytes);
  for (auto _ : state) {
    CFPropertyListRef value =
        CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr);
    if (value == nullptr) {
      state.SkipWithError("parse failed");
      break;
    }
    CFRelease(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document->bytes.size()));
}

void TolvanWrite(benchmark::State &state, const Document *document) {
  auto data = DataOf(document->bytes);
  auto value = CFRef<CFPropertyListRef>::Adopt(
      CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr));
  if (!value) {
    state.SkipWithError("parse failed");
    return;
  }
  for (auto _ : state) {
    CFDataRef written = CFPropertyListCreateXMLData(nullptr, value.get());
    benchmark::DoNotOptimize(written);
    CFRelease(written);
  }
  // Throughput in the input document's bytes, so that the writers, whose
  // output sizes differ slightly, are compared on the same work.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document->bytes.size()));
}

#ifdef TOLVAN_HAVE_LIBPLIST
void LibplistRead(benchmark::State &state, const Document *document) {
  for (auto _ : state) {
    plist_t value = nullptr;
    plist_from_xml(document->bytes.data(), static_cast<uint32_t>(document->bytes.size()), &value);
    if (value == nullptr) {
      state.SkipWithError("libplist parse failed");
      break;
    }
    plist_free(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document->bytes.size()));
}

void LibplistWrite(benchmark::State &state, const Document *document) {
  plist_t value = nullptr;
  plist_from_xml(document->bytes.data(), static_cast<uint32_t>(document->bytes.size()), &value);
  if (value == nullptr) {
    state.SkipWithError("libplist parse failed");
    return;
  }
  for (auto _ : state) {
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(value, &xml, &length);
    benchmark::DoNotOptimize(xml);
    plist_to_xml_free(xml);
  }
  plist_free(value);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document->bytes.size()));
}
#endif

class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      auto rate = run.counters.find("bytes_per_second");
      if (rate != run.counters.end() && run.aggregate_name.empty()) {
        throughput[run.benchmark_name()] = rate->second.value / 1e6;
      }
    }
  }
};

struct Heap {
  double requested_per_byte = 0;  // bytes the objects asked for
  double malloc_per_byte = 0;     // what the C library's heap grew by
};

// Live bytes requested through the default allocator.
long live_bytes = 0;

void *CountingAllocate(CFIndex size, CFOptionFlags, void *) {
  auto *block = static_cast<long *>(std::malloc(static_cast<size_t>(size) + 16));
  if (block == nullptr) return nullptr;
  block[0] = size;
  live_bytes += size;
  return block + 2;
}

void *CountingReallocate(void *pointer, CFIndex size, CFOptionFlags, void *) {
  auto *block = static_cast<long *>(pointer) - 2;
  const long old_size = block[0];
  block = static_cast<long *>(std::realloc(block, static_cast<size_t>(size) + 16));
  if (block == nullptr) return nullptr;
  live_bytes += size - old_size;
  block[0] = size;
  return block + 2;
}

void CountingDeallocate(void *pointer, void *) {
  auto *block = static_cast<long *>(pointer) - 2;
  live_bytes -= block[0];
  std::free(block);
}

Heap MeasureHeap(const Document &document) {
  Heap heap;
  auto data = DataOf(document.bytes);
  const double size = static_cast<double>(document.bytes.size());
  {
    CFAllocatorContext context = {0, nullptr, nullptr, nullptr, nullptr, CountingAllocate,
                                  CountingReallocate, CountingDeallocate, nullptr};
    auto counting = CFRef<CFAllocatorRef>::Adopt(CFAllocatorCreate(nullptr, &context));
    CFAllocatorSetDefault(counting.get());
    const long before = live_bytes;
    CFPropertyListRef value =
        CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr);
    heap.requested_per_byte = static_cast<double>(live_bytes - before) / size;
    if (value != nullptr) CFRelease(value);
    CFAllocatorSetDefault(nullptr);
  }
  malloc_trim(0);
  const size_t before = mallinfo2().uordblks;
  CFPropertyListRef value =
      CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr);
  heap.malloc_per_byte = static_cast<double>(mallinfo2().uordblks - before) / size;
  if (value != nullptr) CFRelease(value);
  return heap;
}

void PrintTable(const std::map<std::string, std::pair<double, double>> &plistlib) {
  std::printf("\n%-8s %-6s %10s %10s %10s %12s %12s\n", "document", "op", "ours MB/s",
              "libplist", "plistlib", "x libplist", "x plistlib");
  for (const Document &document : documents) {
    for (const char *op : {"read", "write"}) {
      const bool reading = std::string(op) == "read";
      const std::string suffix = "/" + document.name;
      const double ours = throughput[std::string(reading ? "TolvanRead" : "TolvanWrite") + suffix];
      const double theirs =
          throughput[std::string(reading ? "LibplistRead" : "LibplistWrite") + suffix];
      double python = 0;
      auto found = plistlib.find(document.name);
      if (found != plistlib.end()) {
        const double seconds = reading ? found->second.first : found->second.second;
        if (seconds > 0) python = static_cast<double>(document.bytes.size()) / seconds / 1e6;
      }
      std::printf("%-8s %-6s %10.1f %10.1f %10.1f %12.2f %12.2f\n", document.name.c_str(), op,
                  ours, theirs, python, theirs > 0 ? ours / theirs : 0.0,
                  python > 0 ? ours / python : 0.0);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  std::string pattern = (std::filesystem::temp_directory_path() / "tolvan-xml-bench.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const std::filesystem::path folder = pattern;
  if (RunPython({"-c", kGenerator, folder.string()}).empty()) {
    std::fprintf(stderr, "python3 with plistlib is needed to make the documents\n");
    std::filesystem::remove_all(folder);
    return 1;
  }
  for (const char *name : {"flat", "nested"}) {
    documents.push_back({name, ReadFile(folder / (std::string(name) + ".plist"))});
  }
  std::map<std::string, std::pair<double, double>> plistlib;
  for (const Document &document : documents) {
    std::istringstream seconds(
        RunPython({"-c", kPlistlibTimer, (folder / (document.name + ".plist")).string()}));
    double read = 0, write = 0;
    if (seconds >> read >> write) plistlib[document.name] = {read, write};
  }
  std::filesystem::remove_all(folder);

  for (const Document &document : documents) {
    benchmark::RegisterBenchmark(("TolvanRead/" + document.name).c_str(), TolvanRead, &document)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("TolvanWrite/" + document.name).c_str(), TolvanWrite, &document)
        ->Unit(benchmark::kMillisecond);
#ifdef TOLVAN_HAVE_LIBPLIST
    benchmark::RegisterBenchmark(("LibplistRead/" + document.name).c_str(), LibplistRead,
                                 &document)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("LibplistWrite/" + document.name).c_str(), LibplistWrite,
                                 &document)
        ->Unit(benchmark::kMillisecond);
#endif
  }
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  PrintTable(plistlib);
  for (const Document &document : documents) {
    const Heap heap = MeasureHeap(document);
    std::printf("%-8s %zu bytes; heap per input byte: %.2f requested, %.2f from malloc\n",
                document.name.c_str(), document.bytes.size(), heap.requested_per_byte,
                heap.malloc_per_byte);
  }
  return 0;
}
