// JSONPath queries over values ($.store.book[?(@.price < 10)].title): compile once, select from
// many documents. Mappings and lists/tuples are containers, everything else is a leaf.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value.hpp"

namespace tovik::jsonpath {

struct Program;

class Path {
 public:
  // A malformed expression is a ValueError quoting it with the 0-based character position.
  static Path compile(std::string_view expr);

  // Every match in document order, copied out; no match is an empty list. A path that would
  // visit, or copy out, more than 10 million nodes of root (several '..' steps over a deep
  // document) is a ValueError instead of a run that does not end.
  std::vector<Value> evaluate(const Value& root) const;
  // The same matches as pointers into root, valid while root is unchanged; the same limit.
  std::vector<const Value*> select(const Value& root) const;

  const std::string& text() const;

 private:
  explicit Path(std::shared_ptr<const Program> program) : program_(std::move(program)) {}
  std::shared_ptr<const Program> program_;
};

// Path::compile(expr).evaluate(root).
std::vector<Value> query(const Value& root, std::string_view expr);

}  // namespace tovik::jsonpath
