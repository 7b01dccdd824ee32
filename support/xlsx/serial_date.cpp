#include "support/xlsx/serial_date.hpp"

#include <cmath>
#include <cstdio>

namespace tovik::xlsx {
namespace {

constexpr long long kSecondsPerDay = 86400;
// 9999-12-31 is day 2958465 of the 1900 system; the 1904 system ends sooner, and the calendar
// check below catches that.
constexpr double kLastSerial = 2958466.0;
// Days from 1970-01-01 back to day 0 of each system.
constexpr long long k1900Epoch = 25569;  // 1899-12-30, for serials from 61 on
constexpr long long k1904Epoch = 24107;  // 1904-01-01

struct Civil {
  long long year;
  unsigned month, day;
};

// The calendar date of a day counted from 1970-01-01 (proleptic Gregorian; H. Hinnant's method).
Civil civil_from_days(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<long long>(yoe) + era * 400 + (month <= 2), month, day};
}

std::string clock(long long hours, long long seconds_of_hour) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", hours, seconds_of_hour / 60, seconds_of_hour % 60);
  return text;
}

}  // namespace

std::optional<std::string> serial_text(double serial, NumberKind kind, bool date1904) {
  if (kind == NumberKind::Number || !(serial >= 0) || serial >= kLastSerial) return std::nullopt;
  const long long total = std::llround(serial * kSecondsPerDay);
  const long long days = total / kSecondsPerDay;
  const long long seconds = total % kSecondsPerDay;
  const std::string time_of_day = clock(seconds / 3600, seconds % 3600);
  if (kind == NumberKind::Duration) return clock(total / 3600, total % 3600);
  if (kind == NumberKind::Time || (!date1904 && days == 0)) return time_of_day;

  std::string text;
  if (!date1904 && days == 60) {
    text = "1900-02-29";
  } else {
    const long long from_1970 = date1904 ? days - k1904Epoch : days - k1900Epoch + (days < 60 ? 1 : 0);
    const Civil date = civil_from_days(from_1970);
    if (date.year > 9999) return std::nullopt;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", date.year, date.month, date.day);
    text = buffer;
  }
  if (seconds != 0) text += " " + time_of_day;
  return text;
}

}  // namespace tovik::xlsx
