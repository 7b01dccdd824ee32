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
// other number a float. A number in a date or time format is the text it stands for, whatever
// the format shows: "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DD" at midnight, "HH:MM:SS" in a time-only
// format (serial_date.hpp has the details). A formula gives its stored result.
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
// cannot be read, more than the format holds: rows, columns, characters in a cell, or parts that
// inflate past their limit) is a ValueError "文件 <path> 不是有效的 xlsx 工作簿: <reason>". A
// formula cell without a stored result is a ValueError "文件 <path>, 工作表 <sheet>, 单元格 <cell>:
// 公式没有保存计算结果，..." telling to open and save the file in a spreadsheet program. A file that
// cannot be opened or read is an OSError naming the path.
//
// Parts are read as streams, a chunk at a time, so memory follows what the workbook holds, not
// the size of its XML.
Workbook read_workbook(const std::filesystem::path& path);

// The tab titles in order, read from the workbook part alone (no sheet is parsed). Errors as for
// read_workbook.
std::vector<std::string> sheet_names(const std::filesystem::path& path);

}  // namespace tovik::xlsx
