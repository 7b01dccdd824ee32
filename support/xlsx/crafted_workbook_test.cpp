// Workbooks put together by hand: what other writers produce, and damaged files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/base/errors.hpp"
#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/cell_ref.hpp"
#include "support/xlsx/cell_text.hpp"
#include "support/xlsx/package.hpp"
#include "support/xlsx/sheet_reader.hpp"
#include "support/xlsx/test_files.hpp"
#include "support/xlsx/workbook.hpp"
#include "support/xlsx/xml_scanner.hpp"

namespace tovik::xlsx {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::StartsWith;
using test_files::Entries;
using test_files::error_of;
using test_files::kinds;
using test_files::ScratchDir;

const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string workbook_xml(const std::vector<std::pair<std::string, std::string>>& sheets) {
  std::string xml = "<workbook xmlns:r=\"" + kRel + "\"><sheets>";
  for (const auto& [name, id] : sheets) xml += "<sheet name=\"" + name + "\" r:id=\"" + id + "\"/>";
  return xml + "</sheets></workbook>";
}

std::string rels_xml(const std::vector<std::pair<std::string, std::string>>& rels) {
  std::string xml = "<Relationships>";
  for (const auto& [id, target] : rels)
    xml += "<Relationship Id=\"" + id + "\" Type=\"" + kRel +
           (target.find("sharedStrings") != std::string::npos ? "/sharedStrings" : "/worksheet") +
           "\" Target=\"" + target + "\"/>";
  return xml + "</Relationships>";
}

std::string sheet_xml(const std::string& rows) {
  return "<worksheet><sheetData>" + rows + "</sheetData></worksheet>";
}

Entries one_sheet(const std::string& rows) {
  return {{"xl/workbook.xml", workbook_xml({{"Cases", "rId1"}})},
          {"xl/_rels/workbook.xml.rels", rels_xml({{"rId1", "worksheets/sheet1.xml"}})},
          {"xl/worksheets/sheet1.xml", sheet_xml(rows)}};
}

std::vector<Row> rows_of(const ScratchDir& dir, const Entries& entries) {
  test_files::write_zip(dir / "crafted.xlsx", entries);
  return read_workbook(dir / "crafted.xlsx").sheets.at(0).rows;
}

TEST(CraftedWorkbook, StringsOtherWritersProduce) {
  ScratchDir dir;
  auto rows = rows_of(dir, one_sheet(
      "<row r=\"1\">"
      "<c r=\"A1\" t=\"inlineStr\"><is><t>plain</t></is></c>"
      "<c r=\"B1\" t=\"inlineStr\"><is><r><t>rich </t></r><r><rPr><b/></rPr><t>run</t></r>"
      "<rPh sb=\"0\" eb=\"1\"><t>ignored</t></rPh></is></c>"
      "<c r=\"C1\" t=\"str\"><f>A1</f><v>line_x000D_\nnext _x005F_x000D_</v></c>"
      "<c r=\"D1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">  padded  </t></is></c>"
      "<c r=\"E1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">   </t></is></c>"
      "<c r=\"F1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
      "<c r=\"G1\" t=\"str\"><f>\"\"</f><v></v></c>"
      "<c r=\"H1\" t=\"inlineStr\"><is><t><![CDATA[a<b]]></t></is></c>"
      "</row>"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cells, (List{"plain", "rich run", "line\r\nnext _x000D_", "  padded  ", "   ",
                                 "#DIV/0!", "", "a<b"}));
}

TEST(CraftedWorkbook, SharedStringsAndPrefixedElements) {
  ScratchDir dir;
  Entries entries = one_sheet("");
  entries[1].second = rels_xml({{"rId1", "worksheets/sheet1.xml"}, {"rId9", "strings/sharedStrings.xml"}});
  entries[2].second = "<x:worksheet xmlns:x=\"urn:x\"><x:sheetData><x:row r=\"2\">"
                      "<x:c r=\"B2\" t=\"s\"><x:v>1</x:v></x:c><x:c r=\"C2\" t=\"s\"><x:v> 0 </x:v></x:c>"
                      "<x:c r=\"D2\" t=\"s\"><x:v>2</x:v></x:c></x:row></x:sheetData></x:worksheet>";
  // Named by its relationship, not the usual place; the count is a lie that must not matter.
  entries.push_back({"xl/strings/sharedStrings.xml",
                     "<sst uniqueCount=\"999999999\"><si><t>first</t></si>"
                     "<si><r><t xml:space=\"preserve\">ri</t></r><r><t>ch</t></r>"
                     "<rPh><t>ルビ</t></rPh><phoneticPr fontId=\"1\"/></si>"
                     "<si><t>cr_x000D_here</t></si></sst>"});
  auto rows = rows_of(dir, entries);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].number, 2u);
  EXPECT_EQ(rows[0].cells, (List{nullptr, "rich", "first", "cr\rhere"}));
}

TEST(CraftedWorkbook, CellsAndRowsWithoutReferencesFollowThePreviousOne) {
  ScratchDir dir;
  auto rows = rows_of(dir, one_sheet(
      "<row><c><v>1</v></c><c><v>2.0</v></c></row>"                // row 1, A and B
      "<row r=\"4\"><c r=\"C4\"><v>3</v></c><c><v>1E3</v></c></row>"  // D4 follows C4
      "<row><c/><c r=\"b5\" t=\"b\"><v>1</v></c></row>"              // row 5, lower-case ref
      "<row r=\"7\"></row>"                                            // empty, left out
      "<row><c><f>A1+1</f><v>2</v></c><c><v>45292.5</v></c></row>"));  // row 8
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].number, 1u);
  EXPECT_EQ(rows[0].cells, (List{1, 2}));
  EXPECT_EQ(rows[1].number, 4u);
  EXPECT_EQ(rows[1].cells, (List{nullptr, nullptr, 3, 1000}));
  EXPECT_EQ(kinds(rows[1].cells), "NoneType NoneType int int");
  EXPECT_EQ(rows[2].number, 5u);
  EXPECT_EQ(rows[2].cells, (List{nullptr, true}));
  EXPECT_EQ(rows[3].number, 8u);
  EXPECT_EQ(rows[3].cells, (List{2, 45292.5}));  // without a date format, a serial stays a number
}

TEST(CraftedWorkbook, PartLocationsAsOtherWritersGiveThem) {
  ScratchDir dir;
  auto path = dir / "locations.xlsx";
  // The main part found through the package relationships; sheet targets absolute, and relative
  // with "." and "..".
  test_files::write_zip(
      path, {{"_rels/.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"" + kRel +
                                 "/officeDocument\" Target=\"/book/main.xml\"/></Relationships>"},
             {"book/main.xml", workbook_xml({{"Second", "rId2"}, {"First", "rId1"}})},
             {"book/_rels/main.xml.rels",
              rels_xml({{"rId1", "/parts/one.xml"}, {"rId2", "../book/./sheets/two.xml"}})},
             {"parts/one.xml", sheet_xml("<row><c><v>1</v></c></row>")},
             {"book/sheets/two.xml", sheet_xml("<row><c><v>2</v></c></row>")}});
  Workbook book = read_workbook(path);
  ASSERT_EQ(book.sheets.size(), 2u);
  EXPECT_EQ(book.sheets[0].name, "Second");
  EXPECT_EQ(book.sheets[0].rows.at(0).cells, List{2});
  EXPECT_EQ(book.sheets[1].name, "First");
  EXPECT_EQ(book.sheets[1].rows.at(0).cells, List{1});
  EXPECT_EQ(sheet_names(path), (std::vector<std::string>{"Second", "First"}));
}

TEST(CraftedWorkbook, HugeCellsFarRowsAndTheCellLimit) {
  ScratchDir dir;
  const std::string big(kMaxCellChars, 'x');
  auto rows = rows_of(dir, one_sheet("<row r=\"1\"><c t=\"inlineStr\"><is><t>" + big +
                                     "</t></is></c></row><row r=\"1048576\"><c r=\"XFD1048576\">"
                                     "<v>5</v></c></row>"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at(0).as_str().size(), big.size());
  EXPECT_EQ(rows[1].number, 1048576u);
  EXPECT_EQ(rows[1].cells.size(), 16384u);
  EXPECT_EQ(rows[1].at(16383), Value(5));

  // Far-right cells on many rows would add up; the budget counts every padded slot.
  const std::string far = sheet_xml("<row><c r=\"J1\"><v>1</v></c></row><row><c r=\"J2\"><v>1</v></c></row>");
  const SharedStrings no_strings;
  const std::vector<NumberKind> no_styles;
  auto read = [&](ReadBudget& budget) {
    TextSource source(far);
    XmlScanner xml("sheet.xml", source);
    return read_rows(xml, {no_strings, no_styles}, budget);
  };
  ReadBudget budget{20, kMaxCellTextBytes};
  EXPECT_EQ(read(budget).size(), 2u);
  EXPECT_EQ(budget.cells, 0u);
  budget.cells = 19;
  EXPECT_THAT(error_of<BadWorkbook>([&] { read(budget); }), EndsWith("太大，无法读取（读到单元格 J2 时）"));
}

TEST(CraftedWorkbook, BadCellDataNamesTheCell) {
  ScratchDir dir;
  const auto path = dir / "bad.xlsx";
  const std::string prefix = "文件 " + path.string() + " 不是有效的 xlsx 工作簿: 工作表 'Cases': ";
  const std::pair<const char*, const char*> cases[] = {
      {"<row r=\"3\"><c r=\"B3\" t=\"s\"><v>4</v></c></row>",
       "单元格 B3: 共享字符串的索引 4 超出范围（共 0 个共享字符串）"},
      {"<row><c t=\"s\"><v>x</v></c></row>", "单元格 A1: 共享字符串的索引不是数字: 'x'"},
      {"<row><c><v>12abc</v></c></row>", "单元格 A1: 不是数字: '12abc'"},
      {"<row><c><v>inf</v></c></row>", "单元格 A1: 不是数字: 'inf'"},
      {"<row><c/><c/><c t=\"b\"><v>yes</v></c></row>", "单元格 C1: 不是布尔值: 'yes'"},
      {"<row><c t=\"zz\"><v>1</v></c></row>", "单元格 A1: 未知的单元格类型 'zz'"},
      {"<row><c r=\"XFE1\"><v>1</v></c></row>", "第 1 行的单元格引用 'XFE1' 不正确"},
      {"<row><c r=\"A0\"><v>1</v></c></row>", "第 1 行的单元格引用 'A0' 不正确"},
      {"<row><c r=\"XFD1\"/><c><v>1</v></c></row>", "第 1 行有超出 XFD 列的单元格"},
      {"<row r=\"1048577\"/>", "行号 '1048577' 不在 1..1048576 之内"},
      {"<row r=\"0\"/>", "行号 '0' 不在 1..1048576 之内"},
      {"<row r=\"5\"/><row r=\"5\"/>", "第 5 行出现在第 5 行之后（行号应递增）"},
      {"<row r=\"1048576\"/><row/>", "超过 1048576 行"},
      {"<row><c t=\"inlineStr\"><is><t>x</t></is></c><c r=\"B1\" t=\"s\"><v>0</v></c></row>",
       "单元格 B1: 共享字符串的索引 0 超出范围（共 0 个共享字符串）"},
  };
  for (const auto& [rows, reason] : cases) {
    test_files::write_zip(path, one_sheet(rows));
    EXPECT_EQ(error_of<ValueError>([&] { read_workbook(path); }), prefix + reason) << rows;
  }
  test_files::write_zip(path, one_sheet("<row><c><v>1</v></row>"));
  EXPECT_THAT(error_of<ValueError>([&] { read_workbook(path); }),
              AllOf(StartsWith(prefix + "xl/worksheets/sheet1.xml: XML 格式错误（第 "),
                    EndsWith(" 字节）: Start-end tags mismatch")));
}

TEST(CraftedWorkbook, BrokenFilesNameTheFileAndWhatIsWrong) {
  ScratchDir dir;
  const auto path = dir / "broken.xlsx";
  const std::string prefix = "文件 " + path.string() + " 不是有效的 xlsx 工作簿: ";
  auto problem = [&](const Entries& entries) {
    test_files::write_zip(path, entries);
    return error_of<ValueError>([&] { read_workbook(path); });
  };
  const Entries good = one_sheet("<row><c><v>1</v></c></row>");
  EXPECT_EQ(problem({{"readme.txt", "hello"}}), prefix + "缺少 xl/workbook.xml");
  EXPECT_EQ(problem({good[0], good[1]}), prefix + "工作表 'Cases': 缺少部件 xl/worksheets/sheet1.xml");
  EXPECT_EQ(problem({good[0], good[2]}),
            prefix + "工作表 'Cases': 找不到 xl/workbook.xml 的关系 'rId1'");
  EXPECT_EQ(problem({{"xl/workbook.xml", "<workbook><sheets><sheet name=\"A\"/></sheets></workbook>"}}),
            prefix + "工作表 'A' 在 xl/workbook.xml 中没有关系 id");
  EXPECT_EQ(problem({{"xl/workbook.xml", "<workbook/>"}}), prefix + "xl/workbook.xml: 没有列出工作表");
  EXPECT_EQ(problem({{"xl/workbook.xml", "<html/>"}}),
            prefix + "xl/workbook.xml: 根元素应为 <workbook>，实际为 <html>");
  EXPECT_EQ(problem({{"xl/workbook.xml", ""}}),
            prefix + "xl/workbook.xml: XML 格式错误（第 0 字节）: No document element found");
  EXPECT_THAT(problem({good[0], {good[1].first, "<Relationships>"}, good[2]}),
              StartsWith(prefix + "xl/_rels/workbook.xml.rels: XML 格式错误（第 "));
  // sheet_names reads the workbook part alone, so a missing sheet does not bother it.
  test_files::write_zip(path, {good[0]});
  EXPECT_EQ(sheet_names(path), std::vector<std::string>{"Cases"});

  test_files::write_bytes(path, "PK\x03\x04 random bytes that only start like a zip.............");
  EXPECT_EQ(error_of<ValueError>([&] { sheet_names(path); }), prefix + "Not a zip archive");
  test_files::write_bytes(path, "");
  EXPECT_EQ(error_of<ValueError>([&] { read_workbook(path); }), prefix + "文件为空");
  EXPECT_EQ(error_of<OSError>([&] { read_workbook(dir / "no such.xlsx"); }),
            "xlsx 工作簿 " + (dir / "no such.xlsx").string() + " 无法读取: No such file or directory");
  EXPECT_EQ(error_of<OSError>([&] { sheet_names(dir / ""); }),
            "xlsx 工作簿 " + (dir / "").string() + " 无法读取: Is a directory");
}

// ---------------------------------------------------------------------------------------------
// Dates and formulas

// A sheet whose cells use these styles: 0 none, 1 built-in date (14), 2 built-in time (21),
// 3 "yyyy/m/d h:mm", 4 "0.00 "d"" and 5 "[Red]#,##0" (numbers whatever their letters), 6 [h]:mm.
Entries styled_sheet(const std::string& rows) {
  Entries entries = one_sheet(rows);
  entries.push_back({"xl/styles.xml",
                     "<styleSheet><numFmts count=\"3\"><numFmt numFmtId=\"164\" formatCode=\"yyyy/m/d h:mm\"/>"
                     "<numFmt numFmtId=\"165\" formatCode=\"0.00 &quot;d&quot;\"/>"
                     "<numFmt numFmtId=\"166\" formatCode=\"[Red]#,##0\"/></numFmts>"
                     "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"21\"/>"
                     "<xf numFmtId=\"164\"/><xf numFmtId=\"165\"/><xf numFmtId=\"166\"/><xf numFmtId=\"46\"/>"
                     "</cellXfs></styleSheet>"});
  return entries;
}

const char* kDateRow =
    "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>45413</v></c><c r=\"B2\" s=\"3\"><v>45413.3541666667</v></c>"
    "<c r=\"C2\" s=\"2\"><v>0.75</v></c><c r=\"D2\" s=\"3\"><v>45413</v></c>"
    "<c r=\"E2\" s=\"4\"><v>45413</v></c><c r=\"F2\" s=\"5\"><v>45413</v></c><c r=\"G2\" s=\"6\"><v>1.5</v></c>"
    "<c r=\"H2\" s=\"1\"><v>-3</v></c><c r=\"I2\" s=\"1\"><v>9999999</v></c><c r=\"J2\" s=\"99\"><v>45413</v></c>"
    "<c r=\"K2\" s=\"3\"><f>NOW()</f><v>45413.5</v></c><c r=\"L2\" s=\"1\" t=\"str\"><f>\"x\"</f><v>45413</v></c></row>";

TEST(CraftedWorkbook, NumbersInDateAndTimeFormatsBecomeTheirText) {
  ScratchDir dir;
  auto rows = rows_of(dir, styled_sheet(kDateRow));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cells, (List{"2024-05-01", "2024-05-01 08:30:00", "18:00:00", "2024-05-01", 45413, 45413,
                                 "36:00:00", -3, 9999999, 45413, "2024-05-01 12:00:00", "45413"}));
  EXPECT_EQ(kinds(rows[0].cells), "str str str str int int str int int int str str");
}

TEST(CraftedWorkbook, The1904DateSystemAndStylesNamedByRelationship) {
  ScratchDir dir;
  Entries entries = styled_sheet(kDateRow);
  for (const char* flag : {"1", "true", "0"}) {
    entries[0].second = workbook_xml({{"Cases", "rId1"}});
    entries[0].second.replace(entries[0].second.find("<sheets>"), 0,
                              "<workbookPr date1904=\"" + std::string(flag) + "\"/>");
    auto rows = rows_of(dir, entries);
    EXPECT_EQ(rows.at(0).at(0), Value(flag[0] == '0' ? "2024-05-01" : "2028-05-02")) << flag;
    EXPECT_EQ(rows.at(0).at(2), Value("18:00:00")) << flag;
  }
  // The styles part found where the workbook's relationship says, not at its usual place.
  entries = one_sheet("<row><c s=\"1\"><v>45413</v></c></row>");
  entries[1].second = "<Relationships><Relationship Id=\"rId1\" Type=\"" + kRel +
                      "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + kRel +
                      "/styles\" Target=\"/look/s.xml\"/></Relationships>";
  entries.push_back({"look/s.xml", "<styleSheet><cellXfs><xf/><xf numFmtId=\"22\"/></cellXfs></styleSheet>"});
  EXPECT_EQ(rows_of(dir, entries).at(0).cells, List{"2024-05-01"});
}

TEST(CraftedWorkbook, AFormulaWithoutItsResultNamesTheCell) {
  ScratchDir dir;
  const auto path = dir / "formula.xlsx";
  // Uncalculated as scripts and libraries write them: no <v>, an empty one (openpyxl), a shared
  // formula's follower, a boolean or error result left empty.
  for (const char* cell : {"<c r=\"C5\"><f>A1*2</f></c>", "<c r=\"C5\"><f>A1*2</f><v/></c>",
                           "<c r=\"C5\"><f t=\"shared\" si=\"0\"/><v> </v></c>",
                           "<c r=\"C5\" t=\"b\"><f>A1=1</f><v></v></c>", "<c r=\"C5\" t=\"e\"><f>1/0</f></c>",
                           "<c r=\"C5\" t=\"str\"><f>A1</f></c>"}) {
    test_files::write_zip(path, one_sheet("<row r=\"1\"><c><v>1</v></c></row><row r=\"5\">" + std::string(cell) +
                                          "</row>"));
    EXPECT_EQ(error_of<ValueError>([&] { read_workbook(path); }),
              "文件 " + path.string() +
                  ", 工作表 Cases, 单元格 C5: 公式没有保存计算结果，请在电子表格程序中打开并保存该工作簿，以存下公式的值")
        << cell;
  }
  // With a result they read as any cell; ="" stores its empty text as an empty <v>.
  test_files::write_zip(path, one_sheet("<row><c t=\"str\"><f>\"\"</f><v></v></c><c><f>1+1</f><v>2</v></c>"
                                        "<c t=\"inlineStr\"><f>A1</f><is><t>x</t></is></c></row>"));
  EXPECT_EQ(read_workbook(path).sheets.at(0).rows.at(0).cells, (List{"", 2, "x"}));
}

// ---------------------------------------------------------------------------------------------
// The format's limits, met while decompressing

std::string repeated(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(CraftedWorkbook, RowsPastTheLastOneStopTheRead) {
  ScratchDir dir;
  const auto path = dir / "rows.xlsx";
  const std::string prefix = "文件 " + path.string() + " 不是有效的 xlsx 工作簿: 工作表 'Cases': ";
  // Some 6 MB of rows that pack into a few kilobytes.
  test_files::write_zip(path, one_sheet(repeated("<row/>", kMaxRows) + "<row><c><v>1</v></c></row>"));
  EXPECT_LT(std::filesystem::file_size(path), 64u << 10);
  EXPECT_EQ(error_of<ValueError>([&] { read_workbook(path); }), prefix + "超过 1048576 行");
  test_files::write_zip(path, one_sheet("<row r=\"1048576\"/><row r=\"1048577\"/>"));
  EXPECT_EQ(error_of<ValueError>([&] { read_workbook(path); }), prefix + "行号 '1048577' 不在 1..1048576 之内");
  test_files::write_zip(path, one_sheet("<row>" + repeated("<c><v>1</v></c>", kMaxColumns + 1) + "</row>"));
  EXPECT_EQ(error_of<ValueError>([&] { read_workbook(path); }), prefix + "第 1 行有超出 XFD 列的单元格");
}

TEST(CraftedWorkbook, CellTextBeyondWhatACellHolds) {
  ScratchDir dir;
  const auto path = dir / "long.xlsx";
  const std::string prefix = "文件 " + path.string() + " 不是有效的 xlsx 工作簿: ";
  auto problem = [&](const Entries& entries) {
    test_files::write_zip(path, entries);
    return error_of<ValueError>([&] { read_workbook(path); });
  };
  const std::string too_long = "内容超过 32767 个字符的上限";
  const std::string text(40000, 'x');
  EXPECT_EQ(problem(one_sheet("<row><c r=\"B1\" t=\"inlineStr\"><is><r><t>" + text + "</t></r></is></c></row>")),
            prefix + "工作表 'Cases': 单元格 B1: " + too_long);
  EXPECT_EQ(problem(one_sheet("<row><c t=\"str\"><f>A2</f><v>" + text + "</v></c></row>")),
            prefix + "工作表 'Cases': 单元格 A1: " + too_long);
  // Far beyond: refused once the limit is passed, long before the cell ends.
  EXPECT_EQ(problem(one_sheet("<row><c><v>" + std::string(20 << 20, '1') + "</v></c></row>")),
            prefix + "工作表 'Cases': 单元格 A1: " + too_long);
  Entries with_strings = one_sheet("<row><c t=\"s\"><v>1</v></c></row>");
  with_strings[1].second = rels_xml({{"rId1", "worksheets/sheet1.xml"}, {"rId2", "sharedStrings.xml"}});
  with_strings.push_back({"xl/sharedStrings.xml", "<sst><si><t>ok</t></si><si><t>" + text + "</t></si></sst>"});
  EXPECT_EQ(problem(with_strings), prefix + "xl/sharedStrings.xml: 索引为 1 的共享字符串" + too_long);

  // Characters are counted, not bytes: an escape is one, and so is an escaped surrogate pair.
  auto read_cell = [&](const std::string& stored) {
    test_files::write_zip(path, one_sheet("<row><c t=\"inlineStr\"><is><t>" + stored + "</t></is></c></row>"));
    return read_workbook(path).sheets.at(0).rows.at(0).at(0);
  };
  EXPECT_EQ(read_cell(repeated("_x0041_", kMaxCellChars)).as_str(), std::string(kMaxCellChars, 'A'));
  EXPECT_EQ(read_cell(repeated("_xD83D__xDE00_", kMaxCellChars)).as_str(), repeated("\xF0\x9F\x98\x80", kMaxCellChars));
  EXPECT_EQ(read_cell(repeated("中", kMaxCellChars)).as_str().size(), 3 * kMaxCellChars);
  EXPECT_THAT(error_of<ValueError>([&] { read_cell(repeated("中", kMaxCellChars + 1)); }), EndsWith(too_long));
  EXPECT_THAT(error_of<ValueError>([&] { read_cell(repeated("_x0041_", kMaxCellChars + 1)); }), EndsWith(too_long));
}

TEST(CraftedWorkbook, PartsThatInflatePastTheirLimit) {
  ScratchDir dir;
  const auto path = dir / "bomb.xlsx";
  test_files::write_zip(path, {{"big.xml", "<a>" + std::string(100000, ' ') + "</a>"}});
  Package package(path);
  // The announced size is over the limit: refused before anything is inflated.
  EXPECT_EQ(error_of<BadWorkbook>([&] { package.open_if_present("big.xml", 4096); }),
            "big.xml: 解压后超过 4096 字节的上限，无法读取");
  EXPECT_EQ(package.open_if_present("missing.xml", 4096), nullptr);

  // An archive that understates the size does not get past the count of what comes out.
  std::string bytes = test_files::read_bytes(path);
  for (std::size_t at = bytes.find("PK"); at != std::string::npos; at = bytes.find("PK", at + 1)) {
    const std::string_view signature = std::string_view(bytes).substr(at, 4);
    const std::size_t size_field = signature == "PK\x03\x04" ? 22 : signature == "PK\x01\x02" ? 24 : 0;
    if (size_field) bytes.replace(at + size_field, 4, std::string("\x10\x00\x00\x00", 4));  // 16 bytes
  }
  test_files::write_bytes(path, bytes);
  Package lying(path);
  auto stream = lying.open_if_present("big.xml", 4096);
  ASSERT_NE(stream, nullptr);
  char buffer[1 << 16];
  EXPECT_EQ(error_of<BadWorkbook>([&] {
              while (stream->read(buffer, sizeof buffer) > 0) {
              }
            }),
            "big.xml: 解压后超过 4096 字节的上限，无法读取");
}

}  // namespace
}  // namespace tovik::xlsx
