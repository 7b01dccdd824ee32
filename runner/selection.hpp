// Selection of collected cases by -k (names and tags) and -m (tags).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "runner/case.hpp"
#include "runner/config.hpp"
#include "runner/expression.hpp"

namespace tovik::runner {

// --shard I/N: this run takes the I-th of N runs of the selected cases.
struct Shard {
  int index = 1, count = 1;
};

class Selection {
 public:
  // From the options "keyword" (-k), "markexpr" (-m) and "shard" (--shard); UsageError for a
  // malformed expression or shard.
  static Selection from(const Config& config);
  // "I/N" with whole numbers 1 <= I <= N; nullopt for an empty text; UsageError otherwise.
  static std::optional<Shard> parse_shard(const std::string& text);

  // -k: a name matches when it is a substring of the node id or equals a tag, letters compared
  // without their case. -m: a name matches a tag exactly, or "skip" a skipped case.
  bool selected(const TestCase& tc) const;
  // Of the selected cases, in collection order, those of this run's shard: N consecutive runs of
  // near-equal length, so that machines given the same files and options run each case once and
  // the cases of one file mostly stay on one machine. All of them without --shard.
  std::vector<const TestCase*> shard(std::vector<const TestCase*> chosen) const;

 private:
  std::optional<Expression> keyword_, marks_;
  std::optional<Shard> shard_;
};

}  // namespace tovik::runner
