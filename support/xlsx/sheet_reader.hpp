// The rows of one worksheet part.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "support/xlsx/workbook.hpp"

namespace tovik::xlsx {

// Rows are stored densely up to their last value, so a file with far-right cells on many rows
// could ask for a great deal of memory. The whole workbook may hold this many cell slots (about
// 400 MB), far beyond any case workbook.
inline constexpr std::size_t kMaxCells = std::size_t{1} << 23;

// The rows with values from a worksheet (or chartsheet/dialogsheet) root. cell_budget is what is
// left of kMaxCells and shrinks by the cells stored. BadWorkbook naming the cell or row when the
// data cannot be read.
std::vector<Row> read_rows(pugi::xml_node sheet_root, const std::vector<std::string>& shared_strings,
                           std::size_t& cell_budget);

}  // namespace tovik::xlsx
