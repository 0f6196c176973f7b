#include "platform/cf/iso8601_date.hpp"

#include <cmath>
#include <cstdint>

#include "platform/cf/xml_chars.hpp"

namespace tolvan {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z in seconds since 1970.
constexpr double kFirstUnixSecond = -62135596800.0;
constexpr double kLastUnixSecond = 253402300799.0;

// Days since 1970-01-01 of a proleptic Gregorian date, counted in whole
// 400-year eras so that the arithmetic is exact for every year we accept.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

struct CivilDate {
  int64_t year, month, day;
};

CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;
  const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  return {year_of_era + era * 400 + (month <= 2), month, day};
}

bool IsLeapYear(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int64_t DaysInMonth(int64_t year, int64_t month) {
  constexpr int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

void WriteDigits(int64_t value, int count, char *out) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

bool ReadDigits(const char *text, int count, int64_t *value) {
  int64_t result = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    result = result * 10 + (text[i] - '0');
  }
  *value = result;
  return true;
}

}  // namespace

bool FormatIso8601Date(CFAbsoluteTime at, char out[kIso8601DateLength]) {
  const double unix_time = std::floor(at + kCFAbsoluteTimeIntervalSince1970);
  if (!(unix_time >= kFirstUnixSecond && unix_time <= kLastUnixSecond)) return false;
  const auto seconds = static_cast<int64_t>(unix_time);
  int64_t days = seconds / kSecondsPerDay;
  int64_t second_of_day = seconds % kSecondsPerDay;
  if (second_of_day < 0) {
    second_of_day += kSecondsPerDay;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  WriteDigits(date.year, 4, out);
  out[4] = '-';
  WriteDigits(date.month, 2, out + 5);
  out[7] = '-';
  WriteDigits(date.day, 2, out + 8);
  out[10] = 'T';
  WriteDigits(second_of_day / 3600, 2, out + 11);
  out[13] = ':';
  WriteDigits(second_of_day / 60 % 60, 2, out + 14);
  out[16] = ':';
  WriteDigits(second_of_day % 60, 2, out + 17);
  out[19] = 'Z';
  return true;
}

bool ParseIso8601Date(const char *text, size_t length, CFAbsoluteTime *at) {
  TrimXmlWhitespace(text, length);
  if (length != kIso8601DateLength || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
    return false;
  }
  int64_t year, month, day, hour, minute, second;
  if (!ReadDigits(text, 4, &year) || !ReadDigits(text + 5, 2, &month) ||
      !ReadDigits(text + 8, 2, &day) || !ReadDigits(text + 11, 2, &hour) ||
      !ReadDigits(text + 14, 2, &minute) || !ReadDigits(text + 17, 2, &second)) {
    return false;
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  const int64_t unix_seconds =
      DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  *at = static_cast<double>(unix_seconds) - kCFAbsoluteTimeIntervalSince1970;
  return true;
}

}  // namespace tolvan
