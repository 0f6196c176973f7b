// String constants (CFSTR): made once per distinct text, never freed.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>

#include "platform/cf/string.hpp"

using namespace tolvan::cf;

namespace {

struct ConstantTable {
  std::mutex mutex;
  // Keys view the constants' own UTF-8 text, which lives as long as they do.
  std::unordered_map<std::string_view, CFStringRef> strings;
};

ConstantTable &Table() {
  // Never destroyed: constants must outlive every static destructor that
  // might still use one.
  static ConstantTable *table = new ConstantTable;
  return *table;
}

}  // namespace

// Constants come from the system allocator whatever the default is, so that
// a test's failing default allocator cannot make a literal disappear. Running
// out of memory here, or a literal that is not UTF-8, cannot be reported to
// code that treats CFSTR as a constant: both abort.
CFStringRef TolvanCFStringMakeConstant(const char *utf8) {
  if (utf8 == nullptr) Fatal("CFSTR", "null literal");
  std::string_view text(utf8);
  ConstantTable &table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.strings.find(text);
  if (found != table.strings.end()) return found->second;
  char *owned = static_cast<char *>(std::malloc(text.size() + 1));
  if (owned == nullptr) Fatal("CFSTR", "out of memory");
  std::memcpy(owned, text.data(), text.size() + 1);
  CFStringRef string = CreateStringFromUTF8(kCFAllocatorSystemDefault,
                                            reinterpret_cast<const unsigned char *>(owned),
                                            text.size());
  if (string == nullptr) Fatal("CFSTR", "literal is not UTF-8, or out of memory");
  MutableHeader(string)->flags |= kImmortal;
  try {
    table.strings.emplace(std::string_view(owned, text.size()), string);
  } catch (const std::bad_alloc &) {
    Fatal("CFSTR", "out of memory");
  }
  return string;
}
