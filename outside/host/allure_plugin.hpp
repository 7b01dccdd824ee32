// allure raw results of a run: --alluredir DIR (destination "allure_report_dir") and
// --clean-alluredir. One result file per finished case, with its steps, log and labels.
#pragma once

#include <memory>

#include "outside/allure/writer.hpp"
#include "outside/host/plugin.hpp"

namespace tovik::host {

class AllurePlugin : public Plugin {
 public:
  std::string name() const override { return "allure"; }
  void add_options(OptionParser& parser) override;
  void configure(Config& config) override;
  void on_session_start(const Config& config) override;
  void on_case_finish(const CaseReport& report) override;

  // The allure result of a finished case, without writing it.
  static allure::TestResult to_result(const CaseReport& report);

 private:
  std::string dir_;
  bool clean_ = false;
  std::unique_ptr<allure::ResultsWriter> writer_;
};

}  // namespace tovik::host
