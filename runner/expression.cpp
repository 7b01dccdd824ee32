#include "runner/expression.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

#include "runner/options.hpp"

namespace tovik::runner {

// And / Or hold all their operands in one node: "a or b or c ..." stays one level deep however
// long it is (a long -k list in addopts), so evaluation and destruction do not recurse per name.
struct Expression::Node {
  enum class Op { Name, Not, And, Or, True } op;
  std::string name;
  std::vector<std::shared_ptr<const Node>> operands;  // Not: one; And, Or: two or more
};

namespace {

using NodePtr = std::shared_ptr<const Expression::Node>;
using Op = Expression::Node::Op;

struct Token {
  enum class Kind { Name, And, Or, Not, LParen, RParen, End } kind;
  std::string text;
  std::size_t pos;
};

class Parser {
 public:
  Parser(std::string_view text, std::string_view option) : text_(text), option_(option) { tokenize(); }

  NodePtr parse() {
    if (tokens_.front().kind == Token::Kind::End) return std::make_shared<Expression::Node>(Expression::Node{Op::True, {}, {}});
    NodePtr n = parse_or(0);
    if (peek().kind != Token::Kind::End) fail("此处不应出现 '" + peek().text + "'");
    return n;
  }

 private:
  void tokenize() {
    std::size_t i = 0;
    while (i < text_.size()) {
      const char c = text_[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (c == '(' || c == ')') {
        tokens_.push_back({c == '(' ? Token::Kind::LParen : Token::Kind::RParen, std::string(1, c), i});
        ++i;
      } else {
        const std::size_t start = i;
        while (i < text_.size() && !std::isspace(static_cast<unsigned char>(text_[i])) && text_[i] != '(' && text_[i] != ')') ++i;
        std::string word(text_.substr(start, i - start));
        Token::Kind kind = word == "and" ? Token::Kind::And : word == "or" ? Token::Kind::Or : word == "not" ? Token::Kind::Not : Token::Kind::Name;
        tokens_.push_back({kind, std::move(word), start});
      }
    }
    tokens_.push_back({Token::Kind::End, "", text_.size()});
  }

  const Token& peek() const { return tokens_[pos_]; }
  const Token& next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }

  [[noreturn]] void fail(const std::string& what) const {
    throw UsageError("传给 '" + std::string(option_) + "' 的表达式有误: " + std::string(text_) + ": 第 " +
                     std::to_string(peek().pos + 1) + " 列: " + what);
  }

  NodePtr parse_or(int depth) {
    NodePtr first = parse_and(depth);
    if (peek().kind != Token::Kind::Or) return first;
    Expression::Node node{Op::Or, {}, {std::move(first)}};
    while (peek().kind == Token::Kind::Or) {
      next();
      node.operands.push_back(parse_and(depth));
    }
    return std::make_shared<Expression::Node>(std::move(node));
  }

  NodePtr parse_and(int depth) {
    NodePtr first = parse_not(depth);
    if (peek().kind != Token::Kind::And) return first;
    Expression::Node node{Op::And, {}, {std::move(first)}};
    while (peek().kind == Token::Kind::And) {
      next();
      node.operands.push_back(parse_not(depth));
    }
    return std::make_shared<Expression::Node>(std::move(node));
  }

  NodePtr parse_not(int depth) {
    if (depth > 200) fail("表达式嵌套过深");
    const Token& t = peek();
    switch (t.kind) {
      case Token::Kind::Not:
        next();
        return std::make_shared<Expression::Node>(Expression::Node{Op::Not, {}, {parse_not(depth + 1)}});
      case Token::Kind::LParen: {
        next();
        NodePtr inner = parse_or(depth + 1);
        if (peek().kind != Token::Kind::RParen) fail("缺少 ')'");
        next();
        return inner;
      }
      case Token::Kind::Name: {
        std::string name = next().text;
        return std::make_shared<Expression::Node>(Expression::Node{Op::Name, std::move(name), {}});
      }
      default: fail("应为 not、( 或名称，实际为" + (t.kind == Token::Kind::End ? std::string("表达式结尾") : " '" + t.text + "'"));
    }
  }

  std::string_view text_, option_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

bool eval(const Expression::Node& n, const std::function<bool(const std::string&)>& matches) {
  switch (n.op) {
    case Op::True: return true;
    case Op::Name: return matches(n.name);
    case Op::Not: return !eval(*n.operands.front(), matches);
    case Op::And:
      return std::all_of(n.operands.begin(), n.operands.end(), [&](const auto& o) { return eval(*o, matches); });
    case Op::Or:
      return std::any_of(n.operands.begin(), n.operands.end(), [&](const auto& o) { return eval(*o, matches); });
  }
  return false;
}

}  // namespace

Expression Expression::compile(std::string_view text, std::string_view option) {
  Expression e;
  e.root_ = Parser(text, option).parse();
  return e;
}

bool Expression::evaluate(const std::function<bool(const std::string&)>& matches) const {
  return eval(*root_, matches);
}

}  // namespace tovik::runner
