#include "runner/case_run.hpp"

#include <algorithm>

#include "runner/case_clock.hpp"
#include "runner/fixtures.hpp"
#include "runner/interrupt.hpp"
#include "runner/log_setup.hpp"
#include "runner/plugin.hpp"
#include "runner/variable_store.hpp"
#include "support/base/errors.hpp"

namespace tovik::runner {

std::vector<Plugin*> listeners(const Config& config) {
  if (!config.worker) return config.plugins;
  std::vector<Plugin*> out;
  for (Plugin* p : config.plugins)
    if (p->in_workers()) out.push_back(p);
  return out;
}

CaseRunner::CaseRunner(Config& config, LogSetup& logs, FixtureManager& fixtures, const VariableStore& variables)
    : config_(config),
      logs_(logs),
      fixtures_(fixtures),
      variables_(variables),
      case_timeout_(parse_seconds(config.text_option("case_timeout")).value_or(0)),
      reruns_(Reruns::from(config)) {}

void CaseRunner::run(const TestCase& tc, const std::vector<Plugin*>& to, const std::function<void(CaseReport&)>& finished) {
  // each attempt starts afresh; what a failed one saved stays in the run's variables
  for (int attempt = 0;; ++attempt) {
    check_interrupt();
    for (Plugin* p : to) p->on_case_start(tc);
    CaseReport report;
    run_once(tc, report);
    report.rerun = attempt < tc.marks.reruns.value_or(reruns_.times) && reruns_.applies_to(report);
    report.flaky = report.outcome == Outcome::Passed && attempt > 0;
    finished(report);
    if (!report.rerun) return;
    pause(reruns_.delay);
  }
}

void CaseRunner::run_once(const TestCase& tc, CaseReport& report) {
  report.test = &tc;
  report.start_ms = now_ms();
  logs_.capture().clear();

  const auto fail = [&](Outcome o, const std::string& when, const std::exception& e) {
    report.outcome = o;
    report.when = when;
    report.error_kind = error_kind(e);
    report.message = e.what();
  };

  if (tc.marks.skip) {
    report.outcome = Outcome::Skipped;
    report.message = *tc.marks.skip;
  } else if (tc.broken) {
    report.outcome = Outcome::Error;
    report.when = "setup";
    report.error_kind = "CollectError";
    report.message = *tc.broken;
  } else {
    CaseContext ctx{config_, {}, nullptr, nullptr, {}, nullptr};
    bool ready = false;
    try {
      ctx.exchanger = variables_.exchanger();
      ctx.usefixtures = fixtures_.setup(tc);
      ready = true;
    } catch (const Interrupted&) {
      throw;
    } catch (const std::exception& e) {
      fail(Outcome::Error, "setup", e);
    }
    if (ready) {
      const CaseClock clock(tc.marks.timeout.value_or(case_timeout_));
      ctx.clock = &clock;
      try {
        tc.owner->run_case(tc, ctx);
      } catch (const Interrupted&) {
        try {
          fixtures_.teardown_case();
        } catch (...) {
        }
        throw;
      } catch (const std::exception& e) {
        // a step that failed after the time was up (a wait or request running to its own end) was
        // stopped by the limit as much as by its own error
        if (clock.expired() && !dynamic_cast<const CaseTimeout*>(&e))
          fail(Outcome::Failed, "call", clock.error(ctx.current_step ? ctx.current_step->keyword : std::string()));
        else
          fail(Outcome::Failed, "call", e);
        report.step = ctx.current_step;
      }
      ctx.clock = nullptr;
      report.browser = ctx.browser;
      try {
        fixtures_.teardown_case();
      } catch (const std::exception& e) {
        if (report.outcome == Outcome::Passed) fail(Outcome::Error, "teardown", e);
      }
    }
  }
  report.log = logs_.capture().take_text();
  report.stop_ms = std::max(now_ms(), report.start_ms);
}

}  // namespace tovik::runner
