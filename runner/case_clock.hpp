// A case's time limit (--case-timeout, or the case's own @timeout / timeout:). Like a first
// Ctrl-C aimed at one case: when the time is up a signal ends a blocking sleep early, and the case
// stops at the next step, broken with CaseTimeout; the run goes on with the next case. A wait or a
// request under way ends at its own time-out first.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

#include "support/base/errors.hpp"

namespace tovik::runner {

struct CaseContext;

class CaseTimeout : public Error {
 public:
  using Error::Error;
  const char* kind() const noexcept override { return "CaseTimeout"; }
};

// Seconds from a text ("5", "0.5"): a positive finite number (or zero, with zero_too), else
// nullopt.
std::optional<double> parse_seconds(const std::string& text, bool zero_too = false);

class CaseClock {
 public:
  // Starts the clock; seconds <= 0 is no limit.
  explicit CaseClock(double seconds);
  ~CaseClock();
  CaseClock(const CaseClock&) = delete;
  CaseClock& operator=(const CaseClock&) = delete;

  double seconds() const { return seconds_; }
  bool expired() const;
  // The error of a case stopped by its limit, naming the keyword it was in (empty: none yet).
  CaseTimeout error(const std::string& keyword) const;

 private:
  double seconds_;
  std::chrono::steady_clock::time_point deadline_;
  timer_t timer_{};  // wakes the run's thread at the deadline
  bool armed_ = false;
};

// Throws the case's CaseTimeout when its clock ran out (between steps).
void check_case_clock(const CaseContext& ctx);

}  // namespace tovik::runner
