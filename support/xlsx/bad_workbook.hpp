// The failure raised inside the reader. It carries only the reason; read_workbook and sheet_names
// turn it into a ValueError that names the file.
#pragma once

#include <stdexcept>
#include <string>

namespace tovik::xlsx {

class BadWorkbook : public std::runtime_error {
 public:
  explicit BadWorkbook(const std::string& reason) : std::runtime_error(reason) {}
};

}  // namespace tovik::xlsx
