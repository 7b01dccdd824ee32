// `tovik check`: the cases collected as `tovik run` would collect them, checked without a browser
// or a request, so a typo shows in a second instead of at the end of a long run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runner/collection.hpp"
#include "support/base/value.hpp"

namespace tovik::cli {

struct Finding {
  std::string file, sheet;  // sheet empty for YAML files and for a whole file
  int row = 0;              // 0 for a whole file
  bool error = true;        // else a warning
  std::string message;

  // "test_a.xlsx:登录:5: 错误: ..." / "test_a.yaml:12: 警告: ..." / "test_b.xlsx: 错误: ..."
  std::string line() const;
};

// Checks each step of each case: the keyword exists in the case's keyword class (else an error
// with the closest names), required arguments are there (error), no more than declared (warning),
// literal arguments fit their declared kinds and locators parse (errors), and each {name} or
// ${name} a step refers to is a saved variable, a name an earlier step of the case saves or
// extracts, or a case variable (else a warning: it may come from outside the files).
// saved tells whether the run's variable file (or its template globals) holds a name.
std::vector<Finding> check_cases(const std::vector<runner::TestCase>& cases, const std::function<bool(const std::string&)>& saved);

// The command: collects args' paths with the run's configuration (pytest.ini, testpaths), prints
// one line per finding (or a JSON list with format "json") and returns 0 when no error was found,
// 1 otherwise, 4 for a usage error (a path that does not exist, an unknown format).
int check_main(const std::vector<std::string>& args, const std::string& format);

}  // namespace tovik::cli
