// Running one collected case: its fixtures, its time limit, its captured log, its attempts under
// --reruns. The serial run loop and a parallel run's workers both run cases through it.
#pragma once

#include <functional>
#include <vector>

#include "runner/config.hpp"
#include "runner/reruns.hpp"
#include "runner/report.hpp"

namespace tovik::runner {

class FixtureManager;
class LogSetup;
class Plugin;
class VariableStore;

class CaseRunner {
 public:
  // Reads --case-timeout and the rerun options (already checked when the run was configured).
  CaseRunner(Config& config, LogSetup& logs, FixtureManager& fixtures, const VariableStore& variables);

  // Runs tc's attempts. Each attempt: on_case_start to the listeners, the case, then finished
  // with the report (rerun and flaky set), which reports it. Interrupted passes on when a stop
  // was requested before or during an attempt; that attempt is not reported.
  void run(const TestCase& tc, const std::vector<Plugin*>& listeners, const std::function<void(CaseReport&)>& finished);

 private:
  void run_once(const TestCase& tc, CaseReport& report);

  Config& config_;
  LogSetup& logs_;
  FixtureManager& fixtures_;
  const VariableStore& variables_;
  double case_timeout_ = 0;
  Reruns reruns_;
};

// The listeners of a process: every plug-in in the controller and in a serial run, the ones that
// work in workers (Plugin::in_workers) in a worker.
std::vector<Plugin*> listeners(const Config& config);

}  // namespace tovik::runner
