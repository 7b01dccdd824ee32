// allure raw results of a run: --alluredir DIR (destination "allure_report_dir") and
// --clean-alluredir. A case's steps are recorded from its start to its finish; then one result
// file per case, with its steps, log and labels, written on a thread of its own while the next
// case runs; the session's end waits for them all, then writes environment.properties,
// executor.json and categories.json. Without --alluredir nothing is recorded.
// In a worker of a parallel run it records, attachments kept in the steps, and carries the
// recording to the controller, which writes the result as a serial run does.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "outside/allure/background_writer.hpp"
#include "outside/allure/step.hpp"
#include "runner/plugin.hpp"

namespace tovik::runner {

class AllurePlugin : public Plugin {
 public:
  std::string name() const override { return "allure"; }
  bool in_workers() const override { return true; }
  void add_options(OptionParser& parser) override;
  void configure(Config& config) override;
  void on_session_start(const Config& config) override;
  void on_case_start(const TestCase& tc) override;
  void on_case_finish(const CaseReport& report) override;
  void on_session_finish(const Summary& summary) override;
  std::string carry() override;

  // The allure result of a finished case from the steps recorded while it ran, without writing it;
  // root_name names the suite of the case files that lie in the run's directory.
  static allure::TestResult to_result(const CaseReport& report, allure::TestResult recorded,
                                      const std::string& root_name);

 private:
  // environment.properties, executor.json, categories.json; OSError when one cannot be written
  void write_run_files();
  // Whether cases are recorded: with results to write here, or in a worker for the controller.
  bool records() const { return writer_ || (worker_ && !dir_.empty()); }

  std::string dir_;
  bool clean_ = false;
  int worker_ = 0;  // the worker's number in a worker process
  std::string root_name_;  // the rootdir's own name
  // for the run's own files, written at its end
  std::set<std::string> browsers_;      // that served cases
  std::set<std::string> broken_kinds_;  // error kinds of the broken cases
  std::unique_ptr<allure::BackgroundWriter> writer_;
  // The case being recorded: its result and the scope that makes it the thread's current test.
  allure::TestResult recorded_;
  std::unique_ptr<allure::ScopedTest> recording_;
};

}  // namespace tovik::runner
