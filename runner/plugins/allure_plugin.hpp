// allure raw results of a run: --alluredir DIR (destination "allure_report_dir") and
// --clean-alluredir. A case's steps are recorded from its start to its finish; then one result
// file per case, with its steps, log and labels, written on a thread of its own while the next
// case runs; the session's end waits for them all. Without --alluredir nothing is recorded.
#pragma once

#include <memory>

#include "outside/allure/background_writer.hpp"
#include "outside/allure/step.hpp"
#include "runner/plugin.hpp"

namespace tovik::runner {

class AllurePlugin : public Plugin {
 public:
  std::string name() const override { return "allure"; }
  void add_options(OptionParser& parser) override;
  void configure(Config& config) override;
  void on_session_start(const Config& config) override;
  void on_case_start(const TestCase& tc) override;
  void on_case_finish(const CaseReport& report) override;
  void on_session_finish(const Summary& summary) override;

  // The allure result of a finished case from the steps recorded while it ran, without writing it.
  static allure::TestResult to_result(const CaseReport& report, allure::TestResult recorded);

 private:
  std::string dir_;
  bool clean_ = false;
  std::unique_ptr<allure::BackgroundWriter> writer_;
  // The case being recorded: its result and the scope that makes it the thread's current test.
  allure::TestResult recorded_;
  std::unique_ptr<allure::ScopedTest> recording_;
};

}  // namespace tovik::runner
