#include "runner/worker.hpp"

#include <csignal>
#include <iostream>
#include <map>

#include "runner/case_run.hpp"
#include "runner/collection.hpp"
#include "runner/fixtures.hpp"
#include "runner/interrupt.hpp"
#include "runner/log_setup.hpp"
#include "runner/plugin.hpp"
#include "runner/variable_store.hpp"
#include "runner/worker_protocol.hpp"
#include "support/base/errors.hpp"
#include "support/base/secrets.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik::runner {

namespace {

// Only this process knows the secrets its cases met: they are masked before anything leaves it.
void redact_report(CaseReport& r) {
  secrets::redact_in_place(r.message);
  secrets::redact_in_place(r.log);
}

// A gone controller ends the worker: nothing it reports can arrive any more.
void send(std::string_view kind, std::string_view payload) {
  if (!write_frame(kWorkerOutFd, kind, payload)) throw Interrupted();
}

}  // namespace

int run_worker(Config& config) {
  std::signal(SIGPIPE, SIG_IGN);
  LogSetup logs(config);
  InterruptGuard guard;
  FixtureRegistry registry;
  for (Plugin* p : config.plugins) p->register_fixtures(registry);
  FixtureManager fixtures(registry, config);
  const std::vector<Plugin*> to = listeners(config);
  for (Plugin* p : to) p->on_session_start(config);

  // the controller reports the collection's errors; the worker only needs the cases
  const Collected collected = collect(config, [](const CollectError&) {});
  std::map<std::string, const TestCase*, std::less<>> by_id;
  for (const auto& tc : collected.cases) by_id.emplace(tc.nodeid, &tc);

  const VariableStore variables(config);
  if (auto* store = variables.find()) store->hold_writes();
  CaseRunner runner(config, logs, fixtures, variables);

  int status = kOk;
  FrameReader reader;
  try {
    send("ready", "");
    for (;;) {
      std::optional<Frame> frame = reader.next();
      if (!frame) {
        check_interrupt();
        if (!reader.fill(kWorkerInFd)) break;
        continue;
      }
      if (frame->kind != "run") throw ValueError("执行进程收到未知的消息 " + frame->kind);
      const auto found = by_id.find(frame->payload);
      if (found == by_id.end()) {
        // the file changed between the controller's collection and this one
        TestCase missing;
        missing.nodeid = frame->payload;
        CaseReport r;
        r.test = &missing;
        r.outcome = Outcome::Error;
        r.when = "setup";
        r.error_kind = "CollectError";
        r.message = "执行进程没有收集到这个用例（用例文件在运行中被改动了？）";
        send("report", encode_report(r, {}));
        continue;
      }
      runner.run(*found->second, to, [&](CaseReport& r) {
        for (Plugin* p : to) p->on_case_finish(r);
        for (Plugin* p : to)
          if (std::string bytes = p->carry(); !bytes.empty()) r.carried[p->name()] = std::move(bytes);
        redact_report(r);
        Dict saved;
        if (auto* store = variables.find()) saved = store->take_held();
        if (std::string lines = logs.take_forwarded(); !lines.empty()) send("log", lines);
        send("report", encode_report(r, saved));
      });
    }
  } catch (const Interrupted&) {
    status = kInterrupted;
  }
  try {
    fixtures.teardown_session();
  } catch (const std::exception& e) {
    std::cerr << "会话级 fixture 清理失败: " << describe_error(e) << "\n";
  }
  Summary summary;
  summary.interrupted = status == kInterrupted;
  for (Plugin* p : to) {
    try {
      p->on_session_finish(summary);
    } catch (const std::exception& e) {
      std::cerr << describe_error(e) << "\n";
    }
  }
  return status;
}

}  // namespace tovik::runner
