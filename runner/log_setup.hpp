// Where log lines go during a run: the per-case capture that failure reports show, the log file
// (log_file, log_file_level) and the live terminal log (log_cli, log_cli_level). Options win
// over [pytest] values; levels are names (debug ... critical, notset) or their numbers.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runner/config.hpp"
#include "support/base/log.hpp"

namespace tovik::runner {

class LogSetup {
 public:
  // Installs the sinks for the life of the object, then leaves warnings going to standard
  // error (log::use_last_resort). UsageError for an unknown level or a log file that cannot be
  // opened.
  explicit LogSetup(const Config& config);
  ~LogSetup();
  LogSetup(const LogSetup&) = delete;
  LogSetup& operator=(const LogSetup&) = delete;

  log::CaptureSink& capture() { return *capture_; }

  // Parallel runs: a worker writes no log file and no live log of its own; it keeps the lines
  // they would get and hands them over (take_forwarded), and the controller passes them to its
  // log file and live log (replay), with their original times.
  std::string take_forwarded();
  void replay(std::string_view forwarded);

 private:
  class ForwardSink;
  std::shared_ptr<log::CaptureSink> capture_;
  std::shared_ptr<ForwardSink> forward_;         // in a worker
  std::vector<spdlog::sink_ptr> replay_to_;       // the log file and live log, in the controller
};

}  // namespace tovik::runner
