#include "runner/log_setup.hpp"

#include <algorithm>

#include <spdlog/details/null_mutex.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "support/base/errors.hpp"
#include "support/base/text.hpp"
#include "support/base/wire.hpp"

namespace tovik::runner {

namespace {

spdlog::level::level_enum parse_level(const std::string& text, const std::string& what) {
  const std::string lower = ascii_lower(text);
  if (lower == "debug" || lower == "10") return spdlog::level::debug;
  if (lower == "info" || lower == "20") return spdlog::level::info;
  if (lower == "warning" || lower == "warn" || lower == "30") return spdlog::level::warn;
  if (lower == "error" || lower == "40") return spdlog::level::err;
  if (lower == "critical" || lower == "50") return spdlog::level::critical;
  if (lower == "notset" || lower == "0" || lower == "trace") return spdlog::level::trace;
  throw UsageError(what + " 的值 '" + text + "' 不是已知的日志级别（可用：debug、info、warning、error、critical、notset）");
}

std::string option_or_ini(const Config& c, const std::string& dest, const std::string& key, const std::string& fallback) {
  const std::string v = c.options.contains(dest) ? c.text_option(dest) : std::string();
  return v.empty() ? c.ini(key, fallback) : v;
}

constexpr const char* kLivePattern = "%^%L%$ %n:%v";

// Passes on the lines of some loggers only. No lock of its own: the target has one, and every
// keyword's log lines pass through here.
class SomeLoggersSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 public:
  SomeLoggersSink(std::vector<std::string> loggers, spdlog::sink_ptr target)
      : loggers_(std::move(loggers)), target_(std::move(target)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    if (!target_->should_log(msg.level)) return;
    for (const auto& name : loggers_)
      if (msg.logger_name == name) return target_->log(msg);
  }
  void flush_() override { target_->flush(); }

 private:
  std::vector<std::string> loggers_;
  spdlog::sink_ptr target_;
};

}  // namespace

// Keeps what a worker's lines would have given the log file and the live log.
class LogSetup::ForwardSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::string take() {
    std::lock_guard lock(mutex_);
    WireOut w = std::exchange(out_, WireOut());
    return w.take();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    out_.number(msg.time.time_since_epoch().count())
        .number(static_cast<std::int64_t>(msg.level))
        .text(std::string_view(msg.logger_name.data(), msg.logger_name.size()))
        .text(std::string_view(msg.payload.data(), msg.payload.size()));
  }
  void flush_() override {}

 private:
  WireOut out_;
};

std::string LogSetup::take_forwarded() { return forward_ ? forward_->take() : std::string(); }

void LogSetup::replay(std::string_view forwarded) {
  WireIn in(forwarded);
  while (!in.at_end()) {
    const auto time = spdlog::log_clock::time_point(spdlog::log_clock::duration(in.number()));
    const auto level = static_cast<spdlog::level::level_enum>(in.number());
    const std::string logger = in.text(), payload = in.text();
    const spdlog::details::log_msg msg(time, spdlog::source_loc{}, logger, level, payload);
    for (const auto& sink : replay_to_)
      if (sink->should_log(level)) sink->log(msg);
  }
}

LogSetup::LogSetup(const Config& c) {
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
      // a worker never opens the file (that would empty it): its lines reach it through the controller
      spdlog::sink_ptr sink;
      if (c.worker) sink = std::make_shared<spdlog::sinks::null_sink_mt>();
      else sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(file, true);
      sink->set_level(lvl);
      sink->set_formatter(log::make_formatter("%Y-%m-%d %H:%M:%S.%e %L %n:%v"));
      replay_to_.push_back(sink);
      lowest = std::min(lowest, lvl);
    } catch (const spdlog::spdlog_ex& e) {
      throw UsageError("日志文件 " + file + " 无法写入: " + e.what());
    }
  }
  const std::string cli = c.ini("log_cli", "false");
  const bool cli_on = cli == "true" || cli == "1" || cli == "True" || cli == "yes" || c.has_ini("log_cli_level") ||
                      !c.text_option("log_cli_level").empty();
  if (cli_on) {
    const auto lvl = parse_level(option_or_ini(c, "log_cli_level", "log_cli_level", level), "log_cli_level");
    auto sink = std::make_shared<spdlog::sinks::stdout_sink_mt>();
    sink->set_level(lvl);
    sink->set_formatter(log::make_formatter(kLivePattern));
    replay_to_.push_back(sink);
    lowest = std::min(lowest, lvl);
  }
  if (c.worker && !replay_to_.empty()) {
    // the controller owns the file and the terminal: a worker's lines go there through it
    forward_ = std::make_shared<ForwardSink>();
    spdlog::level::level_enum forwarded = spdlog::level::off;
    for (const auto& sink : replay_to_) forwarded = std::min(forwarded, sink->level());
    forward_->set_level(forwarded);
    replay_to_.clear();
    sinks.push_back(forward_);
  } else {
    sinks.insert(sinks.end(), replay_to_.begin(), replay_to_.end());
  }
  // A notice fails on the notice pool, and the run's cache is read before the first case: their
  // warnings would reach the capture of no case, so they go to standard error as well.
  auto notices = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  notices->set_level(spdlog::level::warn);
  notices->set_formatter(log::make_formatter(kLivePattern));
  sinks.push_back(std::make_shared<SomeLoggersSink>(std::vector<std::string>{"tovik.sender", "tovik.cache"}, notices));
  lowest = std::min(lowest, spdlog::level::warn);

  log::set_sinks(sinks);
  log::set_level(lowest);
}

LogSetup::~LogSetup() { log::use_last_resort(); }

}  // namespace tovik::runner
