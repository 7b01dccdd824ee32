#include "runner/case.hpp"

#include "support/base/printable.hpp"

namespace tovik::runner {

std::string CaseStep::where() const {
  std::string out = "文件 " + file;
  if (!sheet.empty()) out += ", 工作表 " + sheet;
  out += ", 第 " + std::to_string(row) + " 行";
  // case files without sheets number their steps themselves
  if (sheet.empty() && !number.empty()) {
    out += ", " + number;
    if (!description.empty()) out += " " + description;
  }
  return out;
}

std::string CaseStep::call() const { return keyword + " " + repr(Value::tuple(args)); }

}  // namespace tovik::runner
