// The failures raised inside the reader. They carry only what they know; read_workbook and
// sheet_names turn them into ValueErrors that name the file.
#pragma once

#include <stdexcept>
#include <string>

namespace tovik::xlsx {

class BadWorkbook : public std::runtime_error {
 public:
  explicit BadWorkbook(const std::string& reason) : std::runtime_error(reason) {}
};

// A formula cell whose result was never stored: the file is sound, but the value a case needs is
// not in it. Writers that do not calculate (scripts, libraries) leave such cells.
class FormulaWithoutValue : public std::runtime_error {
 public:
  explicit FormulaWithoutValue(const std::string& cell) : std::runtime_error(cell), cell_(cell) {}
  const std::string& cell() const { return cell_; }  // "C5"

 private:
  std::string cell_;
};

}  // namespace tovik::xlsx
