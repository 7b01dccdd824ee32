// Workbooks as a spreadsheet program writes them (libxlsxwriter writes what Excel writes).
#include "support/xlsx/workbook.hpp"

#include <gtest/gtest.h>
#include <xlsxwriter.h>


#include "support/base/errors.hpp"
#include "support/xlsx/test_files.hpp"

namespace tovik::xlsx {
namespace {

using test_files::kinds;
using test_files::ScratchDir;

TEST(Workbook, SheetsComeInTabOrderWithTheirTitles) {
  ScratchDir dir;
  auto path = dir / "order.xlsx";
  // Not alphabetical, so sorting by part or title would show.
  const std::vector<std::string> titles{"Zeta", "中文 用例", "with  spaces", "Alpha"};
  lxw_workbook* wb = workbook_new(path.c_str());
  for (const auto& title : titles)
    worksheet_write_string(workbook_add_worksheet(wb, title.c_str()), 0, 0, title.c_str(), nullptr);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  EXPECT_EQ(sheet_names(path), titles);
  Workbook book = read_workbook(path);
  ASSERT_EQ(book.sheets.size(), titles.size());
  for (std::size_t i = 0; i < titles.size(); ++i) {
    EXPECT_EQ(book.sheets[i].name, titles[i]);
    ASSERT_EQ(book.sheets[i].rows.size(), 1u);
    EXPECT_EQ(book.sheets[i].rows[0].cells, List{titles[i]});  // the part that belongs to it
  }
}

TEST(Workbook, CellsKeepTheKindTheyWereWrittenWith) {
  ScratchDir dir;
  auto path = dir / "kinds.xlsx";
  lxw_workbook* wb = workbook_new(path.c_str());
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Cases");
  lxw_format* bold = workbook_add_format(wb);
  format_set_bold(bold);
  worksheet_write_string(ws, 0, 0, "open", nullptr);
  worksheet_write_string(ws, 0, 1, "价格", nullptr);
  worksheet_write_string(ws, 0, 2, "open", nullptr);  // the same shared string as A1
  const double numbers[] = {3, 3.5, -0.0, 1e20, 9007199254740992.0, -42, 0.1};
  for (int c = 0; c < 7; ++c) worksheet_write_number(ws, 1, c, numbers[c], nullptr);
  worksheet_write_boolean(ws, 2, 0, 1, nullptr);
  worksheet_write_boolean(ws, 2, 1, 0, nullptr);
  worksheet_write_formula_num(ws, 2, 2, "=1+2", nullptr, 3);
  worksheet_write_formula_num(ws, 2, 3, "=1/4", nullptr, 0.25);
  worksheet_write_formula_str(ws, 2, 4, "=\"A\"&\"B\"", nullptr, "AB");
  lxw_rich_string_tuple plain = {nullptr, const_cast<char*>("red ")};
  lxw_rich_string_tuple strong = {bold, const_cast<char*>("bold")};
  lxw_rich_string_tuple tail = {nullptr, const_cast<char*>(" 尾")};
  lxw_rich_string_tuple* rich[] = {&plain, &strong, &tail, nullptr};
  worksheet_write_rich_string(ws, 3, 1, rich, nullptr);
  worksheet_write_blank(ws, 3, 5, bold);  // formatted but empty: not part of the row
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  const auto rows = read_workbook(path).sheets.at(0).rows;
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].cells, (List{"open", "价格", "open"}));
  EXPECT_EQ(rows[1].cells, (List{3, 3.5, 0, 1e20, 9007199254740992LL, -42, 0.1}));
  EXPECT_EQ(kinds(rows[1].cells), "int float int float int int float");
  EXPECT_EQ(rows[2].cells, (List{true, false, 3, 0.25, "AB"}));
  EXPECT_EQ(kinds(rows[2].cells), "bool bool int float str");
  EXPECT_EQ(rows[3].cells, (List{nullptr, "red bold 尾"}));
}

TEST(Workbook, DatesAndTimesReadAsTheTextTheyStandFor) {
  ScratchDir dir;
  auto path = dir / "dates.xlsx";
  lxw_workbook* wb = workbook_new(path.c_str());
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Cases");
  auto format = [&](const char* code) {
    lxw_format* f = workbook_add_format(wb);
    format_set_num_format(f, code);
    return f;
  };
  lxw_format* built_in_date = workbook_add_format(wb);
  format_set_num_format_index(built_in_date, 14);
  lxw_datetime morning = {2024, 5, 1, 8, 30, 0};
  lxw_datetime midnight = {2024, 5, 1, 0, 0, 0};
  worksheet_write_datetime(ws, 0, 0, &morning, format("yyyy/m/d h:mm"));
  worksheet_write_datetime(ws, 0, 1, &morning, built_in_date);  // the time is kept, shown or not
  worksheet_write_datetime(ws, 0, 2, &midnight, format("d mmmm yyyy"));
  worksheet_write_number(ws, 0, 3, 8.5 / 24, format("h:mm:ss AM/PM"));
  worksheet_write_number(ws, 0, 4, 45413, format("#,##0 \"days\""));
  worksheet_write_number(ws, 0, 5, 45413, nullptr);
  worksheet_write_formula_num(ws, 0, 6, "=A1+1", format("yyyy-mm-dd hh:mm:ss"), 45414.354166666664);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  const auto rows = read_workbook(path).sheets.at(0).rows;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cells, (List{"2024-05-01 08:30:00", "2024-05-01 08:30:00", "2024-05-01", "08:30:00", 45413,
                                 45413, "2024-05-02 08:30:00"}));
}

TEST(Workbook, SparseRowsKeepTheirSpreadsheetNumbers) {
  ScratchDir dir;
  auto path = dir / "sparse.xlsx";
  lxw_workbook* wb = workbook_new(path.c_str());
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Sparse");
  lxw_format* bold = workbook_add_format(wb);
  format_set_bold(bold);
  worksheet_write_string(ws, 0, 2, "keyword", nullptr);
  worksheet_write_blank(ws, 1, 0, bold);  // row 2 holds nothing
  worksheet_write_number(ws, 4, 3, 7, nullptr);
  worksheet_write_number(ws, 1048575, 0, 1, nullptr);
  worksheet_write_string(ws, 1048575, 16383, "far corner", nullptr);
  workbook_add_worksheet(wb, "Empty");
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  Workbook book = read_workbook(path);
  ASSERT_EQ(book.sheets.size(), 2u);
  const auto& rows = book.sheets[0].rows;
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].number, 1u);
  EXPECT_EQ(rows[0].cells, (List{nullptr, nullptr, "keyword"}));
  EXPECT_EQ(rows[1].number, 5u);
  EXPECT_EQ(rows[1].cells, (List{nullptr, nullptr, nullptr, 7}));
  EXPECT_EQ(rows[2].number, 1048576u);
  ASSERT_EQ(rows[2].cells.size(), 16384u);
  EXPECT_EQ(rows[2].at(0), Value(1));
  EXPECT_TRUE(rows[2].at(1).is_none());
  EXPECT_EQ(rows[2].at(16383), Value("far corner"));
  EXPECT_TRUE(rows[2].at(16384).is_none());
  EXPECT_TRUE(book.sheets[1].rows.empty());
}

// Their speed is measured by bench/workbook_bench; here, that every sheet is read right.
TEST(Workbook, ManySmallSheetsAllRead) {
  ScratchDir dir;
  auto path = dir / "many.xlsx";
  lxw_workbook* wb = workbook_new(path.c_str());
  for (int i = 0; i < 500; ++i) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, ('S' + std::to_string(i)).c_str());
    worksheet_write_string(ws, 0, 2, ("step " + std::to_string(i)).c_str(), nullptr);
    worksheet_write_number(ws, 1, 3, i, nullptr);
  }
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  Workbook book = read_workbook(path);
  ASSERT_EQ(book.sheets.size(), 500u);
  for (std::size_t i : {0, 1, 250, 499}) {
    EXPECT_EQ(book.sheets[i].name, 'S' + std::to_string(i));
    ASSERT_EQ(book.sheets[i].rows.size(), 2u);
    EXPECT_EQ(book.sheets[i].rows[0].at(2), Value("step " + std::to_string(i)));
    EXPECT_EQ(book.sheets[i].rows[1].at(3), Value(static_cast<long>(i)));
  }
}

TEST(Workbook, DamagedCopiesFailAsValueErrorNamingTheFile) {
  ScratchDir dir;
  auto good = dir / "good.xlsx";
  lxw_workbook* wb = workbook_new(good.c_str());
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Cases");
  for (int r = 0; r < 50; ++r) worksheet_write_string(ws, r, 2, std::to_string(r).c_str(), nullptr);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
  const std::string bytes = test_files::read_bytes(good);

  // Cut at many lengths, and bytes flipped anywhere: it reads or it is a ValueError, never a
  // crash or another kind of failure.
  auto bad = dir / "damaged.xlsx";
  std::size_t failures = 0;
  auto try_read = [&](const std::string& content) {
    test_files::write_bytes(bad, content);
    try {
      read_workbook(bad);
      sheet_names(bad);
    } catch (const ValueError& e) {
      ++failures;
      EXPECT_EQ(std::string(e.what()).rfind("文件 " + bad.string() + " 不是有效的 xlsx 工作簿: ", 0),
                0u) << e.what();
    }
  };
  for (std::size_t cut = 0; cut < bytes.size(); cut += 61) try_read(bytes.substr(0, cut));
  EXPECT_EQ(failures, (bytes.size() + 60) / 61);
  unsigned seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string mutated = bytes;
    for (int k = 0; k < 4; ++k) {
      seed = seed * 1103515245 + 12345;
      mutated[(seed >> 8) % mutated.size()] ^= static_cast<char>(1 + (seed >> 3) % 255);
    }
    try_read(mutated);
  }
}

}  // namespace
}  // namespace tovik::xlsx
