// The -k and -m selection expressions: compiled, then evaluated as selection does for one case.
// Refusals must be tovik errors. An expression must mean the same in parentheses, and "not (...)"
// the opposite; a difference is a finding like a crash.
#include <algorithm>
#include <array>
#include <optional>

#include "fuzz/fuzz_support.hpp"
#include "runner/expression.hpp"
#include "support/base/errors.hpp"
#include "support/base/text.hpp"

namespace fz = tovik::fuzz;
using tovik::runner::Expression;

namespace {

// -k: a part of the node id or a tag, case-insensitively, as selection matches a case.
bool keyword_match(const std::string& name) {
  static const std::array<std::string, 3> tags{"smoke", "slow", "登录"};
  if (std::string("test_login.xlsx::登录成功").find(tovik::ascii_lower(name)) != std::string::npos) return true;
  return std::any_of(tags.begin(), tags.end(), [&](const std::string& t) { return tovik::iequals(t, name); });
}

std::optional<bool> outcome(std::string_view text) {
  try {
    return Expression::compile(text, "-k").evaluate(keyword_match);
  } catch (const tovik::Error&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(fz::as_text(data, size));
  const std::optional<bool> plain = outcome(text);
  if (!plain) return 0;
  const std::optional<bool> grouped = outcome("(" + text + ")");
  if (grouped) fz::check(*grouped == *plain, "parentheses keep the meaning", text);
  const std::optional<bool> negated = outcome("not (" + text + ")");
  if (negated) fz::check(*negated != *plain, "not (...) is the opposite", text);
  return 0;
}
