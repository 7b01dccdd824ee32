// What running a case produced, as the reporters see it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "runner/case.hpp"

namespace tovik::runner {

// Exit statuses, as pytest's.
enum ExitStatus : int {
  kOk = 0,
  kTestsFailed = 1,
  kInterrupted = 2,
  kInternalError = 3,
  kUsageError = 4,
  kNoTestsCollected = 5,
};

enum class Outcome {
  Passed,
  Failed,   // the case's own steps raised
  Error,    // a fixture, the case file or the runner failed around the case
  Skipped,
};

const char* outcome_word(Outcome o);  // "passed", "failed", "error", "skipped"

// Wall-clock time in epoch milliseconds: the clock of CaseReport's start and stop.
std::int64_t now_ms();

struct CaseReport {
  const TestCase* test = nullptr;
  Outcome outcome = Outcome::Passed;
  std::string error_kind;   // "AssertionError", "TypeError", ...; empty when passed
  std::string message;      // the error's message, or the skip reason
  std::string when;         // "setup", "call" or "teardown" for failures and errors
  const CaseStep* step = nullptr;  // the row that failed, when a row failed
  std::string log;          // the case's captured log lines
  std::string browser;      // name and version of the browser that served the case, if one did
  // An attempt that failed and is run again (--reruns): listeners that keep only final outcomes
  // (JUnit, the last-failed record, the counts) pass it over.
  bool rerun = false;
  bool flaky = false;  // passed after failed attempts
  // What worker-side plug-ins recorded of the case in a parallel run (Plugin::carry), by plug-in
  // name; empty in a serial run.
  std::map<std::string, std::string> carried;
  std::int64_t start_ms = 0, stop_ms = 0;

  double seconds() const { return static_cast<double>(stop_ms - start_ms) / 1000.0; }
  // "AssertionError: message" or just the kind.
  std::string error_line() const;
};

struct Summary {
  int passed = 0, failed = 0, errors = 0, skipped = 0, deselected = 0;
  int reruns = 0;  // attempts run again; the counts above hold final outcomes only
  int collect_errors = 0;
  bool interrupted = false;
  double seconds = 0;
  int exit_status = 0;
  int total() const { return passed + failed + errors + skipped; }
};

}  // namespace tovik::runner
