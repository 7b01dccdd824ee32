// Selection of collected cases by -k (names and tags) and -m (tags).
#pragma once

#include <optional>

#include "runner/case.hpp"
#include "runner/config.hpp"
#include "runner/expression.hpp"

namespace tovik::runner {

class Selection {
 public:
  // From the options "keyword" (-k) and "markexpr" (-m); UsageError for a malformed expression.
  static Selection from(const Config& config);

  // -k: a name matches when it is a substring of the node id or equals a tag, letters compared
  // without their case. -m: a name matches a tag exactly, or "skip" a skipped case.
  bool selected(const TestCase& tc) const;

 private:
  std::optional<Expression> keyword_, marks_;
};

}  // namespace tovik::runner
