// Running failed cases again: --reruns N, --reruns-delay S, --only-rerun REGEX (and a case's
// @reruns / reruns:). Each attempt is a case run of its own; only the last one counts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "runner/config.hpp"
#include "runner/report.hpp"
#include "support/regex/regex.hpp"

namespace tovik::runner {

// A rerun count from a text ("0", "3"): a whole number from 0 to 1000, else nullopt.
std::optional<int> parse_count(const std::string& text);

struct Reruns {
  int times = 0;
  double delay = 0;
  std::vector<Regex> only;  // none: every failure and error is run again

  // From the options; UsageError for a count outside 0..1000, a negative or malformed delay, or a
  // pattern that does not compile.
  static Reruns from(const Config& config);
  // Whether a finished attempt goes again: a failure or error whose "Kind: message" one of the
  // patterns finds (any, without patterns).
  bool applies_to(const CaseReport& report) const;
};

}  // namespace tovik::runner
