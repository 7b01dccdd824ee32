#include "runner/selection.hpp"

#include <algorithm>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik::runner {

Selection Selection::from(const Config& config) {
  Selection s;
  if (const auto k = config.text_option("keyword"); !k.empty()) s.keyword_ = Expression::compile(k, "-k");
  if (const auto m = config.text_option("markexpr"); !m.empty()) s.marks_ = Expression::compile(m, "-m");
  s.shard_ = parse_shard(config.text_option("shard"));
  return s;
}

std::optional<Shard> Selection::parse_shard(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const auto whole = [](std::string_view digits) {
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string_view::npos) return -1;
    return std::stoi(std::string(digits));
  };
  const auto slash = text.find('/');
  const int index = slash == std::string::npos ? -1 : whole(std::string_view(text).substr(0, slash));
  const int count = slash == std::string::npos ? -1 : whole(std::string_view(text).substr(slash + 1));
  if (index < 1 || count < 1 || index > count)
    throw UsageError("--shard 应为 I/N（1 ≤ I ≤ N 的整数，如 2/4），实际为 " + repr_text(text));
  return Shard{index, count};
}

std::vector<const TestCase*> Selection::shard(std::vector<const TestCase*> chosen) const {
  if (!shard_) return chosen;
  // run I holds the cases [(I-1)*M/N, I*M/N): the lengths differ by one at most
  const std::size_t m = chosen.size(), n = static_cast<std::size_t>(shard_->count),
                    i = static_cast<std::size_t>(shard_->index);
  const auto first = chosen.begin() + static_cast<std::ptrdiff_t>((i - 1) * m / n);
  const auto last = chosen.begin() + static_cast<std::ptrdiff_t>(i * m / n);
  return {first, last};
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
