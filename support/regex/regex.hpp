// Perl-style regular expressions (PCRE2, UTF-8 with Unicode classes) for keywords that match text.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value.hpp"

namespace tovik {

// Byte offsets into the subject, end exclusive.
struct Span {
  std::size_t start = 0;
  std::size_t end = 0;
  bool operator==(const Span&) const = default;
};

// One successful match. groups[i] and group_spans[i] describe capture group i + 1; they are empty
// when that group did not take part in the match.
struct Match {
  std::string text;
  Span span;
  std::vector<std::optional<std::string>> groups;
  std::vector<std::optional<Span>> group_spans;
};

// A compiled pattern. Cheap to copy: copies share the compiled code. Safe to use from several
// threads at once. Matching a subject that is not valid UTF-8, or one that runs past PCRE2's
// backtracking limit, is a ValueError.
class Regex {
 public:
  // A pattern that does not compile is a ValueError naming the pattern and the character position.
  explicit Regex(std::string_view pattern);

  const std::string& pattern() const { return pattern_; }
  std::size_t group_count() const { return group_count_; }

  // Whether the pattern matches anywhere in the subject (anchor it with ^...$ to test the whole).
  bool search(std::string_view subject) const;
  // The first match anywhere in the subject.
  std::optional<Match> search_match(std::string_view subject) const;
  // Every non-overlapping match, left to right, as Python's re.findall gives them: the matched
  // text without groups, group 1's text with one group, else a tuple of all groups' texts (a group
  // that did not take part gives '').
  std::vector<Value> find_all(std::string_view subject) const;

 private:
  struct Compiled;

  std::string pattern_;
  std::shared_ptr<const Compiled> code_;
  std::size_t group_count_ = 0;
};

}  // namespace tovik
