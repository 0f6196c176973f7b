// String comparison: literal by UTF-16 units, optionally folding ASCII case
// and comparing runs of digits by their value.
#include "platform/cf/string.hpp"

using namespace tolvan::cf;

namespace {

UniChar FoldASCII(UniChar unit) {
  return (unit >= 'A' && unit <= 'Z') ? static_cast<UniChar>(unit + ('a' - 'A')) : unit;
}

bool IsDigit(UniChar unit) { return unit >= '0' && unit <= '9'; }

// Compares the digit runs starting at *i in a and *j in b by value and moves
// both indexes past them.
int CompareDigitRuns(StringView a, CFIndex *i, StringView b, CFIndex *j) {
  while (*i < a.length && a.at(*i) == '0' && *i + 1 < a.length && IsDigit(a.at(*i + 1))) ++*i;
  while (*j < b.length && b.at(*j) == '0' && *j + 1 < b.length && IsDigit(b.at(*j + 1))) ++*j;
  CFIndex a_end = *i, b_end = *j;
  while (a_end < a.length && IsDigit(a.at(a_end))) ++a_end;
  while (b_end < b.length && IsDigit(b.at(b_end))) ++b_end;
  int order = 0;
  if (a_end - *i != b_end - *j) {
    order = a_end - *i < b_end - *j ? -1 : 1;
  } else {
    for (CFIndex x = *i, y = *j; x < a_end && order == 0; ++x, ++y) {
      if (a.at(x) != b.at(y)) order = a.at(x) < b.at(y) ? -1 : 1;
    }
  }
  *i = a_end;
  *j = b_end;
  return order;
}

int CompareWithOptions(StringView a, StringView b, CFStringCompareFlags options) {
  bool fold = (options & kCFCompareCaseInsensitive) != 0;
  bool numeric = (options & kCFCompareNumerically) != 0;
  if (!fold && !numeric) return CompareViews(a, b);
  CFIndex i = 0, j = 0;
  while (i < a.length && j < b.length) {
    UniChar x = a.at(i), y = b.at(j);
    if (numeric && IsDigit(x) && IsDigit(y)) {
      int order = CompareDigitRuns(a, &i, b, &j);
      if (order != 0) return order;
      continue;
    }
    if (fold) {
      x = FoldASCII(x);
      y = FoldASCII(y);
    }
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
  CFIndex a_left = a.length - i, b_left = b.length - j;
  return a_left < b_left ? -1 : a_left > b_left ? 1 : 0;
}

}  // namespace

// Options other than case folding and numeric comparison (backwards,
// anchored, non-literal, localized) do not change a whole-string comparison
// by units and are accepted as no-ops.
CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) {
  StringView a = ViewOf(theString1, "CFStringCompare");
  StringView b = ViewOf(theString2, "CFStringCompare");
  int order = CompareWithOptions(a, b, compareOptions);
  return order < 0 ? kCFCompareLessThan : order > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}

Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) {
  StringView text = ViewOf(theString, "CFStringHasPrefix");
  StringView start = ViewOf(prefix, "CFStringHasPrefix");
  return start.length <= text.length && EqualViews(text.sub(0, start.length), start);
}

Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) {
  StringView text = ViewOf(theString, "CFStringHasSuffix");
  StringView end = ViewOf(suffix, "CFStringHasSuffix");
  return end.length <= text.length &&
         EqualViews(text.sub(text.length - end.length, end.length), end);
}
