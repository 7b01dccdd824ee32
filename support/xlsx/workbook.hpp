// Reading xlsx workbooks: every sheet's cell values, row by row, as the case runner walks them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::xlsx {

// One spreadsheet row that holds at least one value.
//
// Cell values are what the file stores: text (shared, inline or a formula's text result), bool,
// error text such as "#DIV/0!", and numbers. A whole number that fits in 64 bits is an int, any
// other number a float; dates stay numbers. A formula gives its cached result, none without one.
struct Row {
  std::size_t number = 0;    // 1-based, as the spreadsheet shows it
  std::vector<Value> cells;  // cells[0] is column A; ends at the last non-empty cell; gaps are none

  // The cell in a 0-based column; none past the end of the row.
  const Value& at(std::size_t column) const;
};

struct Sheet {
  std::string name;       // the tab title
  std::vector<Row> rows;  // ascending by number; rows without any value are left out, so a lone
                          // cell in row 1048576 costs one Row, not a million
};

struct Workbook {
  std::vector<Sheet> sheets;  // in tab order
};

// A file that is not an xlsx workbook (not a zip, parts missing, malformed XML, cell data that
// cannot be read) is a ValueError "文件 <path> 不是有效的 xlsx 工作簿: <reason>"; a file that
// cannot be opened or read is an OSError naming the path.
Workbook read_workbook(const std::filesystem::path& path);

// The tab titles in order, read from the workbook part alone (no sheet is parsed). Errors as for
// read_workbook.
std::vector<std::string> sheet_names(const std::filesystem::path& path);

}  // namespace tovik::xlsx
