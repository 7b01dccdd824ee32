#include "outside/host/case.hpp"

namespace tovik::host {

std::string CaseStep::where() const {
  std::string out = "文件 " + file;
  if (!sheet.empty()) out += ", 工作表 " + sheet;
  out += ", 第 " + std::to_string(row) + " 行";
  return out;
}

}  // namespace tovik::host
