// YAML cases: test_*.yaml (and test_*.yml) files, read as yaml_case.hpp describes, run with one
// keyword object per case.
//
// Each case gets a keyword object of its type, made as a workbook case's is (the run's Exchange,
// the requested fixtures). Keyword steps dispatch on it exactly as workbook rows do; request
// steps go out through its HTTP client, so base_url, set_* and add_* keyword steps before them
// apply (the step's own headers, cookies, params and body win).
//
// Templates: "${name}" in any text of a step, resolved when the step runs from the case's
// variables, then the values extracted so far (template globals), then the saved variables of
// the variable file. Keyword arguments then also get the "{name}" resolution of workbook rows,
// and mappings or lists among them are passed as JSON text, as a workbook cell would hold them.
//
// A request step: send (with retry, each attempt a report step of its own, until its `until`
// checks pass), extract, validate (Assertion per kind), text_asserts (new_assertion per name).
// Teardown steps run after a failure and after Ctrl-C's first stop; a teardown failure is
// reported beside the case's own failure. The template globals are dumped to the variable file
// when the case ends.
#pragma once

#include "runner/plugin.hpp"

namespace tovik::runner {

class YamlPlugin : public Plugin {
 public:
  std::string name() const override { return "tovik.yaml"; }
  bool in_workers() const override { return true; }
  void on_session_start(const Config& config) override;
  bool collects(const std::filesystem::path& file) const override;
  std::vector<TestCase> collect(const std::filesystem::path& file, const std::string& shown_path) override;
  void run_case(const TestCase& tc, CaseContext& ctx) override;
};

}  // namespace tovik::runner
