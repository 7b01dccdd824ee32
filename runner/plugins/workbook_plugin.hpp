// Workbook cases: every sheet of a test_*.xlsx file whose title does not begin with "_" is a case.
//
// Row 1 is a header. Column A holds the step number, B a description, C the keyword, D onwards
// its arguments (trailing empty cells dropped). Rows with an empty C are skipped. Rows whose C
// begins with "@" are marks of the case rather than steps:
//   @skip [reason]          skip the case
//   @fixtures name [name..] fixtures the case requests (their values reach keywords as usefixtures)
//   @tags tag [tag..]       tags, for -m and -k selection and the report
//   @type web|app|api|all   the keyword class the case runs with (all by default)
#pragma once

#include "runner/plugin.hpp"

namespace tovik::runner {

class WorkbookPlugin : public Plugin {
 public:
  std::string name() const override { return "tovik.pytest"; }
  bool in_workers() const override { return true; }
  // Loads the keyword library, so its configuration defaults are those of this run's pytest.ini.
  void on_session_start(const Config& config) override;
  bool collects(const std::filesystem::path& file) const override;
  std::vector<TestCase> collect(const std::filesystem::path& file, const std::string& shown_path) override;
  void run_case(const TestCase& tc, CaseContext& ctx) override;
};

}  // namespace tovik::runner
