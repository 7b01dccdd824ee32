// End-to-end tests of what workbook cells hand to keywords: `tovik run` on workbooks written as a
// spreadsheet program writes them (dates and times in date formats) and as scripts leave them
// (formulas never calculated).
#include <zip.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tovik::e2e;

class XlsxRun : public ProjectTest {
 protected:
  void SetUp() override {
    ProjectTest::SetUp();
    if (HasFatalFailure()) return;
    write_file(root_ / "pytest.ini", "[pytest]\n");
  }

  Finished tovik() { return run_tovik({"run"}); }
};

// One case row: the text a tester types, compared with a cell written as a date or time.
void assert_row(lxw_worksheet* ws, lxw_row_t row, const char* expected) {
  worksheet_write_number(ws, row, 0, row, nullptr);
  worksheet_write_string(ws, row, 2, "assert", nullptr);
  worksheet_write_string(ws, row, 3, expected, nullptr);
  worksheet_write_string(ws, row, 4, "equal", nullptr);
}

TEST_F(XlsxRun, DateAndTimeCellsReachKeywordsAsText) {
  const fs::path path = root_ / "test_dates.xlsx";
  lxw_workbook* wb = workbook_new(path.c_str());
  lxw_worksheet* ws = workbook_add_worksheet(wb, "日期");
  for (lxw_col_t c = 0; c < 6; ++c)
    worksheet_write_string(ws, 0, c, std::vector<const char*>{"编号", "描述", "关键字", "参数1", "参数2", "参数3"}[c], nullptr);
  lxw_format* datetime = workbook_add_format(wb);
  format_set_num_format(datetime, "yyyy/m/d h:mm");
  lxw_format* time = workbook_add_format(wb);
  format_set_num_format(time, "h:mm");
  lxw_format* date = workbook_add_format(wb);
  format_set_num_format_index(date, 14);
  lxw_datetime morning = {2024, 5, 1, 8, 30, 0};
  lxw_datetime day = {2024, 5, 1, 0, 0, 0};
  assert_row(ws, 1, "2024-05-01 08:30:00");
  worksheet_write_datetime(ws, 1, 5, &morning, datetime);
  assert_row(ws, 2, "08:30:00");
  worksheet_write_number(ws, 2, 5, 8.5 / 24, time);
  assert_row(ws, 3, "2024-05-01");
  worksheet_write_datetime(ws, 3, 5, &day, date);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  const Finished f = tovik();
  EXPECT_EQ(f.status, 0) << f.all();
  EXPECT_TRUE(Has(f.out, "1 passed in "));
}

TEST_F(XlsxRun, AFormulaWithoutItsValueIsACollectionErrorNamingTheCell) {
  // As a script leaves it: the formula in F2 was never calculated, so no value was stored.
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"xl/workbook.xml",
       "<workbook xmlns:r=\"" + rel + "\"><sheets><sheet name=\"公式\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel +
                                         "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml",
       "<worksheet><sheetData><row r=\"1\"><c r=\"C1\" t=\"inlineStr\"><is><t>关键字</t></is></c></row>"
       "<row r=\"2\"><c r=\"C2\" t=\"inlineStr\"><is><t>assert</t></is></c><c r=\"D2\"><v>2</v></c>"
       "<c r=\"E2\" t=\"inlineStr\"><is><t>equal</t></is></c><c r=\"F2\"><f>1+1</f><v></v></c></row>"
       "</sheetData></worksheet>"},
  };
  int code = 0;
  zip_t* z = zip_open((root_ / "test_formula.xlsx").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, data] : entries)
    ASSERT_GE(zip_file_add(z, name.c_str(), zip_source_buffer(z, data.data(), data.size(), 0), 0), 0);
  ASSERT_EQ(zip_close(z), 0);
  // The other files of the run still run.
  lxw_workbook* wb = workbook_new((root_ / "test_good.xlsx").c_str());
  lxw_worksheet* ws = workbook_add_worksheet(wb, "好");
  assert_row(ws, 1, "x");
  worksheet_write_string(ws, 1, 5, "x", nullptr);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  const Finished f = tovik();
  EXPECT_EQ(f.status, 1) << f.all();
  EXPECT_TRUE(Has(f.out, "ERROR collecting test_formula.xlsx"));
  EXPECT_TRUE(Has(f.out, "test_formula.xlsx, 工作表 公式, 单元格 F2: 公式没有保存计算结果，"
                         "请在电子表格程序中打开并保存该工作簿，以存下公式的值"));
  EXPECT_TRUE(Has(f.out, "1 passed, 1 error in "));
}

}  // namespace
