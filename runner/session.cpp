#include "runner/session.hpp"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "runner/case_run.hpp"
#include "runner/collection.hpp"
#include "runner/controller.hpp"
#include "runner/fixtures.hpp"
#include "runner/interrupt.hpp"
#include "runner/log_setup.hpp"
#include "runner/plugin.hpp"
#include "runner/selection.hpp"
#include "runner/variable_store.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik::runner {

namespace {

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
  const auto emit = [&](const std::function<void(Plugin&)>& f) {
    for (Plugin* p : config.plugins) f(*p);
  };

  emit([&](Plugin& p) { p.on_session_start(config); });
  Collected collected = collect(config, [&](const CollectError& err) { emit([&](Plugin& p) { p.on_collect_error(err); }); });
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
  emit([&](Plugin& p) { p.select(chosen, summary.deselected); });
  emit([&](Plugin& p) { p.on_collection_finish(chosen, summary.deselected); });

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
  const std::int64_t maxfail = config.flag_option("exitfirst") ? 1 : config.int_option("maxfail");
  const auto enough = [&] { return maxfail > 0 && summary.failed + summary.errors >= maxfail; };
  const auto report = [&](CaseReport& r) {
    if (r.rerun) ++summary.reruns;
    else count(summary, r.outcome);
    emit([&](Plugin& p) { p.on_case_finish(r); });
  };
  if (const int workers = worker_count(config); workers > 0) {
    // the workers run the cases; here each finished case starts and ends for the listeners
    ParallelRun run{config, logs, variables, workers, [&](CaseReport& r) {
                      emit([&](Plugin& p) { p.on_case_start(*r.test); });
                      report(r);
                    },
                    enough};
    summary.interrupted = run_parallel(run, chosen);
  } else {
    CaseRunner runner(config, logs, fixtures, variables);
    for (const TestCase* tc : chosen) {
      try {
        runner.run(*tc, config.plugins, report);
      } catch (const Interrupted&) {
        summary.interrupted = true;
        break;
      }
      if (enough()) break;
    }
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
