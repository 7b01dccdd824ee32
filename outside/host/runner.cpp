#include "outside/host/runner.hpp"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <set>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "outside/allure/step.hpp"
#include "outside/host/allure_plugin.hpp"
#include "outside/host/browser_plugin.hpp"
#include "outside/host/expression.hpp"
#include "outside/host/fixtures.hpp"
#include "outside/host/interrupt.hpp"
#include "outside/host/junit.hpp"
#include "outside/host/main_plugin.hpp"
#include "outside/host/terminal.hpp"
#include "outside/host/workbook_plugin.hpp"
#include "outside/settings/ini_reader.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "yamlcase/exchange.hpp"

namespace tovik::host {

namespace fs = std::filesystem;

namespace {

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Splits addopts as a POSIX shell would: blanks separate, quotes group, backslash escapes.
std::vector<std::string> shell_split(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  bool in_word = false;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      else if (c == '\\' && quote == '"' && i + 1 < text.size()) cur += text[++i];
      else cur += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == '\\' && i + 1 < text.size()) {
      cur += text[++i];
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (in_word) out.push_back(std::move(cur));
      cur.clear();
      in_word = false;
    } else {
      cur += c;
      in_word = true;
    }
  }
  if (quote) throw UsageError("addopts in pytest.ini: unclosed quotation: " + text);
  if (in_word) out.push_back(std::move(cur));
  return out;
}

bool skipped_dir(const std::string& name) {
  static const std::set<std::string> names{"build", "dist", "node_modules", "venv", "CVS", "_darcs", "__pycache__"};
  return name.empty() || name[0] == '.' || names.count(name) > 0 ||
         (name.size() > 4 && name.compare(name.size() - 4, 4, ".egg") == 0);
}

std::string shown(const fs::path& p, const fs::path& root) {
  std::error_code ec;
  const fs::path abs = fs::absolute(p, ec).lexically_normal();
  const fs::path rel = abs.lexically_relative(root);
  if (!rel.empty() && *rel.begin() != "..") return rel.generic_string();
  return p.generic_string();
}

spdlog::level::level_enum parse_level(const std::string& text, const std::string& what) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "debug" || lower == "10") return spdlog::level::debug;
  if (lower == "info" || lower == "20") return spdlog::level::info;
  if (lower == "warning" || lower == "warn" || lower == "30") return spdlog::level::warn;
  if (lower == "error" || lower == "40") return spdlog::level::err;
  if (lower == "critical" || lower == "50") return spdlog::level::critical;
  if (lower == "notset" || lower == "0" || lower == "trace") return spdlog::level::trace;
  throw UsageError(what + ": unknown log level '" + text + "'");
}

constexpr const char* kLogPattern = "%^%L%$ %n:%v";

// Where log lines go during a run: the per-case capture, a log file, the live terminal.
class LogSetup {
 public:
  explicit LogSetup(const Config& c) {
    const std::string level = option_or_ini(c, "log_level", "log_level", "info");
    const auto base = parse_level(level, "log_level");
    auto lowest = base;
    std::vector<spdlog::sink_ptr> sinks;
    capture_ = std::make_shared<log::CaptureSink>();
    capture_->set_level(base);
    capture_->set_formatter(log::make_formatter("%L %n:%v"));
    sinks.push_back(capture_);

    const std::string file = option_or_ini(c, "log_file", "log_file", "");
    if (!file.empty()) {
      const auto lvl = parse_level(option_or_ini(c, "log_file_level", "log_file_level", level), "log_file_level");
      try {
        auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(file, true);
        sink->set_level(lvl);
        sink->set_formatter(log::make_formatter("%Y-%m-%d %H:%M:%S.%e %L %n:%v"));
        sinks.push_back(sink);
        lowest = std::min(lowest, lvl);
      } catch (const spdlog::spdlog_ex& e) {
        throw UsageError("log_file " + file + ": " + e.what());
      }
    }
    const std::string cli = c.ini("log_cli", "false");
    const bool cli_on = cli == "true" || cli == "1" || cli == "True" || cli == "yes" || c.has_ini("log_cli_level") ||
                        !c.text_option("log_cli_level").empty();
    if (cli_on) {
      const auto lvl = parse_level(option_or_ini(c, "log_cli_level", "log_cli_level", level), "log_cli_level");
      auto sink = std::make_shared<spdlog::sinks::stdout_sink_mt>();
      sink->set_level(lvl);
      sink->set_formatter(log::make_formatter(kLogPattern));
      sinks.push_back(sink);
      lowest = std::min(lowest, lvl);
    }
    log::set_sinks(sinks);
    log::set_level(lowest);
  }
  ~LogSetup() {
    log::set_sinks({});
    log::set_level(spdlog::level::info);
  }
  log::CaptureSink& capture() { return *capture_; }

 private:
  static std::string option_or_ini(const Config& c, const std::string& dest, const std::string& key,
                                   const std::string& fallback) {
    const std::string v = c.options.contains(dest) ? c.text_option(dest) : std::string();
    return v.empty() ? c.ini(key, fallback) : v;
  }
  std::shared_ptr<log::CaptureSink> capture_;
};

struct Run {
  Config& config;
  std::vector<TestCase> cases;
  Summary summary;
  void emit(const std::function<void(Plugin&)>& f) {
    for (Plugin* p : config.plugins) f(*p);
  }
};

void collect(Run& run) {
  Config& c = run.config;
  std::vector<fs::path> files;
  for (const auto& p : c.paths) {
    const fs::path path(p);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      std::vector<fs::path> found;
      fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
      for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_directory(ec)) {
          if (skipped_dir(it->path().filename().string())) it.disable_recursion_pending();
          continue;
        }
        found.push_back(it->path());
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else if (fs::exists(path, ec)) {
      files.push_back(path);
    } else {
      throw UsageError("file or directory not found: " + p);
    }
  }
  std::set<std::string> seen;
  for (const auto& f : files) {
    Plugin* owner = nullptr;
    for (Plugin* p : c.plugins)
      if (!owner && p->collects(f)) owner = p;
    if (!owner) continue;
    const std::string name = shown(f, c.rootdir);
    if (!seen.insert(name).second) continue;
    try {
      std::vector<TestCase> cases = owner->collect(f, name);
      for (auto& tc : cases) {
        tc.owner = owner;
        run.cases.push_back(std::move(tc));
      }
    } catch (const std::exception& e) {
      ++run.summary.collect_errors;
      const CollectError err{name, describe_error(e)};
      run.emit([&](Plugin& p) { p.on_collect_error(err); });
    }
  }
}

bool selected(const TestCase& tc, const std::optional<Expression>& k, const std::optional<Expression>& m) {
  const auto lower = [](std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  if (k) {
    const std::string hay = lower(tc.nodeid);
    const bool ok = k->evaluate([&](const std::string& name) {
      if (hay.find(lower(name)) != std::string::npos) return true;
      for (const auto& t : tc.marks.tags)
        if (lower(t) == lower(name)) return true;
      return false;
    });
    if (!ok) return false;
  }
  if (m) {
    const bool ok = m->evaluate([&](const std::string& name) {
      return std::find(tc.marks.tags.begin(), tc.marks.tags.end(), name) != tc.marks.tags.end() ||
             (name == "skip" && tc.marks.skip.has_value());
    });
    if (!ok) return false;
  }
  return true;
}

// Runs one case and fills its report; Interrupted passes on.
void run_case(const TestCase& tc, Config& config, FixtureManager& fixtures, LogSetup& logs,
              std::shared_ptr<Exchange>& exchanger, const std::string& exchange_error, CaseReport& report) {
  report.test = &tc;
  report.start_ms = now_ms();
  report.result.name = tc.name;
  report.result.fullName = tc.nodeid;
  report.result.start = report.start_ms;
  logs.capture().clear();

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
  } else if (!exchange_error.empty()) {
    report.outcome = Outcome::Error;
    report.when = "setup";
    report.error_kind = "ValueError";
    report.message = exchange_error;
  } else {
    allure::ScopedTest recording(report.result);
    CaseContext ctx{config, {}, exchanger, nullptr};
    bool ready = false;
    try {
      ctx.usefixtures = fixtures.setup(tc);
      ready = true;
    } catch (const Interrupted&) {
      throw;
    } catch (const std::exception& e) {
      fail(Outcome::Error, "setup", e);
    }
    if (ready) {
      try {
        tc.owner->run_case(tc, ctx);
      } catch (const Interrupted&) {
        try {
          fixtures.teardown_case();
        } catch (...) {
        }
        throw;
      } catch (const std::exception& e) {
        fail(Outcome::Failed, "call", e);
        report.step = ctx.current_step;
      }
      try {
        fixtures.teardown_case();
      } catch (const std::exception& e) {
        if (report.outcome == Outcome::Passed) fail(Outcome::Error, "teardown", e);
      }
    }
  }
  report.log = logs.capture().take_text();
  report.stop_ms = std::max(now_ms(), report.start_ms);
  report.result.stop = report.stop_ms;
}

int execute(Config& config) {
  const auto started = std::chrono::steady_clock::now();
  Run run{config, {}, {}};
  LogSetup logs(config);
  InterruptGuard guard;

  FixtureRegistry registry;
  for (Plugin* p : config.plugins) p->register_fixtures(registry);

  run.emit([&](Plugin& p) { p.on_session_start(config); });
  collect(run);

  std::optional<Expression> k, m;
  if (const auto ks = config.text_option("keyword"); !ks.empty()) k = Expression::compile(ks, "-k");
  if (const auto ms = config.text_option("markexpr"); !ms.empty()) m = Expression::compile(ms, "-m");
  std::vector<const TestCase*> chosen;
  for (const auto& tc : run.cases) {
    if (selected(tc, k, m)) chosen.push_back(&tc);
    else ++run.summary.deselected;
  }
  run.emit([&](Plugin& p) { p.on_collection_finish(chosen, run.summary.deselected); });

  const auto finish = [&](int status) {
    run.summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.summary.exit_status = status;
    run.emit([&](Plugin& p) { p.on_session_finish(run.summary); });
    return status;
  };

  if (config.flag_option("collectonly")) {
    if (run.summary.collect_errors) return finish(kInterrupted);
    return finish(chosen.empty() ? kNoTestsCollected : kOk);
  }

  // One variable store for the whole run; a broken variable file fails the cases, not the run.
  std::shared_ptr<Exchange> exchanger;
  std::string exchange_error;
  try {
    exchanger = std::make_shared<Exchange>(config.ini("tovik_variables", ""));
  } catch (const std::exception& e) {
    exchange_error = e.what();
  }

  const std::int64_t maxfail = config.flag_option("exitfirst") ? 1 : config.int_option("maxfail");
  {
    FixtureManager fixtures(registry, config);
    for (const TestCase* tc : chosen) {
      if (interrupted()) {
        run.summary.interrupted = true;
        break;
      }
      run.emit([&](Plugin& p) { p.on_case_start(*tc); });
      CaseReport report;
      try {
        run_case(*tc, config, fixtures, logs, exchanger, exchange_error, report);
      } catch (const Interrupted&) {
        run.summary.interrupted = true;
        break;
      }
      switch (report.outcome) {
        case Outcome::Passed: ++run.summary.passed; break;
        case Outcome::Failed: ++run.summary.failed; break;
        case Outcome::Error: ++run.summary.errors; break;
        case Outcome::Skipped: ++run.summary.skipped; break;
      }
      run.emit([&](Plugin& p) { p.on_case_finish(report); });
      if (maxfail > 0 && run.summary.failed + run.summary.errors >= maxfail) break;
    }
    try {
      fixtures.teardown_session();
    } catch (const std::exception& e) {
      log::pytest()->error("会话级 fixture 清理失败: {}", describe_error(e));
      ++run.summary.errors;
    }
  }

  int status = kOk;
  if (run.summary.interrupted) status = kInterrupted;
  else if (run.summary.failed || run.summary.errors || run.summary.collect_errors) status = kTestsFailed;
  else if (run.summary.total() == 0) status = kNoTestsCollected;
  return finish(status);
}

}  // namespace

std::vector<std::unique_ptr<Plugin>> builtin_plugins() {
  std::vector<std::unique_ptr<Plugin>> out;
  out.push_back(std::make_unique<MainPlugin>());
  out.push_back(std::make_unique<TerminalReporter>(std::cout));
  out.push_back(std::make_unique<WorkbookPlugin>());
  out.push_back(std::make_unique<BrowserPlugin>());
  out.push_back(std::make_unique<AllurePlugin>());
  out.push_back(std::make_unique<JunitPlugin>());
  return out;
}

std::unique_ptr<PreparedConfig> prepare_config(const std::vector<std::string>& args, const std::vector<Plugin*>& plugins) {
  auto prepared = std::make_unique<PreparedConfig>();
  prepared->builtins = builtin_plugins();
  Config& c = prepared->config;
  for (auto& p : prepared->builtins) c.plugins.push_back(p.get());
  for (Plugin* p : plugins)
    if (p) c.plugins.push_back(p);

  c.rootdir = fs::current_path();
  if (fs::exists("pytest.ini")) {
    c.inifile = c.rootdir / "pytest.ini";
    try {
      c.ini_values = settings::read_ini_section("pytest.ini", "pytest");
    } catch (const std::exception& e) {
      throw UsageError(std::string("pytest.ini 无法读取: ") + e.what());
    }
  }
  for (Plugin* p : c.plugins) p->add_options(c.parser);

  std::vector<std::string> all = shell_split(c.ini("addopts"));
  all.insert(all.end(), args.begin(), args.end());
  auto parsed = c.parser.parse(all);
  c.args = all;
  c.options = std::move(parsed.values);
  // -o key=value overrides a [pytest] value for this run
  if (const Value* overrides = c.options.find("override_ini"); overrides && overrides->is_list()) {
    for (const auto& o : overrides->as_list()) {
      const std::string& kv = o.as_str();
      const auto eq = kv.find('=');
      if (eq == std::string::npos) throw UsageError("-o/--override-ini expects option=value style, got: " + kv);
      const std::string key = kv.substr(0, eq);
      bool replaced = false;
      for (auto& [k, v] : c.ini_values)
        if (k == key) {
          v = kv.substr(eq + 1);
          replaced = true;
        }
      if (!replaced) c.ini_values.emplace_back(key, kv.substr(eq + 1));
    }
  }
  c.paths = parsed.paths;
  if (c.paths.empty()) {
    c.paths = shell_split(c.ini("testpaths"));
    if (c.paths.empty()) c.paths.push_back(".");
  }
  for (Plugin* p : c.plugins) p->configure(c);
  return prepared;
}

int main(const std::vector<std::string>& args, const std::vector<Plugin*>& plugins) {
  try {
    auto prepared = prepare_config(args, plugins);
    Config& c = prepared->config;
    if (c.flag_option("help")) {
      std::cout << "usage: tovik run [options] [file_or_dir] [file_or_dir] [...]\n\noptions:\n" << c.parser.help();
      return kOk;
    }
    return execute(c);
  } catch (const UsageError& e) {
    std::cerr << "ERROR: " << e.what() << "\n";
    return kUsageError;
  } catch (const std::exception& e) {
    std::cerr << "INTERNALERROR> " << describe_error(e) << "\n";
    return kInternalError;
  }
}

MainWith& main_with() {
  static MainWith hook;
  return hook;
}

}  // namespace tovik::host
