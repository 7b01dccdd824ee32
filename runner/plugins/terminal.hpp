// The terminal view of a run: live progress, a failures section, and a closing line such as
// "3 passed, 1 failed in 0.42s".
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "runner/plugin.hpp"

namespace tovik::runner {

class TerminalReporter : public Plugin {
 public:
  explicit TerminalReporter(std::ostream& out) : out_(out) {}
  std::string name() const override { return "terminalreporter"; }

  void configure(Config& config) override;
  void on_session_start(const Config& config) override;
  void on_collect_error(const CollectError& error) override;
  void on_collection_finish(const std::vector<const TestCase*>& cases, int deselected) override;
  void on_case_start(const TestCase& tc) override;
  void on_case_finish(const CaseReport& report) override;
  void on_session_finish(const Summary& summary) override;

  // "==== text ====" filling the line width.
  static std::string rule(const std::string& text, char fill, std::size_t width);
  // The closing line's counts, e.g. "1 failed, 3 passed, 1 skipped in 0.42s".
  static std::string counts_line(const Summary& s);

 private:
  struct Failure {
    std::string nodeid;
    Outcome outcome;
    std::string when;
    std::string error_line;
    std::string details;  // file / sheet / row / keyword / arguments
    std::string log;
  };
  void end_file_line();
  std::string percent() const;

  std::ostream& out_;
  int verbosity_ = 0;
  bool collect_only_ = false;
  bool live_log_ = false;
  bool color_ = false;
  std::size_t width_ = 80;
  std::size_t total_ = 0, done_ = 0;
  std::string current_file_;
  std::size_t line_len_ = 0;
  std::vector<CollectError> collect_errors_;
  std::vector<Failure> failures_;
  std::vector<std::string> short_summary_;
};

}  // namespace tovik::runner
