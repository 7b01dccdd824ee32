// Spreadsheet dates and times are numbers: days since an epoch, the time of day as the fraction.
// This turns such a number into the text a tester writes.
#pragma once

#include <optional>
#include <string>

#include "support/xlsx/styles.hpp"

namespace tovik::xlsx {

// The text of a serial number shown in a date or time format, rounded to the second:
// "YYYY-MM-DD HH:MM:SS" for a date, "YYYY-MM-DD" when its time is midnight, "HH:MM:SS" for a
// time of day, "HHH:MM:SS" (hours beyond 24) for elapsed time. Empty when the number is no date:
// negative, past 9999-12-31, or of kind Number.
//
// The 1900 date system (date1904 false) counts 1900-01-01 as day 1 and also counts 1900-02-29,
// a day that never was, as 60; from 61 on the days are one ahead of the calendar, so they count
// from 1899-12-30, and days 1 to 59 from 1899-12-31. Day 60 is shown as the spreadsheet shows
// it, "1900-02-29". Day 0 ("1900-01-00") holds the times of day typed without a date, so below 1
// a date shows as its time alone. The 1904 system counts from 1904-01-01 as day 0.
std::optional<std::string> serial_text(double serial, NumberKind kind, bool date1904);

}  // namespace tovik::xlsx
