#include "runner/report.hpp"

namespace tovik::runner {

const char* outcome_word(Outcome o) {
  switch (o) {
    case Outcome::Passed: return "passed";
    case Outcome::Failed: return "failed";
    case Outcome::Error: return "error";
    case Outcome::Skipped: return "skipped";
  }
  return "?";
}

std::string CaseReport::error_line() const {
  if (message.empty()) return error_kind;
  return error_kind + ": " + message;
}

}  // namespace tovik::runner
