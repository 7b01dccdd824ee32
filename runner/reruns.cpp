#include "runner/reruns.hpp"

#include <algorithm>

#include "runner/case_clock.hpp"
#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik::runner {

std::optional<int> parse_count(const std::string& text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int n = std::stoi(text);
  return n <= 1000 ? std::optional<int>(n) : std::nullopt;
}

Reruns Reruns::from(const Config& config) {
  Reruns r;
  const std::int64_t n = config.int_option("reruns");
  if (n < 0 || n > 1000) throw UsageError("--reruns 应为 0 到 1000 的整数，实际为 " + std::to_string(n));
  r.times = static_cast<int>(n);
  if (const std::string d = config.text_option("reruns_delay"); !d.empty()) {
    const auto seconds = parse_seconds(d, true);
    if (!seconds) throw UsageError("--reruns-delay 应为不小于 0 的秒数，实际为 " + repr_text(d));
    r.delay = *seconds;
  }
  if (const Value* given = config.options.find("only_rerun"); given && given->is_list()) {
    for (const Value& p : given->as_list()) {
      try {
        r.only.emplace_back(p.as_str());
      } catch (const std::exception& e) {
        throw UsageError("--only-rerun 的正则表达式无法编译: " + std::string(e.what()));
      }
    }
  }
  return r;
}

bool Reruns::applies_to(const CaseReport& report) const {
  if (report.outcome != Outcome::Failed && report.outcome != Outcome::Error) return false;
  const std::string error = report.error_line();
  return only.empty() || std::any_of(only.begin(), only.end(), [&](const Regex& re) {
           try {
             return re.search(error);
           } catch (const std::exception&) {
             return false;  // a message the pattern cannot judge is not one it asked for
           }
         });
}

}  // namespace tovik::runner
