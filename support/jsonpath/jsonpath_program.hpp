// The compiled form of a JSONPath expression, shared by the parser and the evaluator.
// Internal to support/jsonpath: callers use jsonpath.hpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::jsonpath {

struct Expr;

// One selector inside a segment: `.name`, `*`, `[2]`, `[1:5:2]`, `[?...]`, `[(@.length-1)]`.
struct Selector {
  enum class Kind : std::uint8_t { Name, Wildcard, Index, Slice, Filter, FromEnd };
  Kind kind = Kind::Wildcard;
  std::string name;                        // Name
  std::int64_t index = 0;                  // Index; FromEnd: offset added to the array length
  std::optional<std::int64_t> start, end;  // Slice
  std::int64_t step = 1;                   // Slice, never 0
  std::shared_ptr<const Expr> filter;      // Filter
};

// A step of the path: its selectors apply to every input node (descendant: to the node and
// all nodes below it, pre-order), results in selector order.
struct Segment {
  bool descendant = false;
  std::vector<Selector> selectors;
};
using Segments = std::vector<Segment>;

// A value inside a filter: a literal, or a path from the current node (@) or the root ($).
struct Operand {
  enum class Kind : std::uint8_t { Literal, Current, Root };
  Kind kind = Kind::Literal;
  Value literal;
  Segments path;
};

enum class Compare : std::uint8_t { Eq, Ne, Lt, Le, Gt, Ge };

struct Expr {
  enum class Kind : std::uint8_t { Or, And, Not, Exists, Compare };
  Kind kind = Kind::Exists;
  Compare op = Compare::Eq;
  std::vector<Expr> operands;  // Or, And: two or more; Not: one
  Operand left, right;         // Exists: left only
};

struct Program {
  std::string text;
  Segments segments;
};

// Throws ValueError quoting the expression and the 0-based character position.
Program parse_program(std::string_view text);

}  // namespace tovik::jsonpath
