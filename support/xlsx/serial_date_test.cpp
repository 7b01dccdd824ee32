#include "support/xlsx/serial_date.hpp"

#include <gtest/gtest.h>

#include "support/xlsx/styles.hpp"
#include "support/xlsx/xml_scanner.hpp"

namespace tovik::xlsx {
namespace {

using K = NumberKind;

TEST(NumberFormats, DateAndTimeTokensOutsideLiteralsDecide) {
  const std::pair<const char*, NumberKind> cases[] = {
      {"yyyy/m/d h:mm", K::Date},
      {"YYYY-MM-DD", K::Date},
      {"[$-409]mmmm d, yyyy;@", K::Date},
      {"yyyy\"年\"m\"月\"d\"日\"", K::Date},
      {"mmm", K::Date},  // month names
      {"m", K::Date},    // a lone m is the month
      {"[Red][<=100]d-mmm", K::Date},
      {"h:mm", K::Time},
      {"mm:ss", K::Time},  // minutes before seconds
      {"h:mm:ss AM/PM", K::Time},
      {"hh:mm a/p", K::Time},
      {"h\"时\"mm\"分\"", K::Time},
      {"[h]:mm:ss", K::Duration},
      {"[mm]:ss", K::Duration},
      {"[ss].0", K::Duration},
      {"General", K::Number},
      {"0.00 \"d\"", K::Number},  // quoted text
      {"0.00\\h", K::Number},     // an escaped character
      {"#,##0_);[Red](#,##0)", K::Number},
      {"[Red]0.00;[Blue]-0.00", K::Number},
      {"[$USD-409] #,##0.00", K::Number},
      {"0.00E+00", K::Number},
      {"*s0", K::Number},  // the fill character
      {"@", K::Number},
      {"", K::Number},
  };
  for (const auto& [code, kind] : cases) EXPECT_EQ(format_kind(code), kind) << code;
}

TEST(NumberFormats, BuiltInIdsAndFormatsTheFileDefines) {
  for (unsigned id : {14u, 15u, 17u, 22u, 31u, 57u, 58u}) EXPECT_EQ(builtin_kind(id), K::Date) << id;
  for (unsigned id : {18u, 20u, 21u, 32u, 45u, 47u}) EXPECT_EQ(builtin_kind(id), K::Time) << id;
  EXPECT_EQ(builtin_kind(46), K::Duration);
  for (unsigned id : {0u, 1u, 2u, 13u, 23u, 44u, 48u, 49u, 164u}) EXPECT_EQ(builtin_kind(id), K::Number) << id;

  // A style refers to a format by id; the part's own code for an id wins over the built-in one,
  // and only cellXfs count (cellStyleXfs come first and must not shift the indexes).
  TextSource source(
      "<styleSheet><numFmts><numFmt numFmtId=\"164\" formatCode=\"yyyy/m/d\"/>"
      "<numFmt numFmtId=\"14\" formatCode=\"0.00\"/></numFmts>"
      "<cellStyleXfs><xf numFmtId=\"22\"/></cellStyleXfs>"
      "<cellXfs><xf/><xf numFmtId=\"164\"/><xf numFmtId=\"14\"/><xf numFmtId=\"21\"/><xf numFmtId=\"x\"/></cellXfs>"
      "</styleSheet>");
  XmlScanner xml("styles.xml", source);
  EXPECT_EQ(read_cell_styles(xml), (std::vector<K>{K::Number, K::Date, K::Number, K::Time, K::Number}));
}

std::string text(double serial, NumberKind kind, bool date1904 = false) {
  return serial_text(serial, kind, date1904).value_or("(a number)");
}

TEST(SerialDates, The1900SystemWithItsMissingLeapDay) {
  EXPECT_EQ(text(45413, K::Date), "2024-05-01");
  EXPECT_EQ(text(45413.3541666667, K::Date), "2024-05-01 08:30:00");
  EXPECT_EQ(text(45413.999999, K::Date), "2024-05-02");  // rounded to the second, into the next day
  EXPECT_EQ(text(45413.0000058, K::Date), "2024-05-01 00:00:01");
  EXPECT_EQ(text(1, K::Date), "1900-01-01");
  EXPECT_EQ(text(59, K::Date), "1900-02-28");
  EXPECT_EQ(text(60, K::Date), "1900-02-29");  // as the spreadsheet shows it
  EXPECT_EQ(text(61, K::Date), "1900-03-01");
  EXPECT_EQ(text(36526, K::Date), "2000-01-01");
  EXPECT_EQ(text(2958465.5, K::Date), "9999-12-31 12:00:00");
  EXPECT_EQ(text(0.75, K::Date), "18:00:00");  // a time typed alone sits on day 0
  EXPECT_EQ(text(2958466, K::Date), "(a number)");
  EXPECT_EQ(text(-1, K::Date), "(a number)");
  EXPECT_EQ(text(1e300, K::Date), "(a number)");
  EXPECT_EQ(text(45413, K::Number), "(a number)");
}

TEST(SerialDates, The1904System) {
  EXPECT_EQ(text(0, K::Date, true), "1904-01-01");
  EXPECT_EQ(text(43951, K::Date, true), "2024-05-01");  // 1462 days fewer than in the 1900 system
  EXPECT_EQ(text(43951.5, K::Date, true), "2024-05-01 12:00:00");
  EXPECT_EQ(text(60, K::Date, true), "1904-03-01");  // no missing leap day here
  EXPECT_EQ(text(2957003, K::Date, true), "9999-12-31");
  EXPECT_EQ(text(2957004, K::Date, true), "(a number)");
}

TEST(SerialDates, TimesOfDayAndElapsedTime) {
  EXPECT_EQ(text(0.3541666667, K::Time), "08:30:00");
  EXPECT_EQ(text(45413.75, K::Time), "18:00:00");  // the day is not shown
  EXPECT_EQ(text(0.999999, K::Time), "00:00:00");
  EXPECT_EQ(text(0.5, K::Time, true), "12:00:00");
  EXPECT_EQ(text(1.5, K::Duration), "36:00:00");
  EXPECT_EQ(text(0.0006944444, K::Duration), "00:01:00");
  EXPECT_EQ(text(-0.5, K::Time), "(a number)");
}

}  // namespace
}  // namespace tovik::xlsx
