// Named loggers of the system and the one place that decides where their lines go.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

namespace tovik::log {

// The logger of a module: "tovik.lexa", "tovik.lexa_utils", "tovik.sender", "tovik.exchange",
// "tovik.assertion", "tovik.pytest". Loggers are created on first use and all write to the
// shared sinks installed below.
std::shared_ptr<spdlog::logger> get(const std::string& name);

inline std::shared_ptr<spdlog::logger> lexa() { return get("tovik.lexa"); }
inline std::shared_ptr<spdlog::logger> lexa_utils() { return get("tovik.lexa_utils"); }
inline std::shared_ptr<spdlog::logger> sender() { return get("tovik.sender"); }
inline std::shared_ptr<spdlog::logger> exchange() { return get("tovik.exchange"); }
inline std::shared_ptr<spdlog::logger> assertion() { return get("tovik.assertion"); }
inline std::shared_ptr<spdlog::logger> pytest() { return get("tovik.pytest"); }

// Replaces every sink of every tovik logger (existing and future ones).
void set_sinks(std::vector<spdlog::sink_ptr> sinks);
void add_sink(spdlog::sink_ptr sink);
void remove_sink(const spdlog::sink_ptr& sink);
// Lowest level that loggers pass on to the sinks.
void set_level(spdlog::level::level_enum level);

// Where lines go when nothing else was set up, e.g. after a run: warnings and worse to standard
// error, so a notice that fails after the run's own log has closed is still seen.
void use_last_resort();

// A formatter for pattern that also knows %L as the level in upper case, padded to eight
// columns ("INFO    ", "WARNING "), as test runners print it.
std::unique_ptr<spdlog::formatter> make_formatter(const std::string& pattern);

// One recorded line.
struct Record {
  std::string logger;
  spdlog::level::level_enum level;
  std::string message;
};

// Keeps every line it receives; tests and the per-case log capture read it.
class CaptureSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<Record> records() const;
  std::vector<std::string> messages() const;
  // The lines formatted by the sink's pattern, one per line.
  std::string text() const;
  // text(), then clear(): the text is handed over, not copied.
  std::string take_text();
  void clear();

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  void flush_() override {}

 private:
  // Each line once: the formatted text, and per record where its message lies in it.
  struct Entry {
    std::size_t begin;
    std::uint32_t size;
    std::uint16_t logger;  // index into loggers_
    std::uint8_t level;
    bool orphan;  // in orphans_: the pattern leaves the message out
  };
  std::string text_;
  std::string orphans_;
  std::vector<Entry> entries_;
  std::vector<std::string> loggers_;
};

}  // namespace tovik::log
