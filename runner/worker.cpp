#include "runner/worker.hpp"

#include <poll.h>

#include <cerrno>
#include <csignal>
#include <deque>
#include <iostream>

#include "runner/case_run.hpp"
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

  const VariableStore variables(config);
  if (auto* store = variables.find()) store->hold_writes();
  CaseRunner runner(config, logs, fixtures, variables);

  int status = kOk;
  FrameReader reader;
  std::deque<std::string> queued;  // cases to run, in order
  bool open = true, stop = false;
  // Takes in what the controller sent; with wait, blocks until something comes (or the end).
  // A stop seen here drops what is queued, however early it was sent.
  const auto take_in = [&](bool wait) {
    pollfd p{kWorkerInFd, POLLIN, 0};
    while (open) {
      const int ready = ::poll(&p, 1, wait ? -1 : 0);
      if (ready < 0 && errno == EINTR) {
        check_interrupt();
        continue;
      }
      if (ready <= 0) return;
      open = reader.fill(kWorkerInFd);
      while (auto f = reader.next()) {
        if (f->kind == "run") queued.push_back(std::move(f->payload));
        else if (f->kind == "stop") stop = true;
        else throw ValueError("执行进程收到未知的消息 " + f->kind);
      }
      wait = false;
    }
  };
  try {
    send("ready", "");
    for (;;) {
      take_in(false);
      if (stop) break;
      if (queued.empty()) {
        if (!open) break;
        take_in(true);
        continue;
      }
      const TestCase tc = decode_case(queued.front(), config.plugins);
      queued.pop_front();
      runner.run(tc, to, [&](CaseReport& r) {
        for (Plugin* p : to) p->on_case_finish(r);
        for (Plugin* p : to)
          if (std::string bytes = p->carry(); !bytes.empty()) r.carried[p->name()] = std::move(bytes);
        redact_report(r);
        Dict saved;
        if (auto* store = variables.find()) saved = store->take_held();
        send("report", encode_report(r, saved, logs.take_forwarded()));
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
