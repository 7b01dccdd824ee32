#include "runner/session.hpp"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "runner/case_clock.hpp"
#include "runner/collection.hpp"
#include "runner/fixtures.hpp"
#include "runner/interrupt.hpp"
#include "runner/log_setup.hpp"
#include "runner/plugin.hpp"
#include "runner/reruns.hpp"
#include "runner/selection.hpp"
#include "runner/variable_store.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik::runner {

namespace {

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// What one session holds while it runs; each case gets what it needs of it explicitly.
struct Session {
  Config& config;
  LogSetup& logs;
  FixtureManager& fixtures;
  const VariableStore* variables = nullptr;  // opened once cases are about to run
  double case_timeout = 0;                   // --case-timeout, 0 for none

  void emit(const std::function<void(Plugin&)>& f) {
    for (Plugin* p : config.plugins) f(*p);
  }
};

// Runs one case and fills its report; Interrupted passes on.
void run_case(const TestCase& tc, Session& s, CaseReport& report) {
  report.test = &tc;
  report.start_ms = now_ms();
  s.logs.capture().clear();

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
    CaseContext ctx{s.config, {}, nullptr, nullptr, {}, nullptr};
    bool ready = false;
    try {
      ctx.exchanger = s.variables->exchanger();
      ctx.usefixtures = s.fixtures.setup(tc);
      ready = true;
    } catch (const Interrupted&) {
      throw;
    } catch (const std::exception& e) {
      fail(Outcome::Error, "setup", e);
    }
    if (ready) {
      const CaseClock clock(tc.marks.timeout.value_or(s.case_timeout));
      ctx.clock = &clock;
      try {
        tc.owner->run_case(tc, ctx);
      } catch (const Interrupted&) {
        try {
          s.fixtures.teardown_case();
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
        s.fixtures.teardown_case();
      } catch (const std::exception& e) {
        if (report.outcome == Outcome::Passed) fail(Outcome::Error, "teardown", e);
      }
    }
  }
  report.log = s.logs.capture().take_text();
  report.stop_ms = std::max(now_ms(), report.start_ms);
}

void count(Summary& summary, Outcome outcome) {
  switch (outcome) {
    case Outcome::Passed: ++summary.passed; break;
    case Outcome::Failed: ++summary.failed; break;
    case Outcome::Error: ++summary.errors; break;
    case Outcome::Skipped: ++summary.skipped; break;
  }
}

}  // namespace

int run_session(Config& config) {
  const auto started = std::chrono::steady_clock::now();
  Summary summary;
  LogSetup logs(config);
  InterruptGuard guard;

  FixtureRegistry registry;
  for (Plugin* p : config.plugins) p->register_fixtures(registry);
  FixtureManager fixtures(registry, config);
  Session session{config, logs, fixtures};
  session.case_timeout = parse_seconds(config.text_option("case_timeout")).value_or(0);

  session.emit([&](Plugin& p) { p.on_session_start(config); });
  Collected collected = collect(config, [&](const CollectError& err) { session.emit([&](Plugin& p) { p.on_collect_error(err); }); });
  summary.collect_errors = collected.errors;

  const Selection selection = Selection::from(config);
  std::vector<const TestCase*> chosen;
  for (const auto& tc : collected.cases) {
    if (selection.selected(tc)) chosen.push_back(&tc);
    else ++summary.deselected;
  }
  // the other shards' cases count as deselected, as -k and -m leave them
  const std::size_t selected = chosen.size();
  chosen = selection.shard(std::move(chosen));
  summary.deselected += static_cast<int>(selected - chosen.size());
  session.emit([&](Plugin& p) { p.select(chosen, summary.deselected); });
  session.emit([&](Plugin& p) { p.on_collection_finish(chosen, summary.deselected); });

  const auto finish = [&](int status) {
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    summary.exit_status = status;
    // every listener gets the end; one that cannot deliver (a report not written) makes the run
    // fail, since its output is lost
    for (Plugin* p : config.plugins) {
      try {
        p->on_session_finish(summary);
      } catch (const std::exception& e) {
        log::pytest()->error("{}", describe_error(e));
        std::cerr << "ERROR: " << describe_error(e) << "\n";
        if (status == kOk || status == kTestsFailed || status == kNoTestsCollected) status = kInternalError;
      }
    }
    return status;
  };

  if (config.flag_option("collectonly")) {
    if (summary.collect_errors) return finish(kInterrupted);
    return finish(chosen.empty() ? kNoTestsCollected : kOk);
  }

  // One variable store for the whole run, shared by every case plug-in.
  const VariableStore variables(config);
  session.variables = &variables;
  const std::int64_t maxfail = config.flag_option("exitfirst") ? 1 : config.int_option("maxfail");
  const Reruns reruns = Reruns::from(config);
  for (const TestCase* tc : chosen) {
    // each attempt starts afresh; what a failed one saved stays in the run's variables
    for (int attempt = 0; !summary.interrupted; ++attempt) {
      if (interrupted()) {
        summary.interrupted = true;
        break;
      }
      session.emit([&](Plugin& p) { p.on_case_start(*tc); });
      CaseReport report;
      try {
        run_case(*tc, session, report);
      } catch (const Interrupted&) {
        summary.interrupted = true;
        break;
      }
      report.rerun = attempt < tc->marks.reruns.value_or(reruns.times) && reruns.applies_to(report);
      report.flaky = report.outcome == Outcome::Passed && attempt > 0;
      if (report.rerun) ++summary.reruns;
      else count(summary, report.outcome);
      session.emit([&](Plugin& p) { p.on_case_finish(report); });
      if (!report.rerun) break;
      pause(reruns.delay);
    }
    if (summary.interrupted) break;
    if (maxfail > 0 && summary.failed + summary.errors >= maxfail) break;
  }
  try {
    fixtures.teardown_session();
  } catch (const std::exception& e) {
    log::pytest()->error("会话级 fixture 清理失败: {}", describe_error(e));
    ++summary.errors;
  }

  int status = kOk;
  if (summary.interrupted) status = kInterrupted;
  else if (summary.failed || summary.errors || summary.collect_errors) status = kTestsFailed;
  else if (summary.total() == 0) status = kNoTestsCollected;
  return finish(status);
}

}  // namespace tovik::runner
