// Recursive-descent parser from JSONPath text to the Program the evaluator walks.

#include <charconv>

#include "support/base/utf8.hpp"
#include <string>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/jsonpath/jsonpath_program.hpp"

namespace tovik::jsonpath {

namespace {

// Parentheses, '!' and nested filters each count one level; bounds the parser's own recursion.
constexpr int kMaxDepth = 64;

constexpr std::string_view kSelectorKinds =
    "a selector (quoted name, index, slice, '*', filter '?...' or '(@.length-N)')";
constexpr std::string_view kOperandKinds =
    "a path ('@...' or '$...'), a quoted string, a number, true, false or null";

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Names after a dot: ASCII letters, digits, '_' and any non-ASCII character; '-' after the
// first character, since keys like content-type are common in API bodies.
bool is_name_start(char c) {
  return is_alpha(c) || is_digit(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool is_name_char(char c) { return is_name_start(c) || c == '-'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }


bool is_singular(const Segments& path) {
  for (const Segment& seg : path) {
    if (seg.descendant || seg.selectors.size() != 1) return false;
    const auto kind = seg.selectors.front().kind;
    if (kind != Selector::Kind::Name && kind != Selector::Kind::Index) return false;
  }
  return true;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  Segments query() {
    skip_space();
    if (!eat('$')) fail_expected("'$' at the start");
    Segments segs = segments();
    skip_space();
    if (!at_end()) fail_expected("'.', '..' or '[' after a step");
    return segs;
  }

 private:
  // ---- errors -----------------------------------------------------------------------------

  [[noreturn]] void fail_at(std::size_t at, std::string_view what) const {
    std::size_t chars = 0;  // report characters, not UTF-8 bytes
    for (std::size_t i = 0; i < at && i < s_.size(); ++i)
      if ((static_cast<unsigned char>(s_[i]) & 0xC0) != 0x80) ++chars;
    throw ValueError("invalid JSONPath " + repr_text(s_) + " at position " + std::to_string(chars) +
                     ": " + std::string(what));
  }
  [[noreturn]] void fail(std::string_view what) const { fail_at(pos_, what); }
  [[noreturn]] void fail_expected(std::string_view what) const {
    fail("expected " + std::string(what) + ", found " + found());
  }

  std::string found() const {
    if (at_end()) return "end of expression";
    std::size_t n = 1;  // the whole UTF-8 sequence, so the message stays readable
    while (pos_ + n < s_.size() && (static_cast<unsigned char>(s_[pos_ + n]) & 0xC0) == 0x80) ++n;
    return repr_text(s_.substr(pos_, n));
  }

  void enter() {
    if (++depth_ > kMaxDepth)
      fail("filter nested too deeply (more than " + std::to_string(kMaxDepth) + " levels)");
  }
  void leave() { --depth_; }

  // ---- characters -------------------------------------------------------------------------

  bool at_end() const { return pos_ >= s_.size(); }
  char peek(std::size_t ahead = 0) const {
    return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0';
  }
  bool eat(char c) {
    if (at_end() || s_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  void skip_space() {
    while (!at_end() && is_space(s_[pos_])) ++pos_;
  }

  // ---- path -------------------------------------------------------------------------------

  // Segments until something that cannot start one; the caller decides whether that is fine.
  Segments segments() {
    Segments out;
    for (;;) {
      const std::size_t before = pos_;
      skip_space();
      if (peek() == '.' && !at_end()) {
        ++pos_;
        out.push_back(dot_segment());
      } else if (peek() == '[') {
        Segment seg;
        bracket(seg);
        out.push_back(std::move(seg));
      } else {
        pos_ = before;  // spaces belong to whatever follows the path
        return out;
      }
    }
  }

  Segment dot_segment() {
    Segment seg;
    if (eat('.')) {
      seg.descendant = true;
      if (peek() == '[') {
        bracket(seg);
        return seg;
      }
      if (!at_end() && (peek() == '*' || is_name_start(peek()))) {
        seg.selectors.push_back(name_or_wildcard());
        return seg;
      }
      fail_expected("a name, '*' or '[' after '..'");
    }
    if (at_end() || (peek() != '*' && !is_name_start(peek())))
      fail_expected("a name or '*' after '.'");
    seg.selectors.push_back(name_or_wildcard());
    return seg;
  }

  Selector name_or_wildcard() {
    Selector sel;
    if (eat('*')) return sel;
    const std::size_t start = pos_;
    while (!at_end() && is_name_char(s_[pos_])) ++pos_;
    sel.kind = Selector::Kind::Name;
    sel.name = std::string(s_.substr(start, pos_ - start));
    return sel;
  }

  void bracket(Segment& seg) {
    ++pos_;  // '['
    for (;;) {
      skip_space();
      seg.selectors.push_back(selector());
      skip_space();
      if (eat(',')) continue;
      if (eat(']')) return;
      fail_expected("',' or ']'");
    }
  }

  Selector selector() {
    Selector sel;
    const char c = peek();
    if (at_end()) fail_expected(kSelectorKinds);
    if (c == '\'' || c == '"') {
      sel.kind = Selector::Kind::Name;
      sel.name = quoted();
    } else if (c == '*') {
      ++pos_;
    } else if (c == '?') {
      ++pos_;
      enter();
      sel.kind = Selector::Kind::Filter;
      sel.filter = std::make_shared<const Expr>(logical_or());
      leave();
    } else if (c == '(') {
      sel.kind = Selector::Kind::FromEnd;
      sel.index = script();
    } else if (c == '-' || c == ':' || is_digit(c)) {
      index_or_slice(sel);
    } else {
      fail_expected(kSelectorKinds);
    }
    return sel;
  }

  void index_or_slice(Selector& sel) {
    std::optional<std::int64_t> first;
    if (peek() != ':') first = integer();
    skip_space();
    if (!eat(':')) {
      sel.kind = Selector::Kind::Index;
      sel.index = *first;
      return;
    }
    sel.kind = Selector::Kind::Slice;
    sel.start = first;
    skip_space();
    if (peek() == '-' || is_digit(peek())) sel.end = integer();
    skip_space();
    if (!eat(':')) return;
    skip_space();
    if (peek() == '-' || is_digit(peek())) {
      const std::size_t at = pos_;
      sel.step = integer();
      if (sel.step == 0) fail_at(at, "slice step cannot be 0");
    }
  }

  std::int64_t integer() {
    const std::size_t start = pos_;
    eat('-');
    if (!is_digit(peek())) fail_expected("digits");
    while (is_digit(peek())) ++pos_;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(s_.data() + start, s_.data() + pos_, value);
    if (ec != std::errc() || ptr != s_.data() + pos_) fail_at(start, "index out of range");
    return value;
  }

  // Goessner's script index; only (@.length-N) / (@.length+N) has a meaning without a
  // script engine, so anything else is refused rather than guessed.
  std::int64_t script() {
    constexpr std::string_view kOnly = "only (@.length-N) is supported as a script index";
    ++pos_;  // '('
    skip_space();
    // '-' ends the name here: @.length-1 is arithmetic, not a key
    if (s_.substr(pos_, 8) != "@.length" || is_name_start(peek(8))) fail(kOnly);
    pos_ += 8;
    skip_space();
    std::int64_t offset = 0;
    if (peek() == '-' || peek() == '+') {
      const bool minus = peek() == '-';
      ++pos_;
      skip_space();
      if (!is_digit(peek())) fail(kOnly);
      offset = integer();
      if (minus) offset = -offset;
    }
    skip_space();
    if (!eat(')')) fail(kOnly);
    return offset;
  }

  std::string quoted() {
    const char quote = s_[pos_];
    const std::size_t open = pos_++;
    std::string out;
    for (;;) {
      if (at_end()) fail_at(open, "unclosed quote");
      const char c = s_[pos_++];
      if (c == quote) return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_end()) fail_at(open, "unclosed quote");
      const std::size_t esc = pos_ - 1;
      const char e = s_[pos_++];
      switch (e) {
        case '\'':
        case '"':
        case '\\':
        case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t cp = hex4(esc);
          if (cp >= 0xDC00 && cp <= 0xDFFF) fail_at(esc, "lone low surrogate in \\u escape");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (peek() != '\\' || peek(1) != 'u')
              fail_at(esc, "high surrogate must be followed by a \\u low surrogate");
            const std::size_t low_at = pos_;
            pos_ += 2;
            const std::uint32_t low = hex4(low_at);
            if (low < 0xDC00 || low > 0xDFFF)
              fail_at(low_at, "high surrogate must be followed by a \\u low surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          append_utf8(out, cp);
          break;
        }
        default: fail_at(esc, "unknown escape '\\" + std::string(1, e) + "'");
      }
    }
  }

  std::uint32_t hex4(std::size_t esc) {
    std::uint32_t cp = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = peek();
      std::uint32_t d;
      if (is_digit(h))
        d = h - '0';
      else if (h >= 'a' && h <= 'f')
        d = h - 'a' + 10;
      else if (h >= 'A' && h <= 'F')
        d = h - 'A' + 10;
      else
        fail_at(esc, "expected 4 hex digits after \\u");
      cp = cp * 16 + d;
      ++pos_;
    }
    return cp;
  }

  // ---- filter expressions: || below &&, && below !, comparisons and tests innermost -------

  Expr logical_or() {
    Expr first = logical_and();
    skip_space();
    if (!(peek() == '|' && peek(1) == '|')) {
      if (peek() == '|') fail("expected '||' for 'or'");
      return first;
    }
    Expr e;
    e.kind = Expr::Kind::Or;
    e.operands.push_back(std::move(first));
    while (peek() == '|' && peek(1) == '|') {
      pos_ += 2;
      e.operands.push_back(logical_and());
      skip_space();
    }
    if (peek() == '|') fail("expected '||' for 'or'");
    return e;
  }

  Expr logical_and() {
    Expr first = unary();
    skip_space();
    if (!(peek() == '&' && peek(1) == '&')) {
      if (peek() == '&') fail("expected '&&' for 'and'");
      return first;
    }
    Expr e;
    e.kind = Expr::Kind::And;
    e.operands.push_back(std::move(first));
    while (peek() == '&' && peek(1) == '&') {
      pos_ += 2;
      e.operands.push_back(unary());
      skip_space();
    }
    if (peek() == '&') fail("expected '&&' for 'and'");
    return e;
  }

  Expr unary() {
    skip_space();
    if (peek() == '!' && peek(1) != '=') {
      ++pos_;
      enter();
      Expr e;
      e.kind = Expr::Kind::Not;
      skip_space();
      if (peek() == '!' || peek() == '(') {
        e.operands.push_back(unary());
      } else {
        // !@.a == 1 reads two ways; make the writer say which
        const std::size_t at = pos_;
        Expr test = comparison();
        if (test.kind == Expr::Kind::Compare)
          fail_at(at, "'!' negates a test; put a comparison in parentheses: !(... == ...)");
        e.operands.push_back(std::move(test));
      }
      leave();
      return e;
    }
    if (eat('(')) {
      enter();
      Expr e = logical_or();
      skip_space();
      if (!eat(')')) fail_expected("')'");
      leave();
      return e;
    }
    return comparison();
  }

  Expr comparison() {
    skip_space();
    const std::size_t left_at = pos_;
    Expr e;
    e.left = operand(kOperandKinds);
    skip_space();
    const std::optional<Compare> op = comparison_op();
    if (!op) {
      if (e.left.kind == Operand::Kind::Literal)
        fail_at(left_at, "a literal alone is not a test; compare it with ==, !=, <, <=, > or >=");
      e.kind = Expr::Kind::Exists;
      return e;
    }
    e.kind = Expr::Kind::Compare;
    e.op = *op;
    skip_space();
    const std::size_t right_at = pos_;
    e.right = operand("a value to compare with: " + std::string(kOperandKinds));
    check_comparable(e.left, left_at);
    check_comparable(e.right, right_at);
    return e;
  }

  void check_comparable(const Operand& o, std::size_t at) const {
    if (o.kind != Operand::Kind::Literal && !is_singular(o.path))
      fail_at(at, "a compared path must name a single value (only names and indexes)");
  }

  std::optional<Compare> comparison_op() {
    const char c = peek(), n = peek(1);
    if (c == '=' && n == '=') return pos_ += 2, Compare::Eq;
    if (c == '!' && n == '=') return pos_ += 2, Compare::Ne;
    if (c == '<' && n == '=') return pos_ += 2, Compare::Le;
    if (c == '>' && n == '=') return pos_ += 2, Compare::Ge;
    if (c == '<') return ++pos_, Compare::Lt;
    if (c == '>') return ++pos_, Compare::Gt;
    if (c == '=') fail("use '==' to compare");
    return std::nullopt;
  }

  Operand operand(std::string_view expected) {
    skip_space();
    Operand o;
    const char c = peek();
    if (at_end()) fail_expected(expected);
    if (c == '@' || c == '$') {
      ++pos_;
      o.kind = c == '@' ? Operand::Kind::Current : Operand::Kind::Root;
      o.path = segments();
    } else if (c == '\'' || c == '"') {
      o.literal = Value(quoted());
    } else if (c == '-' || is_digit(c)) {
      o.literal = number();
    } else if (is_alpha(c)) {
      const std::size_t start = pos_;
      while (is_alpha(peek()) || is_digit(peek()) || peek() == '_') ++pos_;
      const std::string_view word = s_.substr(start, pos_ - start);
      if (word == "true")
        o.literal = Value(true);
      else if (word == "false")
        o.literal = Value(false);
      else if (word == "null")
        o.literal = Value();
      else
        fail_at(start, "unknown word " + repr_text(word) + "; expected " + std::string(expected));
    } else {
      fail_expected(expected);
    }
    return o;
  }

  Value number() {
    const std::size_t start = pos_;
    eat('-');
    if (!is_digit(peek())) fail_expected("digits");
    while (is_digit(peek())) ++pos_;
    bool fractional = false;
    if (peek() == '.' && is_digit(peek(1))) {
      fractional = true;
      ++pos_;
      while (is_digit(peek())) ++pos_;
    }
    if (peek() == 'e' || peek() == 'E') {
      fractional = true;
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (!is_digit(peek())) fail_expected("digits in the exponent");
      while (is_digit(peek())) ++pos_;
    }
    const char* first = s_.data() + start;
    const char* last = s_.data() + pos_;
    if (!fractional) return Value::integer(std::string_view(first, static_cast<std::size_t>(last - first)));
    double d = 0;
    if (std::from_chars(first, last, d).ec != std::errc()) fail_at(start, "number out of range");
    return Value(d);
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

Program parse_program(std::string_view text) {
  Program p;
  p.segments = Parser(text).query();
  p.text = std::string(text);
  return p;
}

}  // namespace tovik::jsonpath
