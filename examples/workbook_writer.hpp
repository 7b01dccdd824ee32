// Writing case workbooks from a plain description: the demo suite's sources and test fixtures.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::examples {

struct SheetRows {
  std::string name;
  std::vector<List> rows;  // row 2 onwards; none leaves a cell empty
};

// Row 1 is the usual header (编号, 描述, 关键字, 参数1, ...). Throws OSError when writing fails.
void write_workbook(const std::filesystem::path& path, const std::vector<SheetRows>& sheets);

// The description as YAML: {sheets: [{name: ..., rows: [[1, 描述, keyword, arg, ...], ...]}]}.
std::vector<SheetRows> read_description(const std::filesystem::path& yaml_file);

}  // namespace tovik::examples
