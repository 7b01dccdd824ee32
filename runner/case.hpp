// The case model both case formats produce: steps that name their place in the case file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::runner {

class Plugin;

// One keyword call of a case, and where it was written.
struct CaseStep {
  std::string file;         // as collected, relative to the run's directory when inside it
  std::string sheet;        // sheet title; empty for case files without sheets
  int row = 0;              // 1-based row (or line) in the case file
  std::string number;       // the step number column as written; "第 2 步" in YAML cases
  std::string description;  // the description column, or a YAML step's name
  std::string keyword;      // "request" for a YAML request step
  List args;                // a request step shows its method and URL here
  // A YAML request step's fields as written (request, extract, validate, text_asserts, retry);
  // empty for a keyword call.
  Dict request;

  // "文件 test_login.xlsx, 工作表 登录, 第 4 行", "文件 test_api.yaml, 第 12 行, 第 2 步 登录":
  // used in failure reports and traces.
  std::string where() const;
  // "send_http ('GET', '/api')": the call the step makes, as reports show it.
  std::string call() const;
};

struct CaseMarks {
  std::optional<std::string> skip;   // reason, when the case is skipped
  std::vector<std::string> fixtures; // requested fixtures, in order
  std::vector<std::string> tags;
  std::string kw_type = "all";       // keyword class the case runs with
  std::string kw_type_at;            // where the case file set it, for messages; empty by default
  std::optional<double> timeout;     // seconds the case may run (@timeout), over --case-timeout
  std::optional<int> reruns;         // times a failed case runs again (@reruns), over --reruns
  std::string group;                 // cases of one group run on one worker, in order (@group)
};

struct TestCase {
  std::string nodeid;  // "cases/test_login.xlsx::登录": unique and stable
  std::string file;
  std::string name;
  CaseMarks marks;
  std::vector<CaseStep> steps;
  // Steps run before the case's steps, and after them whatever happened (YAML cases).
  std::vector<CaseStep> setup, teardown;
  // The case's own variables (a YAML case's variables, a parametrized row's values).
  Dict variables;
  // Set when the case could not be read: running it reports this as its error.
  std::optional<std::string> broken;
  Plugin* owner = nullptr;  // the plug-in that collected it and runs it
};

// A file that matched a case pattern but could not be collected.
struct CollectError {
  std::string file;
  std::string message;
};

}  // namespace tovik::runner
