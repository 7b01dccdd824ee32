// Keyword registration: every keyword of a class is one entry with its name, documentation text,
// report-step title and declared parameters. Dispatch and the documentation command read these.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/base/value.hpp"

namespace tovik {

class BaseKeyWord;

// Declared kinds of keyword parameters; values of another kind fail before the keyword runs.
enum class ParamKind {
  Any,
  Text,          // a text
  Integer,       // a whole number (an integral float such as 3.0 is taken as 3)
  Number,        // an integer or float; always handed on as a float
  TextOrNumber,  // a text, integer or float, handed on unchanged
  Bool,          // true or false
  Mapping,       // a mapping
  OptionalText,  // a text or none
};

// The kind in the words that argument errors and the keyword documentation use ("文本", "整数", ...).
const char* param_kind_text(ParamKind kind);

struct Param {
  std::string name;
  ParamKind kind = ParamKind::Any;
  // No default: the parameter is required.
  std::optional<Value> default_value;
  // A default read when the keyword is called rather than when it was registered.
  std::function<Value()> default_fn;
  // Extra check run after the kind check; it returns the value to hand on or throws.
  std::function<Value(const Value&)> check;
};

Param required(std::string name, ParamKind kind = ParamKind::Any);
Param optional(std::string name, ParamKind kind, Value default_value);

// A number of seconds or the like as Python's float() reads it: numbers, and texts holding a
// decimal number. ValueError for other texts, TypeError for other kinds.
double float_of(const Value& v);

// The arguments of one call, bound to the declared parameters.
class Args {
 public:
  Args(const std::vector<Param>* params, std::vector<Value> values) : params_(params), values_(std::move(values)) {}

  const Value& operator[](std::string_view name) const;
  const Value& at(std::size_t i) const { return values_.at(i); }
  std::size_t size() const { return values_.size(); }
  const std::string& text(std::string_view name) const;
  double number(std::string_view name) const;
  std::int64_t integer(std::string_view name) const;
  bool flag(std::string_view name) const;
  // Parameter names and values in declared order, for report steps.
  const std::vector<Param>& params() const { return *params_; }
  const std::vector<Value>& values() const { return values_; }

 private:
  const std::vector<Param>* params_;
  std::vector<Value> values_;
};

struct KeywordEntry {
  std::string name;
  // Null when the keyword has no documentation text.
  const char* doc = nullptr;
  // Title of the report step the keyword runs in; empty for none.
  std::string step;
  std::vector<Param> params;
  std::function<Value(BaseKeyWord&, const Args&)> method;
  // How log lines and report steps show the arguments (positional, in declared order); null
  // shows them as given. Keywords whose arguments can hold secrets mask them here.
  std::function<List(const List&)> shown_args;

  List shown(const List& args) const { return shown_args ? shown_args(args) : args; }

  // Validates the arguments against the parameters and runs the keyword inside its step.
  // Extra positional arguments and unknown named ones are ignored.
  Value invoke(BaseKeyWord& self, const List& args, const Dict& kwargs = {}) const;
  // Only the binding and validation part of invoke.
  Args bind(const List& args, const Dict& kwargs) const;
  // The value parameter i takes for v, as bind checks it (kind, then the parameter's own check):
  // TypeError or the check's error when it does not fit.
  Value accept(std::size_t i, const Value& v) const;
};

// Builds one entry from a member function of the keyword class.
template <class Cls>
KeywordEntry keyword(std::string name, Value (Cls::*method)(const Args&), const char* doc, std::string step,
                    std::vector<Param> params) {
  KeywordEntry entry;
  entry.name = std::move(name);
  entry.doc = doc;
  entry.step = std::move(step);
  entry.params = std::move(params);
  entry.method = [method](BaseKeyWord& self, const Args& a) -> Value {
    // Keyword classes share one virtual BaseKeyWord, so the way down is a dynamic cast.
    return (dynamic_cast<Cls&>(self).*method)(a);
  };
  return entry;
}

// The keywords of one keyword class: its own entries and, in lookup order, its bases.
class KeywordClass {
 public:
  KeywordClass(std::string name, std::vector<const KeywordClass*> bases, std::vector<KeywordEntry> own);

  const std::string& name() const { return name_; }
  const std::vector<const KeywordClass*>& bases() const { return bases_; }
  // The entries this class defines itself, without inherited ones, in registration order.
  const std::vector<KeywordEntry>& own_keywords() const { return own_; }

  // The entry for a keyword name, searching this class first, then its bases in order.
  const KeywordEntry* find(std::string_view keyword) const;
  // Every keyword name, inherited ones included, ascending by character code. Computed once per
  // class, on first request, then kept.
  const std::vector<std::string>& all_keyword() const;
  bool has_keyword(std::string_view keyword) const;
  // The documentation of every keyword, one block per keyword, to the stream.
  void print_key_doc(std::ostream& out) const;

 private:
  std::string name_;
  std::vector<const KeywordClass*> bases_;
  std::vector<KeywordEntry> own_;
  mutable std::once_flag list_once_;
  mutable std::vector<std::string> all_;
};

}  // namespace tovik
