#include "runner/plugins/terminal.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include <unistd.h>

#include "runner/controller.hpp"
#include "support/base/printable.hpp"
#include "support/base/secrets.hpp"
#include "version.hpp"

namespace tovik::runner {

namespace {

// Display width: CJK characters take two columns, other characters one.
std::size_t display_width(const std::string& s) {
  std::size_t w = 0;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
    w += n >= 3 ? 2 : 1;
    i += n;
  }
  return w;
}

std::string fmt_seconds(double s) {
  char buf[64];
  if (s < 60) {
    std::snprintf(buf, sizeof buf, "%.2fs", s);
  } else {
    const int total = static_cast<int>(s);
    std::snprintf(buf, sizeof buf, "%.2fs (%d:%02d:%02d)", s, total / 3600, (total / 60) % 60, total % 60);
  }
  return buf;
}

const char* kGreen = "\033[32m";
const char* kRed = "\033[31m";
const char* kYellow = "\033[33m";
const char* kReset = "\033[0m";

}  // namespace

std::string TerminalReporter::rule(const std::string& text, char fill, std::size_t width) {
  if (text.empty()) return std::string(width, fill);
  const std::size_t w = display_width(text) + 2;
  if (w + 2 > width) return std::string(1, fill) + " " + text + " " + std::string(1, fill);
  const std::size_t left = (width - w) / 2;
  const std::size_t right = width - w - left;
  return std::string(left, fill) + " " + text + " " + std::string(right, fill);
}

std::string TerminalReporter::counts_line(const Summary& s) {
  std::vector<std::string> parts;
  const auto add = [&](int n, const char* one, const char* many) {
    if (n > 0) parts.push_back(std::to_string(n) + " " + (n == 1 ? one : many));
  };
  add(s.failed, "failed", "failed");
  add(s.passed, "passed", "passed");
  add(s.skipped, "skipped", "skipped");
  add(s.deselected, "deselected", "deselected");
  add(s.errors + s.collect_errors, "error", "errors");
  add(s.reruns, "rerun", "rerun");
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : ", ") + p;
  if (out.empty()) out = "no tests ran";
  return out + " in " + fmt_seconds(s.seconds);
}

void TerminalReporter::configure(Config& config) {
  verbosity_ = static_cast<int>(config.int_option("verbose") - config.int_option("quiet"));
  collect_only_ = config.flag_option("collectonly");
  const std::string cli = config.ini("log_cli", "false");
  // the same test as the runner's for starting the live log sink
  live_log_ = cli == "true" || cli == "1" || cli == "True" || cli == "yes" || config.has_ini("log_cli_level") ||
              !config.text_option("log_cli_level").empty();
  if (live_log_ && verbosity_ < 1) verbosity_ = 1;  // live lines need one line per case
  color_ = &out_ == &std::cout && ::isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR");
  if (const char* cols = std::getenv("COLUMNS")) {
    const long n = std::strtol(cols, nullptr, 10);
    if (n >= 40 && n <= 500) width_ = static_cast<std::size_t>(n);
  }
}

void TerminalReporter::on_session_start(const Config& config) {
  if (verbosity_ < 0) return;
  out_ << rule("test session starts", '=', width_) << "\n";
  out_ << "platform linux -- tovik " << kTovikVersion << "\n";
  out_ << "rootdir: " << config.rootdir.string();
  if (!config.inifile.empty()) out_ << ", configfile: " << config.inifile.filename().string();
  out_ << "\n";
  if (const int workers = worker_count(config); workers > 0)
    out_ << "执行进程: " << workers << " 个（--dist " << (dist_mode(config) == Dist::LoadFile ? "loadfile" : "load") << "）\n";
  out_.flush();
}

void TerminalReporter::on_collect_error(const CollectError& error) {
  collect_errors_.push_back(error);
  secrets::redact_in_place(collect_errors_.back().message);
}

void TerminalReporter::on_collection_finish(const std::vector<const TestCase*>& cases, int deselected) {
  total_ = cases.size();
  if (verbosity_ >= 0) {
    std::string line = "collected " + std::to_string(cases.size() + static_cast<std::size_t>(deselected)) + " item" +
                       (cases.size() + static_cast<std::size_t>(deselected) == 1 ? "" : "s");
    if (!collect_errors_.empty())
      line += " / " + std::to_string(collect_errors_.size()) + " error" + (collect_errors_.size() == 1 ? "" : "s");
    if (deselected) line += " / " + std::to_string(deselected) + " deselected";
    if (deselected) line += " / " + std::to_string(cases.size()) + " selected";
    out_ << line << "\n\n";
  }
  if (collect_only_) {
    for (const TestCase* tc : cases) out_ << tc->nodeid << "\n";
  }
  out_.flush();
}

std::string TerminalReporter::percent() const {
  const std::size_t p = total_ ? done_ * 100 / total_ : 100;
  char buf[16];
  std::snprintf(buf, sizeof buf, "[%3zu%%]", p);
  return buf;
}

void TerminalReporter::end_file_line() {
  if (current_file_.empty() || verbosity_ > 0 || verbosity_ < -1) return;
  const std::string pct = percent();
  const std::size_t pad = line_len_ + pct.size() < width_ ? width_ - line_len_ - pct.size() : 1;
  out_ << std::string(pad, ' ') << pct << "\n";
  current_file_.clear();
  line_len_ = 0;
}

void TerminalReporter::on_case_start(const TestCase& tc) {
  if (verbosity_ > 0) {
    out_ << tc.nodeid << " ";
    if (live_log_) out_ << "\n";
    out_.flush();
    return;
  }
  if (verbosity_ == 0 && tc.file != current_file_) {
    end_file_line();
    current_file_ = tc.file;
    out_ << tc.file << " ";
    line_len_ = display_width(tc.file) + 1;
    out_.flush();
  } else if (verbosity_ == -1 && current_file_.empty()) {
    current_file_ = ' ';  // -q: one line of marks for the whole run, without file names
  }
}

void TerminalReporter::on_case_finish(const CaseReport& r) {
  if (r.rerun) {  // the attempt that failed before a rerun: a mark, no failure entry
    if (verbosity_ > 0) out_ << (color_ ? std::string(kYellow) + "RERUN" + kReset : std::string("RERUN")) << "\n";
    else if (verbosity_ >= -1) {
      out_ << (color_ ? std::string(kYellow) + "R" + kReset : std::string("R"));
      ++line_len_;
    }
    out_.flush();
    return;
  }
  ++done_;
  const char* color = r.outcome == Outcome::Passed ? kGreen : r.outcome == Outcome::Skipped ? kYellow : kRed;
  if (verbosity_ > 0) {
    std::string word = r.outcome == Outcome::Passed ? "PASSED" : r.outcome == Outcome::Failed ? "FAILED"
                       : r.outcome == Outcome::Error ? "ERROR" : "SKIPPED";
    if (r.outcome == Outcome::Skipped && !r.message.empty()) word += " (" + r.message + ")";
    if (color_) out_ << color << word << kReset;
    else out_ << word;
    out_ << " " << percent() << "\n";
  } else if (verbosity_ >= -1) {
    const char mark = r.outcome == Outcome::Passed ? '.' : r.outcome == Outcome::Failed ? 'F' : r.outcome == Outcome::Error ? 'E' : 's';
    if (color_) out_ << color << mark << kReset;
    else out_ << mark;
    ++line_len_;
  }
  out_.flush();

  // as pytest's default report: failures and errors only
  if (r.outcome == Outcome::Passed || r.outcome == Outcome::Skipped) return;
  Failure f;
  f.nodeid = r.test->nodeid;
  f.outcome = r.outcome;
  f.when = r.when;
  f.error_line = r.error_line();
  std::ostringstream d;
  if (r.step) {
    d << "文件: " << r.step->file << "\n";
    if (!r.step->sheet.empty()) d << "工作表: " << r.step->sheet << "\n";
    d << "行: " << r.step->row << "\n";
    if (r.step->sheet.empty() && !r.step->number.empty())
      d << "步骤: " << r.step->number << (r.step->description.empty() ? "" : " " + r.step->description) << "\n";
    d << "关键字: " << r.step->keyword << "\n";
    d << "参数: " << repr(Value::tuple(r.step->args)) << "\n";
  } else {
    d << "文件: " << r.test->file << "\n";
  }
  f.details = d.str();
  f.log = r.log;
  // a secret in a failing row's arguments or in a message is masked by value
  secrets::redact_in_place(f.details);
  secrets::redact_in_place(f.error_line);
  // one line per case, as pytest keeps it: the first line of the message, "..." for the rest
  std::string first = f.error_line;
  failures_.push_back(std::move(f));
  if (const auto nl = first.find('\n'); nl != std::string::npos) first = first.substr(0, nl) + "...";
  short_summary_.push_back(std::string(r.outcome == Outcome::Failed ? "FAILED " : "ERROR ") + r.test->nodeid + " - " + first);
}

void TerminalReporter::on_session_finish(const Summary& s) {
  end_file_line();
  if (verbosity_ >= 0 && done_ > 0) out_ << "\n";

  std::vector<const Failure*> errors, failures;
  for (const auto& f : failures_) (f.outcome == Outcome::Error ? errors : failures).push_back(&f);

  if (!collect_errors_.empty() || !errors.empty()) {
    out_ << rule("ERRORS", '=', width_) << "\n";
    for (const auto& e : collect_errors_) {
      out_ << rule("ERROR collecting " + e.file, '_', width_) << "\n";
      out_ << e.message << "\n";
      short_summary_.push_back("ERROR " + e.file + " - " + e.message);
    }
    for (const Failure* f : errors) {
      out_ << rule("ERROR at " + f->when + " of " + f->nodeid, '_', width_) << "\n";
      out_ << f->details << f->error_line << "\n";
      if (!f->log.empty()) out_ << rule("Captured log " + f->when, '-', width_) << "\n" << f->log;
    }
  }
  if (!failures.empty()) {
    out_ << rule("FAILURES", '=', width_) << "\n";
    for (const Failure* f : failures) {
      out_ << rule(f->nodeid, '_', width_) << "\n";
      out_ << f->details << f->error_line << "\n";
      if (!f->log.empty()) out_ << rule("Captured log call", '-', width_) << "\n" << f->log;
    }
  }
  if (!short_summary_.empty() && verbosity_ >= 0) {
    out_ << rule("short test summary info", '=', width_) << "\n";
    for (const auto& line : short_summary_) out_ << line << "\n";
  }
  if (s.interrupted) out_ << rule("KeyboardInterrupt", '!', width_) << "\n";
  const std::string counts = counts_line(s);
  const bool bad = s.failed || s.errors || s.collect_errors || s.interrupted;
  const char* color = bad ? kRed : s.passed ? kGreen : kYellow;
  const std::string line = verbosity_ >= 0 ? rule(counts, '=', width_) : counts;
  if (color_) out_ << color << line << kReset << "\n";
  else out_ << line << "\n";
  out_.flush();
}

}  // namespace tovik::runner
