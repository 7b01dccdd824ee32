// The xlsx reader over arbitrary files. Refusing a file with any std::exception is a result;
// crashes, leaks, undefined behaviour, hangs and a workbook that breaks its own promises are not.
#include <exception>

#include "fuzz/xlsx_input.hpp"
#include "support/xlsx/workbook.hpp"

namespace fz = tovik::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = fz::write_workbook_input("book.xlsx", data, size);
  tovik::xlsx::Workbook book;
  try {
    book = tovik::xlsx::read_workbook(path);
  } catch (const std::exception&) {
    return 0;
  }
  for (const auto& sheet : book.sheets) {
    std::size_t previous = 0;
    for (const auto& row : sheet.rows) {
      fz::check(row.number > previous, "rows ascend and start at 1", sheet.name);
      fz::check(!row.cells.empty() && !row.cells.back().is_none(), "a row ends at its last value", sheet.name);
      fz::check(row.at(row.cells.size()).is_none(), "at() past the end is none");
      previous = row.number;
    }
  }
  // The names alone come from the workbook part; they must match what the full read saw.
  try {
    const auto names = tovik::xlsx::sheet_names(path);
    fz::check(names.size() == book.sheets.size(), "sheet_names() lists every sheet read_workbook() read");
    for (std::size_t i = 0; i < names.size(); ++i)
      fz::check(names[i] == book.sheets[i].name, "sheet_names() in tab order", names[i]);
  } catch (const std::exception& e) {
    fz::check(false, "sheet_names() refuses a workbook that read_workbook() read", e.what());
  }
  return 0;
}
