#include "plist/varn_traversal.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

#include "tests/plist/varn_test_support.hpp"

namespace {

using namespace varn_test;

// Logs every call of the appliers, and keeps what it was handed (retained)
// so that a test can look at it after the traversal.
struct Recorder {
  static void Deep(CFTypeRef node, void *context) {
    auto *self = static_cast<Recorder *>(context);
    self->calls.push_back(Describe(node));
    self->kept.push_back(CFRef<CFTypeRef>::Retain(node));
  }
  static void Shallow(CFTypeRef key, CFTypeRef value, void *context) {
    auto *self = static_cast<Recorder *>(context);
    self->calls.push_back(Text(key) + ":" + Describe(value));
    self->kept.push_back(CFRef<CFTypeRef>::Retain(key));
  }
  // Containers by their size only, so that a deep log shows each node once.
  static std::string Describe(CFTypeRef node) {
    if (CFGetTypeID(node) == CFDictionaryGetTypeID()) {
      return "{" + std::to_string(CFDictionaryGetCount(static_cast<CFDictionaryRef>(node))) + "}";
    }
    if (CFGetTypeID(node) == CFArrayGetTypeID()) {
      return "[" + std::to_string(CFArrayGetCount(static_cast<CFArrayRef>(node))) + "]";
    }
    return Text(node);
  }

  std::vector<std::string> calls;
  std::vector<CFRef<CFTypeRef>> kept;
};

using Calls = std::vector<std::string>;

class TraversalTest : public ::testing::Test {
 protected:
  CFRef<CFStringRef> ka = String("ka"), kb = String("kb"), kc = String("kc"), x = String("x"),
                     y = String("y");
  CFRef<CFNumberRef> one = Number(1), two = Number(2);
  CFRef<CFDateRef> date = CFRef<CFDateRef>::Adopt(CFDateCreate(kCFAllocatorDefault, 0));
  const UInt8 bytes[2] = {1, 2};
  CFRef<CFDataRef> data = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, bytes, 2));
};

TEST_F(TraversalTest, LeavesAreEverythingButDictionariesAndArrays) {
  auto empty_dictionary = Dictionary();
  auto dictionary = MutableDictionary({{ka.get(), one.get()}});
  auto empty_array = Array();
  auto array = Array({one.get()});
  for (CFTypeRef leaf : {CFTypeRef(x.get()), CFTypeRef(one.get()), CFTypeRef(kCFBooleanTrue),
                         CFTypeRef(data.get()), CFTypeRef(date.get())}) {
    EXPECT_TRUE(VarnPropertyListIsLeaf(leaf)) << Text(leaf);
  }
  for (CFTypeRef container : {CFTypeRef(empty_dictionary.get()), CFTypeRef(dictionary.get()),
                              CFTypeRef(empty_array.get()), CFTypeRef(array.get())}) {
    EXPECT_FALSE(VarnPropertyListIsLeaf(container)) << Text(container);
  }
}

TEST_F(TraversalTest, DeepVisitsEveryNodeBeforeItsChildren) {
  const struct {
    const char *name;
    CFRef<CFTypeRef> root;
    Calls calls;
  } cases[] = {
      {"string", Node(x), {"x"}},
      {"number", Node(one), {"#1"}},
      {"empty dictionary", Node(Dictionary()), {"{0}"}},
      {"empty array", Node(Array()), {"[0]"}},
      {"dictionary of array and empty dictionary",
       Node(Dictionary({{ka.get(), Array({one.get(), two.get()}).get()},
                        {kb.get(), Dictionary().get()}})),
       {"{2}", "[2]", "#1", "#2", "{0}"}},
      // Children follow the enumeration order, not the order of insertion.
      {"keys inserted backwards",
       Node(MutableDictionary({{kb.get(), y.get()}, {ka.get(), x.get()}})), {"{2}", "x", "y"}},
      {"mixed nesting",
       Node(Array({Dictionary({{kc.get(), x.get()}}).get(),
                   Array({y.get(), Array().get()}).get(), two.get()})),
       {"[3]", "{1}", "x", "[2]", "y", "[0]", "#2"}},
  };
  for (const auto &each : cases) {
    SCOPED_TRACE(each.name);
    Recorder recorder;
    VarnPropertyListDeepApplyFunction(each.root.get(), Recorder::Deep, &recorder);
    EXPECT_EQ(each.calls, recorder.calls);
  }
}

TEST_F(TraversalTest, ShallowVisitsDirectMembersWithTheirKeys) {
  const struct {
    const char *name;
    CFRef<CFTypeRef> container;
    Calls calls;
  } cases[] = {
      {"array", Node(Array({x.get(), y.get()})), {"#0:x", "#1:y"}},
      {"dictionary", Node(Dictionary({{kc.get(), x.get()}})), {"kc:x"}},
      {"no descent",
       Node(Dictionary({{kb.get(), Dictionary().get()}, {ka.get(), Array({one.get()}).get()}})),
       {"ka:[1]", "kb:{0}"}},
      {"empty dictionary", Node(Dictionary()), {}},
      {"empty array", Node(Array()), {}},
      {"string", Node(x), {}},
      {"number", Node(one), {}},
  };
  for (const auto &each : cases) {
    SCOPED_TRACE(each.name);
    Recorder recorder;
    VarnPropertyListShallowApplyFunction(each.container.get(), Recorder::Shallow, &recorder);
    EXPECT_EQ(each.calls, recorder.calls);
  }
}

// Indexes past the shared small integers need memory, so a long array
// shows both the release of every index number and the skipping of those
// that could not be made.
class LongArrayTest : public TraversalTest {
 protected:
  static constexpr CFIndex kLength = 300;
  LongArrayTest() {
    const std::vector<CFTypeRef> elements(kLength, x.get());
    array = CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault,
                                                   const_cast<const void **>(elements.data()),
                                                   kLength, &kCFTypeArrayCallBacks));
  }
  static Calls Expected(CFIndex first, CFIndex end) {
    Calls calls;
    for (CFIndex i = first; i < end; ++i) calls.push_back("#" + std::to_string(i) + ":x");
    return calls;
  }
  CFRef<CFArrayRef> array;
};

TEST_F(LongArrayTest, IndexNumbersBelongToTheApplierOnceKept) {
  Recorder recorder;
  VarnPropertyListShallowApplyFunction(array.get(), Recorder::Shallow, &recorder);
  EXPECT_EQ(Expected(0, kLength), recorder.calls);
  const auto &last = recorder.kept.back();
  ASSERT_EQ(CFNumberGetTypeID(), CFGetTypeID(last.get()));
  EXPECT_EQ(1, CFGetRetainCount(last.get()));
}

TEST_F(LongArrayTest, SkipsOnlyTheElementsWhoseIndexNumberWasNotMade) {
  const struct {
    long allowed;
    Calls calls;
  } cases[] = {
      {0, Expected(0, 256)},
      {1, Expected(0, 257)},
  };
  for (const auto &each : cases) {
    SCOPED_TRACE(each.allowed);
    Recorder recorder;
    {
      LimitedDefaultAllocator limited(each.allowed);
      VarnPropertyListShallowApplyFunction(array.get(), Recorder::Shallow, &recorder);
      recorder.kept.clear();
      EXPECT_EQ(0, limited.outstanding());
    }
    EXPECT_EQ(each.calls, recorder.calls);
  }
}

// Without its key list a dictionary's members go unvisited; the rest of the
// tree is still visited.
TEST_F(TraversalTest, ADictionaryWithoutAKeyListIsPassedOver) {
  constexpr CFIndex kCount = 1 << 20;
  std::vector<CFRef<CFNumberRef>> numbers;
  numbers.reserve(kCount);
  std::vector<CFTypeRef> keys(kCount);
  for (CFIndex i = 0; i < kCount; ++i) {
    numbers.push_back(Number(i));
    keys[i] = numbers.back().get();
  }
  auto big = CFRef<CFDictionaryRef>::Adopt(
      CFDictionaryCreate(kCFAllocatorDefault, keys.data(), keys.data(), kCount,
                         &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  ASSERT_TRUE(big);
  auto tree = Array({big.get(), x.get()});
  const int failed = varn_test::RunWithDataLimit(1 << 20, [&] {
    Recorder deep;
    VarnPropertyListDeepApplyFunction(tree.get(), Recorder::Deep, &deep);
    if (deep.calls != Calls({"[2]", "{" + std::to_string(kCount) + "}", "x"})) return 1;
    Recorder shallow;
    VarnPropertyListShallowApplyFunction(big.get(), Recorder::Shallow, &shallow);
    return shallow.calls.empty() ? 0 : 2;
  });
  EXPECT_EQ(0, failed);
}

// A level costs under 100 bytes of stack in an optimised build; sanitizers
// pad every frame, so they get more room.
#ifdef VARN_TEST_ASAN
constexpr size_t kStackBytes = 512 << 10;
#else
constexpr size_t kStackBytes = 128 << 10;
#endif

struct DeepRun {
  CFTypeRef root;
  long calls;
};

void *CountDeepCalls(void *argument) {
  auto *run = static_cast<DeepRun *>(argument);
  VarnPropertyListDeepApplyFunction(
      run->root, [](CFTypeRef, void *context) { ++*static_cast<long *>(context); }, &run->calls);
  return nullptr;
}

// The deepest tree the XML reader hands out must be traversable on a small
// stack: each level costs one small frame.
TEST_F(TraversalTest, DeepTraversalOfTheDeepestReadableTreeFitsASmallStack) {
  CFRef<CFTypeRef> tree = Node(x);
  for (int level = 0; level < kTolvanPropertyListMaxDepth; ++level) {
    if (level % 2 == 0) {
      tree = Node(Array({tree.get()}));
    } else {
      tree = Node(Dictionary({{ka.get(), tree.get()}}));
    }
  }
  DeepRun run = {tree.get(), 0};
  pthread_attr_t attributes;
  ASSERT_EQ(0, pthread_attr_init(&attributes));
  ASSERT_EQ(0, pthread_attr_setstacksize(&attributes, kStackBytes));
  pthread_t thread;
  ASSERT_EQ(0, pthread_create(&thread, &attributes, CountDeepCalls, &run));
  ASSERT_EQ(0, pthread_join(thread, nullptr));
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(kTolvanPropertyListMaxDepth + 1, run.calls);
}

}  // namespace
