#include "runner/report.hpp"

#include <chrono>

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

std::int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string CaseReport::error_line() const {
  if (message.empty()) return error_kind;
  return error_kind + ": " + message;
}

}  // namespace tovik::runner
