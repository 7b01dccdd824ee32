// Workbooks put together by hand: what other writers produce, and damaged files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/base/errors.hpp"
#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/sheet_reader.hpp"
#include "support/xlsx/test_files.hpp"
#include "support/xlsx/workbook.hpp"

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
      "<row><c><f>A1+1</f></c><c><v>45292.5</v></c></row>"));         // row 8, never calculated
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].number, 1u);
  EXPECT_EQ(rows[0].cells, (List{1, 2}));
  EXPECT_EQ(rows[1].number, 4u);
  EXPECT_EQ(rows[1].cells, (List{nullptr, nullptr, 3, 1000}));
  EXPECT_EQ(kinds(rows[1].cells), "NoneType NoneType int int");
  EXPECT_EQ(rows[2].number, 5u);
  EXPECT_EQ(rows[2].cells, (List{nullptr, true}));
  EXPECT_EQ(rows[3].number, 8u);
  EXPECT_EQ(rows[3].cells, (List{nullptr, 45292.5}));  // a date stays its serial number
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
  const std::string big(1 << 20, 'x');
  auto rows = rows_of(dir, one_sheet("<row r=\"1\"><c t=\"inlineStr\"><is><t>" + big +
                                     "</t></is></c></row><row r=\"1048576\"><c r=\"XFD1048576\">"
                                     "<v>5</v></c></row>"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at(0).as_str().size(), big.size());
  EXPECT_EQ(rows[1].number, 1048576u);
  EXPECT_EQ(rows[1].cells.size(), 16384u);
  EXPECT_EQ(rows[1].at(16383), Value(5));

  // Far-right cells on many rows would add up; the budget counts every padded slot.
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(sheet_xml("<row><c r=\"J1\"><v>1</v></c></row>"
                                        "<row><c r=\"J2\"><v>1</v></c></row>").c_str()));
  std::size_t budget = 20;
  EXPECT_EQ(read_rows(doc.document_element(), {}, budget).size(), 2u);
  EXPECT_EQ(budget, 0u);
  budget = 19;
  EXPECT_THAT(error_of<BadWorkbook>([&] { read_rows(doc.document_element(), {}, budget); }),
              EndsWith("太大，无法读取（读到单元格 J2 时）"));
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

}  // namespace
}  // namespace tovik::xlsx
