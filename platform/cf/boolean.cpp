// The two booleans: immortal constants of a type of their own.
#include "platform/cf/cf_number.h"
#include "platform/cf/object.hpp"
#include "platform/cf/string.hpp"

using tolvan::cf::Object;

struct TolvanCFBoolean {
  Object header;
};

namespace tolvan::cf {
namespace {

TolvanCFBoolean true_value = {{{1}, kBooleanTypeID, kImmortal, 0}};
TolvanCFBoolean false_value = {{{1}, kBooleanTypeID, kImmortal, 0}};

CFHashCode HashBoolean(const Object *object) {
  return object == &true_value.header ? MixHash(1) : MixHash(0);
}

int CompareBooleans(const Object *a, const Object *b, int) {
  // false before true; there are only the two objects.
  return a == b ? 0 : (a == &false_value.header ? -1 : 1);
}

bool DescribeBoolean(const Object *object, StringBuilder &out, int) {
  return out.AppendASCII(object == &true_value.header ? "true" : "false");
}

}  // namespace

const Class kBooleanClass = {"CFBoolean", nullptr, nullptr, CompareBooleans, HashBoolean,
                             DescribeBoolean};

}  // namespace tolvan::cf

using namespace tolvan::cf;

const CFBooleanRef kCFBooleanTrue = &true_value;
const CFBooleanRef kCFBooleanFalse = &false_value;

CFTypeID CFBooleanGetTypeID(void) { return kBooleanTypeID; }

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  return Checked<TolvanCFBoolean>(boolean, kBooleanTypeID, "CFBooleanGetValue") == &true_value;
}
