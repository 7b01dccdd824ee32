#include "runner/case.hpp"

namespace tovik::runner {

std::string CaseStep::where() const {
  std::string out = "文件 " + file;
  if (!sheet.empty()) out += ", 工作表 " + sheet;
  out += ", 第 " + std::to_string(row) + " 行";
  return out;
}

}  // namespace tovik::runner
