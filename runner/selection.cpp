#include "runner/selection.hpp"

#include <algorithm>

#include "support/base/text.hpp"

namespace tovik::runner {

Selection Selection::from(const Config& config) {
  Selection s;
  if (const auto k = config.text_option("keyword"); !k.empty()) s.keyword_ = Expression::compile(k, "-k");
  if (const auto m = config.text_option("markexpr"); !m.empty()) s.marks_ = Expression::compile(m, "-m");
  return s;
}

bool Selection::selected(const TestCase& tc) const {
  if (keyword_) {
    const std::string hay = ascii_lower(tc.nodeid);
    const bool ok = keyword_->evaluate([&](const std::string& name) {
      if (hay.find(ascii_lower(name)) != std::string::npos) return true;
      return std::any_of(tc.marks.tags.begin(), tc.marks.tags.end(), [&](const std::string& t) { return iequals(t, name); });
    });
    if (!ok) return false;
  }
  if (marks_) {
    const bool ok = marks_->evaluate([&](const std::string& name) {
      return std::find(tc.marks.tags.begin(), tc.marks.tags.end(), name) != tc.marks.tags.end() ||
             (name == "skip" && tc.marks.skip.has_value());
    });
    if (!ok) return false;
  }
  return true;
}

}  // namespace tovik::runner
