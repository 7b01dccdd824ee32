#include "support/base/csv.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"

namespace tovik {

TEST(Csv, QuotedFieldsHoldSeparatorsLineBreaksAndQuotes) {
  const auto rows = parse_csv("\xEF\xBB\xBFid,body\r\n1,\"a, \"\"b\"\"\nc\"\r\n\r\n2,\n,\"\"\n");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (CsvRow{"id", "body"}));  // the byte-order mark is not part of the first name
  EXPECT_EQ(rows[1], (CsvRow{"1", "a, \"b\"\nc"}));
  EXPECT_EQ(rows[2], (CsvRow{"2", ""}));
  EXPECT_EQ(rows[3], (CsvRow{"", ""}));
  EXPECT_EQ(parse_csv("x,y").at(0), (CsvRow{"x", "y"}));  // no line break at the end
  EXPECT_TRUE(parse_csv("").empty());
}

TEST(Csv, BrokenQuotesNameTheLine) {
  try {
    parse_csv("a\nb\n\"open,\nstill open");
    FAIL();
  } catch (const ValueError& e) {
    EXPECT_STREQ(e.what(), "CSV 第 3 行: 引号没有结束");
  }
  EXPECT_THROW(parse_csv("\"a\"b,c"), ValueError);
  // a quote inside an unquoted field is just a character
  EXPECT_EQ(parse_csv("a\"b,c").at(0), (CsvRow{"a\"b", "c"}));
}

}  // namespace tovik
