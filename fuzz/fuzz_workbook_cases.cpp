// Workbook files to case steps, as a run collects test_*.xlsx. A refused file (any
// std::exception) is a result; crashes, leaks, undefined behaviour and hangs are findings.
#include <exception>

#include "fuzz/xlsx_input.hpp"
#include "runner/plugins/workbook_plugin.hpp"

namespace fz = tovik::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = fz::write_workbook_input("test_f.xlsx", data, size);
  try {
    tovik::runner::WorkbookPlugin plugin;
    // The texts reports show of every step: where it is and the call it makes.
    for (const auto& tc : plugin.collect(path, "test_f.xlsx"))
      for (const auto& step : tc.steps) (void)(step.where().size() + step.call().size());
  } catch (const std::exception&) {
  }
  return 0;
}
