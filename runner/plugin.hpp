// The plug-in interface of the runner. Case plug-ins collect and run case files; reporters listen
// to the run's events. Every hook has a default that does nothing.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runner/case.hpp"
#include "runner/config.hpp"
#include "runner/options.hpp"
#include "runner/report.hpp"
#include "support/base/value.hpp"

namespace tovik {
class Exchange;
}

namespace tovik::runner {

class FixtureRegistry;
class CaseClock;

// What a case plug-in gets to run one case.
struct CaseContext {
  Config& config;
  Dict usefixtures;                      // requested fixture name -> value
  std::shared_ptr<Exchange> exchanger;   // the run's variable store
  const CaseStep* current_step = nullptr;  // the plug-in sets it before each step
  std::string browser;  // "chrome 120.0.6099.224" when a browser served the case; the plug-in sets it
  const CaseClock* clock = nullptr;  // the case's time limit; the plug-in checks it between steps
};

class Plugin {
 public:
  virtual ~Plugin() = default;
  virtual std::string name() const = 0;

  // Set-up
  virtual void add_options(OptionParser&) {}
  virtual void configure(Config&) {}
  virtual void register_fixtures(FixtureRegistry&) {}

  // Collection: a plug-in that collects a file returns its cases (owner set to itself).
  // Errors it throws become a collection error of that file.
  virtual bool collects(const std::filesystem::path&) const { return false; }
  virtual std::vector<TestCase> collect(const std::filesystem::path& file, const std::string& shown_path) {
    (void)file;
    (void)shown_path;
    return {};
  }
  // Runs one collected case; an exception fails the case.
  virtual void run_case(const TestCase&, CaseContext&) {}

  // Selection: after -k, -m and --shard a plug-in may leave out (counting them in deselected) or
  // reorder the cases about to run.
  virtual void select(std::vector<const TestCase*>& /*chosen*/, int& /*deselected*/) {}

  // Parallel runs (-n): the controller collects, selects and reports; worker processes run the
  // cases. Set-up hooks and collection run in both; the events and run_case reach a plug-in in
  // the workers only when it says so here (case plug-ins, fixtures, what records a case), and in
  // the controller always, a finished case's start and finish back to back.
  virtual bool in_workers() const { return false; }
  // In a worker, after on_case_finish: what the plug-in recorded of the case beyond its report;
  // the controller's instance finds it in CaseReport::carried[name()].
  virtual std::string carry() { return {}; }

  // Events, in the order they happen.
  virtual void on_session_start(const Config&) {}
  virtual void on_collect_error(const CollectError&) {}
  virtual void on_collection_finish(const std::vector<const TestCase*>&, int /*deselected*/) {}
  virtual void on_case_start(const TestCase&) {}
  virtual void on_case_finish(const CaseReport&) {}
  virtual void on_session_finish(const Summary&) {}
};

}  // namespace tovik::runner
