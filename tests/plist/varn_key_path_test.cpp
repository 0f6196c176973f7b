#include "plist/varn_key_path.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/plist/varn_test_support.hpp"

namespace {

using namespace varn_test;

using Keys = std::vector<CFTypeRef>;

CFRef<CFArrayRef> PathArray(const Keys &keys) {
  return CFRef<CFArrayRef>::Adopt(CFArrayCreate(kCFAllocatorDefault,
                                                const_cast<const void **>(keys.data()),
                                                static_cast<CFIndex>(keys.size()),
                                                &kCFTypeArrayCallBacks));
}

// A path in both of its forms, made up front so that a test may run the
// call itself under a failing allocator.
struct Path {
  Path(std::initializer_list<CFTypeRef> list) : keys(list), array(PathArray(keys)) {}
  CFIndex count() const { return static_cast<CFIndex>(keys.size()); }
  Keys keys;
  CFRef<CFArrayRef> array;
};

// The two ways of passing a path, so that every case runs through both.
struct PathForm {
  const char *name;
  OSStatus (*get)(CFDictionaryRef, const Path &, CFTypeRef *);
  OSStatus (*set)(CFMutableDictionaryRef, const Path &, CFTypeRef);
  OSStatus (*remove)(CFMutableDictionaryRef, const Path &);
};

const PathForm kCArrayForm = {
    "CArray",
    [](CFDictionaryRef d, const Path &p, CFTypeRef *v) {
      return VarnDictionaryGetValueAtPath(d, p.keys.data(), p.count(), v);
    },
    [](CFMutableDictionaryRef d, const Path &p, CFTypeRef v) {
      return VarnDictionarySetValueAtPath(d, p.keys.data(), p.count(), v);
    },
    [](CFMutableDictionaryRef d, const Path &p) {
      return VarnDictionaryRemoveValueAtPath(d, p.keys.data(), p.count());
    },
};

const PathForm kArrayForm = {
    "PathArray",
    [](CFDictionaryRef d, const Path &p, CFTypeRef *v) {
      return VarnDictionaryGetValueAtPathArray(d, p.array.get(), v);
    },
    [](CFMutableDictionaryRef d, const Path &p, CFTypeRef v) {
      return VarnDictionarySetValueAtPathArray(d, p.array.get(), v);
    },
    [](CFMutableDictionaryRef d, const Path &p) {
      return VarnDictionaryRemoveValueAtPathArray(d, p.array.get());
    },
};

class KeyPathTest : public ::testing::TestWithParam<PathForm> {
 protected:
  const PathForm &form() const { return GetParam(); }

  CFTypeRef At(CFDictionaryRef dictionary, const Path &path) const {
    CFTypeRef value = nullptr;
    return form().get(dictionary, path, &value) == noErr ? value : nullptr;
  }

  CFRef<CFStringRef> a = String("a"), b = String("b"), c = String("c"), s = String("s"),
                     x = String("x"), y = String("y");
  CFRef<CFNumberRef> one = Number(1), two = Number(2);
  CFTypeRef stored = two.get();
};

void PrintTo(const PathForm &form, std::ostream *out) { *out << form.name; }

std::string FormName(const ::testing::TestParamInfo<PathForm> &form) { return form.param.name; }

INSTANTIATE_TEST_SUITE_P(BothForms, KeyPathTest, ::testing::Values(kCArrayForm, kArrayForm),
                         FormName);

// Each case starts from a fresh mutable top level whose inner dictionaries
// are immutable, as a freshly read property list has them.
TEST_P(KeyPathTest, StatusesAndResultingContent) {
  auto s_string = String("text");
  auto index_key = Number(7);
  double seven = 7.0;
  auto seven_real = CFRef<CFNumberRef>::Adopt(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &seven));
  const struct {
    const char *name;
    std::function<CFRef<CFMutableDictionaryRef>()> make;
    Path path;
    OSStatus get, set, remove;
    const char *after_set, *after_remove;  // content after a successful call
  } cases[] = {
      {"one key", [&] { return MutableDictionary({{a.get(), one.get()}}); }, {a.get()},
       noErr, noErr, noErr, "{a=#2}", "{}"},
      {"one missing key", [&] { return MutableDictionary(); }, {a.get()},
       kVarnNoSuchKeyErr, noErr, kVarnNoSuchKeyErr, "{a=#2}", nullptr},
      {"string on the way", [&] { return MutableDictionary({{a.get(), s_string.get()}}); },
       {a.get(), b.get()}, kVarnBadValueErr, kVarnBadValueErr, kVarnBadValueErr, nullptr, nullptr},
      {"array on the way",
       [&] { return MutableDictionary({{a.get(), Array({Dictionary().get()}).get()}}); },
       {a.get(), b.get()}, kVarnBadValueErr, kVarnBadValueErr, kVarnBadValueErr, nullptr, nullptr},
      {"missing level", [&] { return MutableDictionary(); }, {x.get(), y.get()},
       kVarnNoSuchKeyErr, kVarnNoSuchKeyErr, kVarnNoSuchKeyErr, nullptr, nullptr},
      {"empty inner", [&] { return MutableDictionary({{a.get(), Dictionary().get()}}); },
       {a.get(), b.get()}, kVarnNoSuchKeyErr, noErr, kVarnNoSuchKeyErr, "{a={b=#2}}", nullptr},
      {"other inner key",
       [&] { return MutableDictionary({{a.get(), Dictionary({{c.get(), one.get()}}).get()}}); },
       {a.get(), b.get()}, kVarnNoSuchKeyErr, noErr, kVarnNoSuchKeyErr, "{a={b=#2,c=#1}}",
       nullptr},
      {"three levels",
       [&] {
         auto inner = Dictionary({{c.get(), one.get()}});
         return MutableDictionary({{a.get(), Dictionary({{b.get(), inner.get()}}).get()}});
       },
       {a.get(), b.get(), c.get()}, noErr, noErr, noErr, "{a={b={c=#2}}}", "{a={b={}}}"},
      // Keys are matched by the dictionaries' equality: 7 and 7.0 are one key.
      {"number keys",
       [&] { return MutableDictionary({{index_key.get(), Dictionary({{x.get(), one.get()}}).get()}}); },
       {seven_real.get(), x.get()}, noErr, noErr, noErr, "{#7={x=#2}}", "{#7={}}"},
      {"no keys", [&] { return MutableDictionary({{a.get(), one.get()}}); }, {},
       paramErr, paramErr, paramErr, nullptr, nullptr},
  };
  for (const auto &each : cases) {
    SCOPED_TRACE(each.name);
    auto original = each.make();
    const std::string before = Text(original.get());

    CFTypeRef value = nullptr;
    EXPECT_EQ(each.get, form().get(original.get(), each.path, &value));
    // Every path that exists here leads to the very object `one`, lent.
    if (each.get == noErr) {
      EXPECT_EQ(one.get(), value);
    }
    EXPECT_EQ(before, Text(original.get()));

    auto target = each.make();
    EXPECT_EQ(each.set, form().set(target.get(), each.path, stored));
    EXPECT_EQ(each.set == noErr ? each.after_set : before, Text(target.get()));
    if (each.set == noErr) {
      EXPECT_EQ(stored, At(target.get(), each.path));
    }

    target = each.make();
    EXPECT_EQ(each.remove, form().remove(target.get(), each.path));
    EXPECT_EQ(each.remove == noErr ? each.after_remove : before, Text(target.get()));
  }
}

}  // namespace

namespace {

CFTypeRef Inner(CFDictionaryRef dictionary, CFTypeRef key) {
  return CFDictionaryGetValue(dictionary, key);
}

TEST_P(KeyPathTest, OneKeyPathCopiesNothing) {
  auto nested = Dictionary({{x.get(), one.get()}});
  auto top = MutableDictionary({{a.get(), one.get()}, {b.get(), nested.get()}});
  ASSERT_EQ(noErr, form().set(top.get(), {a.get()}, stored));
  EXPECT_EQ(nested.get(), Inner(top.get(), b.get()));
  ASSERT_EQ(noErr, form().remove(top.get(), {a.get()}));
  EXPECT_EQ(nested.get(), Inner(top.get(), b.get()));
}

// A dictionary on the path is replaced, never changed: whoever still holds
// the old one sees its old content, and a sibling off the path stays shared.
TEST_P(KeyPathTest, SetReplacesEveryLevelOnThePathWithAFreshCopy) {
  auto old_b = Dictionary({{c.get(), one.get()}});
  auto sibling = Dictionary({{x.get(), one.get()}});
  auto old_a = Dictionary({{b.get(), old_b.get()}, {s.get(), sibling.get()}});
  auto top = MutableDictionary({{a.get(), old_a.get()}});

  ASSERT_EQ(noErr, form().set(top.get(), {a.get(), b.get(), c.get()}, stored));
  auto new_a = static_cast<CFDictionaryRef>(Inner(top.get(), a.get()));
  EXPECT_NE(old_a.get(), new_a);
  EXPECT_NE(old_b.get(), Inner(new_a, b.get()));
  EXPECT_EQ(sibling.get(), Inner(new_a, s.get()));
  EXPECT_EQ("{b={c=#1},s={x=#1}}", Text(old_a.get()));
  EXPECT_EQ("{c=#1}", Text(old_b.get()));
  EXPECT_EQ("{a={b={c=#2},s={x=#1}}}", Text(top.get()));

  // Already mutable levels are copied again on the next call.
  auto first_copy = CFRef<CFTypeRef>::Retain(new_a);
  ASSERT_EQ(noErr, form().set(top.get(), {a.get(), b.get(), c.get()}, one.get()));
  EXPECT_NE(first_copy.get(), Inner(top.get(), a.get()));
  EXPECT_EQ("{b={c=#2},s={x=#1}}", Text(first_copy.get()));
}

TEST_P(KeyPathTest, SetIntoAnEmptyInnerDictionaryLeavesTheOldOneEmpty) {
  auto old_a = Dictionary();
  auto top = MutableDictionary({{a.get(), old_a.get()}});
  ASSERT_EQ(noErr, form().set(top.get(), {a.get(), b.get()}, stored));
  EXPECT_NE(old_a.get(), Inner(top.get(), a.get()));
  EXPECT_EQ("{}", Text(old_a.get()));
  EXPECT_EQ("{a={b=#2}}", Text(top.get()));
}

// A call that fails past the first level keeps the copies it made (equal in
// content) and touches neither the target nor the replaced dictionaries.
TEST_P(KeyPathTest, FailureKeepsTheCopiesAlreadyMade) {
  auto text = String("text");
  const struct {
    const char *name;
    Path path;
    bool remove;
    OSStatus status;
  } cases[] = {
      {"set through a string", {a.get(), s.get(), c.get()}, false, kVarnBadValueErr},
      {"set through a missing level", {a.get(), y.get(), c.get()}, false, kVarnNoSuchKeyErr},
      {"remove a missing target", {a.get(), y.get()}, true, kVarnNoSuchKeyErr},
      {"remove through a string", {a.get(), s.get(), c.get()}, true, kVarnBadValueErr},
  };
  for (const auto &each : cases) {
    SCOPED_TRACE(each.name);
    auto old_a = Dictionary({{s.get(), text.get()}, {c.get(), one.get()}});
    auto top = MutableDictionary({{a.get(), old_a.get()}});
    const std::string before = Text(top.get());
    EXPECT_EQ(each.status, each.remove ? form().remove(top.get(), each.path)
                                       : form().set(top.get(), each.path, stored));
    EXPECT_NE(old_a.get(), Inner(top.get(), a.get()));
    EXPECT_EQ(before, Text(top.get()));
    EXPECT_EQ("{c=#1,s=text}", Text(old_a.get()));
  }
}

TEST_P(KeyPathTest, RemoveLeavesAnEmptiedParentInPlace) {
  auto top = MutableDictionary({{a.get(), Dictionary({{b.get(), one.get()}}).get()}});
  ASSERT_EQ(noErr, form().remove(top.get(), {a.get(), b.get()}));
  EXPECT_EQ("{a={}}", Text(top.get()));
}

// For every point at which memory can run out, the call either succeeds or
// reports it, and the content is whole either way.
TEST_P(KeyPathTest, OutOfMemoryAtAnyPointLeavesTheContentWhole) {
  auto inner = Dictionary({{c.get(), one.get()}});
  const Path path = {a.get(), b.get(), c.get()};
  bool succeeded = false;
  for (long allowed = 0; !succeeded && allowed < 100; ++allowed) {
    SCOPED_TRACE(allowed);
    auto old_a = Dictionary({{b.get(), inner.get()}});
    auto top = MutableDictionary({{a.get(), old_a.get()}});
    OSStatus status;
    {
      LimitedDefaultAllocator limited(allowed);
      status = form().set(top.get(), path, stored);
    }
    succeeded = status == noErr;
    if (!succeeded) {
      EXPECT_TRUE(status == coreFoundationUnknownErr || status == memFullErr) << status;
      EXPECT_EQ("{a={b={c=#1}}}", Text(top.get()));
      if (allowed == 0) {
        EXPECT_EQ(old_a.get(), Inner(top.get(), a.get()));
      }
    } else {
      EXPECT_EQ("{a={b={c=#2}}}", Text(top.get()));
    }
    EXPECT_EQ("{b={c=#1}}", Text(old_a.get()));
  }
  EXPECT_TRUE(succeeded);
}

TEST_P(KeyPathTest, SetReportsAParentWithNoRoomForTheTarget) {
  auto full = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  ASSERT_TRUE(CFDictionarySetValue(full.get(), x.get(), one.get()));
  EXPECT_EQ(memFullErr, form().set(full.get(), {a.get()}, stored));
  EXPECT_EQ("{x=#1}", Text(full.get()));
  EXPECT_EQ(noErr, form().set(full.get(), {x.get()}, stored));
  EXPECT_EQ("{x=#2}", Text(full.get()));
}

TEST(KeyPathArrayFormTest, AllocationFailureComesBeforeAnyLookup) {
  // A path long enough that its key list cannot fit under the limit; its
  // first key is missing, so a lookup would answer 5400.
  auto missing = String("missing");
  const Keys keys(1 << 21, missing.get());
  auto path = PathArray(keys);
  auto top = MutableDictionary();
  ASSERT_TRUE(path);
  const int failed = varn_test::RunWithDataLimit(1 << 20, [&] {
    CFTypeRef value = nullptr;
    if (VarnDictionaryGetValueAtPathArray(top.get(), path.get(), &value) != memFullErr) return 1;
    if (VarnDictionarySetValueAtPathArray(top.get(), path.get(), missing.get()) != memFullErr) {
      return 2;
    }
    if (VarnDictionaryRemoveValueAtPathArray(top.get(), path.get()) != memFullErr) return 3;
    return value == nullptr && CFDictionaryGetCount(top.get()) == 0 ? 0 : 4;
  });
  EXPECT_EQ(0, failed);
}

}  // namespace
