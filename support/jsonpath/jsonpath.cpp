// Evaluation of a compiled path: works on pointers into the document and copies only the
// final matches.

#include "support/jsonpath/jsonpath.hpp"

#include <algorithm>
#include <compare>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/jsonpath/jsonpath_program.hpp"

namespace tovik::jsonpath {

namespace {

using Nodes = std::vector<const Value*>;

bool is_container(const Value& v) { return v.is_dict() || v.is_sequence(); }

template <class F>
void for_each_child(const Value& node, F&& f) {
  if (node.is_dict()) {
    for (const auto& entry : node.as_dict()) f(entry.second);
  } else if (node.is_sequence()) {
    for (const Value& item : node.as_list()) f(item);
  }
}

// ---- comparisons: JSON semantics, so bools are not numbers and tuples are arrays -----------

bool is_num(const Value& v) { return v.is_int() || v.is_float(); }

bool json_equal(const Value& a, const Value& b) {
  if (is_num(a) && is_num(b)) return compare_numbers(a, b) == 0;
  if (a.is_sequence() && b.is_sequence()) {
    const List& x = a.as_list();
    const List& y = b.as_list();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
      if (!json_equal(x[i], y[i])) return false;
    return true;
  }
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Value::Kind::None: return true;
    case Value::Kind::Bool: return a.as_bool() == b.as_bool();
    case Value::Kind::Str: return a.as_str() == b.as_str();
    case Value::Kind::Dict: {
      const Dict& x = a.as_dict();
      const Dict& y = b.as_dict();
      if (x.size() != y.size()) return false;
      for (const auto& [key, value] : x) {
        const Value* other = y.find(key);
        if (!other || !json_equal(value, *other)) return false;
      }
      return true;
    }
    case Value::Kind::Object: return a == b;  // identity
    default: return false;
  }
}

// A missing operand (nullptr) equals only another missing one and orders with nothing.
bool equal(const Value* a, const Value* b) {
  if (!a || !b) return !a && !b;
  return json_equal(*a, *b);
}

// Only two numbers or two texts are ordered; anything else makes <, <=, >, >= false.
std::partial_ordering order(const Value* a, const Value* b) {
  if (a && b && is_num(*a) && is_num(*b)) return compare_numbers(*a, *b);
  if (a && b && a->is_str() && b->is_str())
    return a->as_str() <=> b->as_str();  // bytes: code points
  return std::partial_ordering::unordered;
}

bool compare(Compare op, const Value* a, const Value* b) {
  switch (op) {
    case Compare::Eq: return equal(a, b);
    case Compare::Ne: return !equal(a, b);
    case Compare::Lt: return order(a, b) < 0;
    case Compare::Le: return order(a, b) <= 0;
    case Compare::Gt: return order(a, b) > 0;
    case Compare::Ge: return order(a, b) >= 0;
  }
  return false;
}

// ---- selection ---------------------------------------------------------------------------

const Value* array_at(const Value& node, std::int64_t i) {
  if (!node.is_sequence()) return nullptr;
  const List& items = node.as_list();
  const auto n = static_cast<std::int64_t>(items.size());
  if (i < 0) i += n;
  return i >= 0 && i < n ? &items[static_cast<std::size_t>(i)] : nullptr;
}

void slice(const Selector& sel, const List& items, Nodes& out) {
  const auto n = static_cast<std::int64_t>(items.size());
  const std::int64_t step = sel.step;
  // Python's normalisation; bounds end up in [-1, n] so the arithmetic cannot overflow.
  auto bound = [n](std::int64_t v, std::int64_t lo, std::int64_t hi) {
    if (v < 0) v += n;
    return std::clamp(v, lo, hi);
  };
  if (step > 0) {
    const std::int64_t start = sel.start ? bound(*sel.start, 0, n) : 0;
    const std::int64_t end = sel.end ? bound(*sel.end, 0, n) : n;
    for (std::int64_t i = start; i<end; i = end - i> step ? i + step : end)
      out.push_back(&items[static_cast<std::size_t>(i)]);
  } else {
    const std::int64_t start = sel.start ? bound(*sel.start, -1, n - 1) : n - 1;
    const std::int64_t end = sel.end ? bound(*sel.end, -1, n - 1) : -1;
    // i - end + step, not i - end > -step: the step may be INT64_MIN, which has no negation
    for (std::int64_t i = start; i > end; i = i - end + step > 0 ? i + step : end)
      out.push_back(&items[static_cast<std::size_t>(i)]);
  }
}

// Nodes an evaluation may visit, and copy out, before it is refused. Each '..' or filter can
// multiply the work by the document's size ($..*..*..*, a '..' inside a filter of a '..' step),
// so a short path over a small but deep response could otherwise run for hours. Real queries
// stay far below: $..* over a 10 MB response visits about two million nodes.
constexpr std::uint64_t kMaxWork = 10'000'000;

class Evaluator {
 public:
  Evaluator(const Value& root, const std::string& text) : root_(root), text_(text) {}

  // Counts n units of work against kMaxWork.
  void charge(std::uint64_t n) const {
    work_ += n;
    if (work_ > kMaxWork)
      throw ValueError("JSONPath " + repr_text(text_) + " visits more than " + std::to_string(kMaxWork) +
                       " nodes of this document; select less (fewer '..' steps and filters)");
  }

  Nodes run(const Segments& segments, const Value& start) const {
    Nodes current{&start}, next, pending;
    for (const Segment& seg : segments) {
      next.clear();
      for (const Value* node : current) {
        charge(1);
        if (!seg.descendant) {
          for (const Selector& sel : seg.selectors) select(sel, *node, next);
          continue;
        }
        // Pre-order with an explicit stack: deep documents must not exhaust the call stack.
        pending.assign(1, node);
        while (!pending.empty()) {
          const Value* v = pending.back();
          pending.pop_back();
          charge(1);
          for (const Selector& sel : seg.selectors) select(sel, *v, next);
          const std::size_t mark = pending.size();
          for_each_child(*v, [&](const Value& c) {
            if (is_container(c)) pending.push_back(&c);
          });
          std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
        }
      }
      current.swap(next);
      if (current.empty()) break;
    }
    return current;
  }

 private:
  void select(const Selector& sel, const Value& node, Nodes& out) const {
    switch (sel.kind) {
      case Selector::Kind::Name:
        if (node.is_dict())
          if (const Value* v = node.as_dict().find(sel.name)) out.push_back(v);
        break;
      case Selector::Kind::Wildcard:
        for_each_child(node, [&](const Value& c) {
          charge(1);
          out.push_back(&c);
        });
        break;
      case Selector::Kind::Index:
        if (const Value* v = array_at(node, sel.index)) out.push_back(v);
        break;
      case Selector::Kind::FromEnd:
        // (@.length-N) is the index -N; a non-negative offset is past the end whatever the
        // length (and length + offset could overflow)
        if (sel.index < 0)
          if (const Value* v = array_at(node, sel.index)) out.push_back(v);
        break;
      case Selector::Kind::Slice:
        if (node.is_sequence()) {
          const std::size_t before = out.size();
          slice(sel, node.as_list(), out);
          charge(out.size() - before);
        }
        break;
      case Selector::Kind::Filter:
        for_each_child(node, [&](const Value& c) {
          charge(1);
          if (test(*sel.filter, c)) out.push_back(&c);
        });
        break;
    }
  }

  bool test(const Expr& e, const Value& current) const {
    switch (e.kind) {
      case Expr::Kind::Or:
        return std::any_of(e.operands.begin(), e.operands.end(),
                           [&](const Expr& x) { return test(x, current); });
      case Expr::Kind::And:
        return std::all_of(e.operands.begin(), e.operands.end(),
                           [&](const Expr& x) { return test(x, current); });
      case Expr::Kind::Not: return !test(e.operands.front(), current);
      case Expr::Kind::Exists:
        return !run(e.left.path, e.left.kind == Operand::Kind::Root ? root_ : current).empty();
      case Expr::Kind::Compare:
        return compare(e.op, resolve(e.left, current), resolve(e.right, current));
    }
    return false;
  }

  // The single value a compared operand stands for; the parser allows only names and indexes.
  const Value* resolve(const Operand& o, const Value& current) const {
    if (o.kind == Operand::Kind::Literal) return &o.literal;
    const Value* v = o.kind == Operand::Kind::Root ? &root_ : &current;
    for (const Segment& seg : o.path) {
      const Selector& sel = seg.selectors.front();
      if (sel.kind == Selector::Kind::Name) {
        v = v->is_dict() ? v->as_dict().find(sel.name) : nullptr;
      } else {
        v = array_at(*v, sel.index);
      }
      if (!v) return nullptr;
    }
    return v;
  }

  const Value& root_;
  const std::string& text_;
  mutable std::uint64_t work_ = 0;
};

// The nodes of v (itself and everything under it), counted against the evaluator's budget before
// evaluate() copies it: overlapping matches ($..*..*) copy the same subtrees many times.
void charge_copy(const Evaluator& eval, const Value& v) {
  std::vector<const Value*> pending{&v};
  while (!pending.empty()) {
    const Value* node = pending.back();
    pending.pop_back();
    eval.charge(1);
    for_each_child(*node, [&](const Value& c) {
      if (is_container(c))
        pending.push_back(&c);
      else
        eval.charge(1);
    });
  }
}

}  // namespace

Path Path::compile(std::string_view expr) {
  return Path(std::make_shared<const Program>(parse_program(expr)));
}

std::vector<const Value*> Path::select(const Value& root) const {
  return Evaluator(root, program_->text).run(program_->segments, root);
}

std::vector<Value> Path::evaluate(const Value& root) const {
  const Evaluator eval(root, program_->text);
  const Nodes nodes = eval.run(program_->segments, root);
  for (const Value* v : nodes) charge_copy(eval, *v);
  std::vector<Value> out;
  out.reserve(nodes.size());
  for (const Value* v : nodes) out.push_back(*v);
  return out;
}

const std::string& Path::text() const { return program_->text; }

std::vector<Value> query(const Value& root, std::string_view expr) {
  return Path::compile(expr).evaluate(root);
}

}  // namespace tovik::jsonpath
