// Shared fixtures of the property-list utility tests: building values,
// reading them back as text, a default allocator that runs out of memory on
// demand, and a child process whose heap cannot grow.
#ifndef TOLVAN_TESTS_PLIST_VARN_TEST_SUPPORT_HPP
#define TOLVAN_TESTS_PLIST_VARN_TEST_SUPPORT_HPP

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"

// Out-of-memory tests need malloc to answer null rather than the sanitizer
// stopping the program.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARN_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VARN_TEST_ASAN 1
#endif
#ifdef VARN_TEST_ASAN
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace varn_test {

using tolvan::CFRef;

inline CFRef<CFStringRef> String(const char *utf8) {
  return CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(kCFAllocatorDefault, utf8, kCFStringEncodingUTF8));
}

inline CFRef<CFNumberRef> Number(long value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberLongType, &value));
}

using Pairs = std::initializer_list<std::pair<CFTypeRef, CFTypeRef>>;

inline CFRef<CFMutableDictionaryRef> MutableDictionary(Pairs pairs = {}) {
  auto dictionary = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (const auto &[key, value] : pairs) CFDictionarySetValue(dictionary.get(), key, value);
  return dictionary;
}

inline CFRef<CFDictionaryRef> Dictionary(Pairs pairs = {}) {
  auto mutable_dictionary = MutableDictionary(pairs);
  return CFRef<CFDictionaryRef>::Adopt(
      CFDictionaryCreateCopy(kCFAllocatorDefault, mutable_dictionary.get()));
}

inline CFRef<CFArrayRef> Array(std::initializer_list<CFTypeRef> values = {}) {
  return CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault,
                                                const_cast<const void **>(values.begin()),
                                                static_cast<CFIndex>(values.size()),
                                                &kCFTypeArrayCallBacks));
}

// Any reference as a plain CFTypeRef holder, for tables of mixed values.
template <typename Ref>
CFRef<CFTypeRef> Node(const CFRef<Ref> &ref) {
  return CFRef<CFTypeRef>::Retain(ref.get());
}

// A compact text of a value for comparing whole trees in one expectation:
// strings as themselves, numbers as #n, containers as {k=v,...} and [v,...]
// in enumeration order.
inline std::string Text(CFTypeRef value);

inline std::string StringText(CFStringRef string) {
  char buffer[256];
  if (!CFStringGetCString(string, buffer, sizeof buffer, kCFStringEncodingUTF8)) return "?";
  return buffer;
}

inline std::string NumberText(CFNumberRef number) {
  long value = 0;
  if (!CFNumberGetValue(number, kCFNumberLongType, &value)) return "#?";
  return "#" + std::to_string(value);
}

inline std::string DictionaryText(CFDictionaryRef dictionary) {
  const CFIndex count = CFDictionaryGetCount(dictionary);
  std::string text = "{";
  std::unique_ptr<CFTypeRef[]> keys(new CFTypeRef[count + 1]);
  std::unique_ptr<CFTypeRef[]> values(new CFTypeRef[count + 1]);
  CFDictionaryGetKeysAndValues(dictionary, keys.get(), values.get());
  for (CFIndex i = 0; i < count; ++i) {
    text += (i > 0 ? "," : "") + Text(keys[i]) + "=" + Text(values[i]);
  }
  return text + "}";
}

inline std::string ArrayText(CFArrayRef array) {
  std::string text = "[";
  for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
    text += (i > 0 ? "," : "") + Text(CFArrayGetValueAtIndex(array, i));
  }
  return text + "]";
}

inline std::string Text(CFTypeRef value) {
  if (value == nullptr) return "null";
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) return StringText(static_cast<CFStringRef>(value));
  if (type == CFNumberGetTypeID()) return NumberText(static_cast<CFNumberRef>(value));
  if (type == CFBooleanGetTypeID()) {
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "true" : "false";
  }
  if (type == CFDictionaryGetTypeID()) return DictionaryText(static_cast<CFDictionaryRef>(value));
  if (type == CFArrayGetTypeID()) return ArrayText(static_cast<CFArrayRef>(value));
  return "<other>";
}

// Installed as the default allocator for its lifetime: it serves the first
// `allowed` allocations and refuses every later one, and counts the blocks
// still outstanding. Its counters belong to the allocator object, which the
// objects made with it keep alive, so they may outlive this holder.
class LimitedDefaultAllocator {
 public:
  explicit LimitedDefaultAllocator(long allowed) : state_(new State{allowed, 0, 0}) {
    CFAllocatorContext context = {};
    context.info = state_;
    context.release = [](const void *info) { delete static_cast<const State *>(info); };
    context.allocate = Allocate;
    context.reallocate = Reallocate;
    context.deallocate = Deallocate;
    allocator_ = CFAllocatorCreate(kCFAllocatorSystemDefault, &context);
    CFAllocatorSetDefault(allocator_);
  }
  ~LimitedDefaultAllocator() {
    CFAllocatorSetDefault(nullptr);
    CFRelease(allocator_);
  }
  LimitedDefaultAllocator(const LimitedDefaultAllocator &) = delete;
  LimitedDefaultAllocator &operator=(const LimitedDefaultAllocator &) = delete;

  long outstanding() const { return state_->outstanding; }
  // Lets everything through from now on (to build what the checks need).
  void Unlimit() { state_->allowed = -1; }

 private:
  struct State {
    long allowed;
    long served;
    long outstanding;
    bool MayServe() const { return allowed < 0 || served < allowed; }
  };

  static void *Allocate(CFIndex size, CFOptionFlags, void *info) {
    auto *state = static_cast<State *>(info);
    if (!state->MayServe()) return nullptr;
    void *block = std::malloc(static_cast<size_t>(size));
    if (block != nullptr) {
      ++state->served;
      ++state->outstanding;
    }
    return block;
  }
  static void *Reallocate(void *block, CFIndex size, CFOptionFlags, void *info) {
    if (block == nullptr) return Allocate(size, 0, info);
    auto *state = static_cast<State *>(info);
    if (!state->MayServe()) return nullptr;
    void *moved = std::realloc(block, static_cast<size_t>(size));
    if (moved != nullptr) ++state->served;
    return moved;
  }
  static void Deallocate(void *block, void *info) {
    --static_cast<State *>(info)->outstanding;
    std::free(block);
  }

  State *state_;
  CFAllocatorRef allocator_ = nullptr;
};

// Runs body in a child process whose data segment may grow by at most
// `slack` bytes beyond what it holds when body starts, so that a large
// malloc fails there. Returns body's result (0 meaning every check held), or
// -1 when the child did not end normally.
inline int RunWithDataLimit(size_t slack, const std::function<int()> &body) {
  const pid_t child = fork();
  if (child == 0) {
    FILE *status = std::fopen("/proc/self/status", "re");
    char line[256];
    unsigned long data_kib = 0;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "VmData: %lu kB", &data_kib) == 1) break;
    }
    if (status != nullptr) std::fclose(status);
    struct rlimit limit;
    getrlimit(RLIMIT_DATA, &limit);
    limit.rlim_cur = data_kib * 1024 + slack;
    if (data_kib == 0 || setrlimit(RLIMIT_DATA, &limit) != 0) _exit(125);
    _exit(body());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace varn_test

#endif
