#include "support/base/log.hpp"

#include <algorithm>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "support/base/secrets.hpp"

namespace tovik::log {

namespace {

// Hands each line to the installed sinks with every known secret masked, so no sink (captured
// log, log file, live log, standard error) ever holds one.
class RedactingDist : public spdlog::sinks::dist_sink_mt {
 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    if (!secrets::any()) return spdlog::sinks::dist_sink_mt::sink_it_(msg);
    std::string text(msg.payload.data(), msg.payload.size());
    if (!secrets::redact_in_place(text)) return spdlog::sinks::dist_sink_mt::sink_it_(msg);
    spdlog::details::log_msg masked = msg;
    masked.payload = spdlog::string_view_t(text.data(), text.size());
    spdlog::sinks::dist_sink_mt::sink_it_(masked);
  }
};

struct Hub {
  std::mutex mutex;
  // Every logger writes to this one sink, so installing sinks later reaches existing loggers.
  std::shared_ptr<spdlog::sinks::dist_sink_mt> dist = std::make_shared<RedactingDist>();
  spdlog::level::level_enum level = spdlog::level::info;
  std::vector<std::shared_ptr<spdlog::logger>> loggers;
};

Hub& hub() {
  static Hub* h = new Hub();  // lives until exit: loggers may log from static destructors
  return *h;
}

class UpperLevel : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& msg, const std::tm&, spdlog::memory_buf_t& dest) override {
    static const char* names[] = {"TRACE   ", "DEBUG   ", "INFO    ", "WARNING ", "ERROR   ", "CRITICAL", "OFF     "};
    const char* n = names[static_cast<int>(msg.level)];
    dest.append(n, n + 8);
  }
  std::unique_ptr<custom_flag_formatter> clone() const override { return std::make_unique<UpperLevel>(); }
};

}  // namespace

std::unique_ptr<spdlog::formatter> make_formatter(const std::string& pattern) {
  auto f = std::make_unique<spdlog::pattern_formatter>();
  f->add_flag<UpperLevel>('L').set_pattern(pattern);
  return f;
}

std::shared_ptr<spdlog::logger> get(const std::string& name) {
  Hub& h = hub();
  std::lock_guard lock(h.mutex);
  for (const auto& l : h.loggers)
    if (l->name() == name) return l;
  auto logger = std::make_shared<spdlog::logger>(name, h.dist);
  logger->set_level(h.level);
  logger->flush_on(spdlog::level::warn);
  h.loggers.push_back(logger);
  return logger;
}

void set_sinks(std::vector<spdlog::sink_ptr> sinks) { hub().dist->set_sinks(std::move(sinks)); }
void add_sink(spdlog::sink_ptr sink) { hub().dist->add_sink(std::move(sink)); }
void remove_sink(const spdlog::sink_ptr& sink) { hub().dist->remove_sink(sink); }

void set_level(spdlog::level::level_enum level) {
  Hub& h = hub();
  std::lock_guard lock(h.mutex);
  h.level = level;
  for (const auto& l : h.loggers) l->set_level(level);
}

void use_last_resort() {
  auto sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  sink->set_level(spdlog::level::warn);
  sink->set_formatter(make_formatter("%L %n:%v"));
  set_sinks({sink});
  set_level(spdlog::level::warn);
}

std::vector<Record> CaptureSink::records() const {
  std::lock_guard lock(const_cast<std::mutex&>(mutex_));
  std::vector<Record> out;
  out.reserve(entries_.size());
  for (const Entry& e : entries_)
    out.push_back({loggers_[e.logger], static_cast<spdlog::level::level_enum>(e.level),
                   (e.orphan ? orphans_ : text_).substr(e.begin, e.size)});
  return out;
}

std::vector<std::string> CaptureSink::messages() const {
  std::vector<std::string> out;
  for (const auto& r : records()) out.push_back(r.message);
  return out;
}

std::string CaptureSink::text() const {
  std::lock_guard lock(const_cast<std::mutex&>(mutex_));
  return text_;
}

std::string CaptureSink::take_text() {
  std::lock_guard lock(mutex_);
  std::string out = std::move(text_);
  text_.clear();
  orphans_.clear();
  entries_.clear();
  return out;
}

void CaptureSink::clear() {
  std::lock_guard lock(mutex_);
  text_.clear();
  orphans_.clear();
  entries_.clear();
}

void CaptureSink::sink_it_(const spdlog::details::log_msg& msg) {
  spdlog::memory_buf_t formatted;
  formatter_->format(msg, formatted);
  const std::string_view line(formatted.data(), formatted.size());
  const std::string_view payload(msg.payload.data(), msg.payload.size());
  const std::size_t at = line.find(payload);
  Entry e{text_.size() + at, static_cast<std::uint32_t>(payload.size()), 0, static_cast<std::uint8_t>(msg.level), false};
  if (at == std::string_view::npos) {
    e.orphan = true;
    e.begin = orphans_.size();
    orphans_.append(payload);
  }
  text_.append(line);
  const std::string_view name(msg.logger_name.data(), msg.logger_name.size());
  const auto known = std::find(loggers_.begin(), loggers_.end(), name);
  e.logger = static_cast<std::uint16_t>(known - loggers_.begin());
  if (known == loggers_.end()) loggers_.emplace_back(name);
  entries_.push_back(e);
}

}  // namespace tovik::log
