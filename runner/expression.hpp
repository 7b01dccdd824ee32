// Selection expressions of -k and -m: names combined with and / or / not and parentheses.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tovik::runner {

class Expression {
 public:
  // A malformed expression is a UsageError naming the option, the expression and the position.
  static Expression compile(std::string_view text, std::string_view option);
  // Evaluates with matches(name) deciding each bare name.
  bool evaluate(const std::function<bool(const std::string&)>& matches) const;

  struct Node;

 private:
  std::shared_ptr<const Node> root_;
};

}  // namespace tovik::runner
