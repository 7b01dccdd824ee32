// The start command: a new case workbook made from the packaged template.
#pragma once

#include <string>

#include "support/base/value.hpp"

namespace tovik::cli {

// 创建测试用例demo文件. 并命名为 test_{name}.xlsx: copies template.xlsx of the data directory to
// test_<name>.xlsx in the current directory (replacing a file there), with the keyword names of
// kw_type's class (get_class_by_type) appended to the sheet "_key_word", a keyword drop-down on
// column C of the case sheet, and the case sheet "active" renamed to name; then prints
// "已创建新的测试用例文件：test_<name>.xlsx".
//
// A name that cannot be a case sheet's title (see start_name_problem) is a ValueError before
// anything is read or written; so is a non-text kw_type (TypeError). A missing template is an
// OSError, a broken one a ValueError naming it, a file that cannot be written an OSError naming
// it; nothing is printed then and no file is left behind.
void start(const std::string& name, const Value& kw_type = Value("all"));

// Why name cannot name the case sheet and its file, empty when it can: a title the workbook
// format forbids, "_key_word" in any letter case (the keyword list's own sheet), a title
// beginning with "_" (the runner skips such sheets).
std::string start_name_problem(const std::string& name);

}  // namespace tovik::cli
