// What every object shares: reference counts, immortal constants, type ids
// and their names, equality across types, and classes registered from
// outside the layer.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/cf/cf.h"
#include "platform/cf/cf_ref.hpp"
#include "platform/cf/object.hpp"

namespace tolvan {
namespace {

std::string TypeName(CFTypeID type) {
  auto name = CFRef<CFStringRef>::Adopt(CFCopyTypeIDDescription(type));
  if (!name) return "<none>";
  char buffer[64];
  CFStringGetCString(name.get(), buffer, sizeof buffer, kCFStringEncodingUTF8);
  return buffer;
}

TEST(Object, ReferenceCountsFollowRetainAndRelease) {
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, nullptr, 0));
  EXPECT_EQ(CFGetRetainCount(data.get()), 1);
  EXPECT_EQ(CFRetain(data.get()), data.get());
  EXPECT_EQ(CFGetRetainCount(data.get()), 2);
  {
    CFRef<CFDataRef> copy = data;
    EXPECT_EQ(CFGetRetainCount(data.get()), 3);
  }
  CFRelease(data.get());
  EXPECT_EQ(CFGetRetainCount(data.get()), 1);
}

TEST(Object, CountsAreExactAcrossThreads) {
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreate(kCFAllocatorDefault, nullptr, 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&data] {
      for (int i = 0; i < 100000; ++i) {
        CFRetain(data.get());
        CFRelease(data.get());
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(CFGetRetainCount(data.get()), 1);
}

TEST(Object, TypeIDsAreDistinctAndNamed) {
  struct Case {
    CFTypeID type;
    const char *name;
  };
  const Case cases[] = {
      {CFAllocatorGetTypeID(), "CFAllocator"}, {CFStringGetTypeID(), "CFString"},
      {CFNumberGetTypeID(), "CFNumber"},       {CFBooleanGetTypeID(), "CFBoolean"},
      {CFDateGetTypeID(), "CFDate"},           {CFDataGetTypeID(), "CFData"},
      {CFArrayGetTypeID(), "CFArray"},         {CFDictionaryGetTypeID(), "CFDictionary"},
  };
  for (const Case &c : cases) EXPECT_EQ(TypeName(c.type), c.name);
  for (const Case &a : cases) {
    for (const Case &b : cases) EXPECT_EQ(a.type == b.type, a.name == b.name);
  }
  EXPECT_EQ(TypeName(0), "<none>");
  EXPECT_EQ(TypeName(100000), "<none>");
  EXPECT_FALSE(CFEqual(CFSTR("1"), kCFBooleanTrue)) << "objects of different types are never equal";
}

// A family defined elsewhere (URLs, bundles) registers a class of its own.
struct Tagged {
  cf::Object header;
  int tag;
};

int finalized = 0;

bool EqualTagged(const cf::Object *a, const cf::Object *b, int) {
  return reinterpret_cast<const Tagged *>(a)->tag == reinterpret_cast<const Tagged *>(b)->tag;
}

CFHashCode HashTagged(const cf::Object *object) {
  return static_cast<CFHashCode>(reinterpret_cast<const Tagged *>(object)->tag);
}

const cf::Class kTaggedClass = {"TestTagged", [](cf::Object *) { ++finalized; }, EqualTagged,
                                nullptr, HashTagged, nullptr};

TEST(Object, RegisteredClassesBehaveLikeBuiltIns) {
  static const CFTypeID type = cf::RegisterClass(&kTaggedClass);
  EXPECT_GE(type, CFDictionaryGetTypeID() + 1);
  auto make = [](int tag) {
    auto *object = cf::Create<Tagged>(kCFAllocatorDefault, type, sizeof(Tagged));
    object->tag = tag;
    return CFRef<CFTypeRef>::Adopt(object);
  };
  auto a = make(7), b = make(7), c = make(8);
  EXPECT_EQ(CFGetTypeID(a.get()), type);
  EXPECT_EQ(TypeName(type), "TestTagged");
  EXPECT_TRUE(CFEqual(a.get(), b.get()));
  EXPECT_FALSE(CFEqual(a.get(), c.get()));
  EXPECT_EQ(CFHash(a.get()), 7u);
  auto description = CFRef<CFStringRef>::Adopt(CFCopyDescription(a.get()));
  char text[64];
  CFStringGetCString(description.get(), text, sizeof text, kCFStringEncodingUTF8);
  EXPECT_EQ(std::string(text).rfind("<TestTagged 0x", 0), 0u) << text;
  // Dictionary keys with equality but no order fall back to the index.
  const void *keys[12];
  std::vector<CFRef<CFTypeRef>> owned;
  for (int i = 0; i < 12; ++i) {
    owned.push_back(make(i));
    keys[i] = owned.back().get();
  }
  const void *values[12] = {};
  for (const void *&value : values) value = kCFBooleanTrue;
  auto dict = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      kCFAllocatorDefault, keys, values, 12, &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  EXPECT_TRUE(CFDictionaryContainsKey(dict.get(), make(11).get()));
  EXPECT_FALSE(CFDictionaryContainsKey(dict.get(), make(12).get()));
  int before = finalized;
  a.reset();
  EXPECT_EQ(finalized, before + 1);
}

// The helper tool parses under a 512 KiB stack, and the reader allows 512
// levels of nesting: comparing, describing and releasing such a tree must
// fit in that stack.
TEST(Object, DeepestDocumentFitsTheToolsStack) {
  auto job = [](void *) -> void * {
    auto build = [] {
      CFRef<CFTypeRef> node = CFRef<CFTypeRef>::Retain(CFSTR("leaf"));
      for (int level = 0; level < kTolvanPropertyListMaxDepth; ++level) {
        const void *member = node.get();
        if (level % 2 == 0) {
          node = CFRef<CFTypeRef>::Adopt(
              CFArrayCreate(kCFAllocatorDefault, &member, 1, &kCFTypeArrayCallBacks));
        } else {
          const void *key = CFSTR("k");
          node = CFRef<CFTypeRef>::Adopt(CFDictionaryCreate(
              kCFAllocatorDefault, &key, &member, 1, &kCFTypeDictionaryKeyCallBacks,
              &kCFTypeDictionaryValueCallBacks));
        }
      }
      return node;
    };
    CFRef<CFTypeRef> a = build(), b = build();
    bool equal = CFEqual(a.get(), b.get());
    auto description = CFRef<CFStringRef>::Adopt(CFCopyDescription(a.get()));
    return reinterpret_cast<void *>(equal && description);
  };
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 512 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, job, nullptr), 0);
  void *result = nullptr;
  pthread_join(thread, &result);
  pthread_attr_destroy(&attributes);
  EXPECT_NE(result, nullptr);
}

TEST(ObjectDeathTest, MisuseAbortsLoudly) {
  EXPECT_DEATH(CFRetain(nullptr), "CFRetain: null reference");
  EXPECT_DEATH(CFRelease(nullptr), "CFRelease: null reference");
  EXPECT_DEATH(CFEqual(CFSTR("x"), nullptr), "CFEqual: null reference");
}

}  // namespace
}  // namespace tolvan
