#include "support/xlsx/cell_text.hpp"

#include <gtest/gtest.h>

#include "support/xlsx/cell_ref.hpp"
#include "support/xlsx/package.hpp"

namespace tovik::xlsx {
namespace {

TEST(CellText, NumbersAreIntWhenWholeAndWithinInt64) {
  auto kind = [](const char* text) { return parse_number(text)->type_name(); };
  for (const char* whole : {"3", "3.0", "-0", "-0.0", "1E3", "+12", "\t 5 \n", "9223372036854775807"})
    EXPECT_EQ(kind(whole), "int") << whole;
  for (const char* other : {"3.5", "1E+20", "9.223372036854775808E18", "9223372036854775808",
                            "-9223372036854775809", "1e-320"})
    EXPECT_EQ(kind(other), "float") << other;
  EXPECT_EQ(parse_number("9007199254740993")->as_int(), 9007199254740993);  // not via a double
  EXPECT_EQ(parse_number("-9.223372036854775808E18")->as_int(), INT64_MIN);
  for (const char* bad : {"", " ", "abc", "1,5", "1 2", "--1", "+-1", "++1", "0x10", "nan", "inf",
                          "1e400", ".", "1e"})
    EXPECT_FALSE(parse_number(bad)) << bad;
}

TEST(CellText, EscapesDecodeToUtf8) {
  EXPECT_EQ(decode_escapes("a_x000D__x000A_b"), "a\r\nb");
  EXPECT_EQ(decode_escapes("_x00e9_ _x4E2D_"), "\xC3\xA9 \xE4\xB8\xAD");
  EXPECT_EQ(decode_escapes("_xD83D__xDE00_"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(decode_escapes("_xDE00_|_xD83D_x"), "\xEF\xBF\xBD|\xEF\xBF\xBDx");  // lone halves
  EXPECT_EQ(decode_escapes("_x005F_x000D_"), "_x000D_");
  EXPECT_EQ(decode_escapes("_x12_ _xGHIJ_ _x0041"), "_x12_ _xGHIJ_ _x0041");
  EXPECT_EQ(decode_escapes("__x0041_"), "_A");
}

TEST(CellText, CellReferencesWithinTheGrid) {
  EXPECT_EQ(parse_cell_ref("A1"), (CellRef{1, 0}));
  EXPECT_EQ(parse_cell_ref("AA10"), (CellRef{10, 26}));
  EXPECT_EQ(parse_cell_ref("xfd1048576"), (CellRef{1048576, 16383}));
  for (const char* bad : {"", "A", "1", "A0", "XFE1", "AAAA1", "A1048577", "A1B", "$A$1", "A 1"})
    EXPECT_FALSE(parse_cell_ref(bad)) << bad;
  EXPECT_EQ(cell_name(7, 25), "Z7");
  EXPECT_EQ(cell_name(2, 26), "AA2");
  EXPECT_EQ(cell_name(3, 701), "ZZ3");
  EXPECT_EQ(cell_name(3, 702), "AAA3");
  EXPECT_EQ(cell_name(1048576, 16383), "XFD1048576");
}

TEST(CellText, RelationshipTargetsResolveToPartNames) {
  EXPECT_EQ(resolve_target("xl/workbook.xml", "worksheets/s.xml"), "xl/worksheets/s.xml");
  EXPECT_EQ(resolve_target("xl/workbook.xml", "/xl/worksheets/s.xml"), "xl/worksheets/s.xml");
  EXPECT_EQ(resolve_target("xl/workbook.xml", "./a/../b//c.xml"), "xl/b/c.xml");
  EXPECT_EQ(resolve_target("xl/workbook.xml", "../../../up.xml"), "up.xml");
  EXPECT_EQ(resolve_target("xl/workbook.xml", "worksheets\\s.xml"), "xl/worksheets/s.xml");
  EXPECT_EQ(resolve_target("", "xl/workbook.xml"), "xl/workbook.xml");
}

}  // namespace
}  // namespace tovik::xlsx
