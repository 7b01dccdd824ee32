#include "core/keyword.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <ostream>

#include "outside/allure/step.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/text.hpp"

namespace tovik {

Param required(std::string name, ParamKind kind) {
  Param p;
  p.name = std::move(name);
  p.kind = kind;
  return p;
}

Param optional(std::string name, ParamKind kind, Value default_value) {
  Param p = required(std::move(name), kind);
  p.default_value = std::move(default_value);
  return p;
}

double float_of(const Value& v) {
  if (v.is_number() || v.is_bool()) return v.is_bool() ? (v.as_bool() ? 1.0 : 0.0) : v.as_float();
  if (!v.is_str()) throw TypeError("float() argument must be a string or a real number, not '" + v.type_name() + "'");
  const std::string s(strip_space(v.as_str()));
  // strtod would take hexadecimal ("0x10" is 16), which is no number to float()
  if (s.find_first_of("xX") != std::string::npos) throw ValueError("could not convert string to float: " + repr(v));
  errno = 0;
  char* end = nullptr;
  const double d = std::strtod(s.c_str(), &end);
  if (s.empty() || !end || *end != '\0' || errno == ERANGE || !std::isfinite(d))
    throw ValueError("could not convert string to float: " + repr(v));
  return d;
}

const char* param_kind_text(ParamKind kind) {
  switch (kind) {
    case ParamKind::Any: return "任意值";
    case ParamKind::Text: return "文本";
    case ParamKind::Integer: return "整数";
    case ParamKind::Number: return "数字";
    case ParamKind::TextOrNumber: return "文本或数字";
    case ParamKind::Bool: return "布尔值";
    case ParamKind::Mapping: return "字典";
    case ParamKind::OptionalText: return "文本或None";
  }
  return "?";
}

namespace {

[[noreturn]] void wrong_kind(const std::string& keyword, const Param& p, const Value& v) {
  throw TypeError("关键字 " + keyword + " 的参数 " + p.name + " 应为" + param_kind_text(p.kind) + "，实际为 " +
                  v.type_name() + ": " + repr(v));
}

Value coerce(const std::string& keyword, const Param& p, const Value& v) {
  switch (p.kind) {
    case ParamKind::Any: return v;
    case ParamKind::Text:
      if (v.is_str()) return v;
      break;
    case ParamKind::Integer:
      if (v.is_int()) return v;
      if (v.is_float() && std::isfinite(v.as_float()) && v.as_float() == std::trunc(v.as_float()) &&
          std::fabs(v.as_float()) < 9.2e18)
        return Value(static_cast<long long>(v.as_float()));
      break;
    case ParamKind::Number:
      if (v.is_number()) return Value(v.as_float());
      break;
    case ParamKind::TextOrNumber:
      if (v.is_str() || v.is_number()) return v;
      break;
    case ParamKind::Bool:
      if (v.is_bool()) return v;
      break;
    case ParamKind::Mapping:
      if (v.is_dict()) return v;
      break;
    case ParamKind::OptionalText:
      if (v.is_str() || v.is_none()) return v;
      break;
  }
  wrong_kind(keyword, p, v);
}

}  // namespace

const Value& Args::operator[](std::string_view name) const {
  for (std::size_t i = 0; i < params_->size(); ++i)
    if ((*params_)[i].name == name) return values_[i];
  throw KeyError("no parameter named " + std::string(name));
}

const std::string& Args::text(std::string_view name) const { return (*this)[name].as_str(); }
double Args::number(std::string_view name) const { return (*this)[name].as_float(); }
std::int64_t Args::integer(std::string_view name) const { return (*this)[name].as_int(); }
bool Args::flag(std::string_view name) const { return (*this)[name].truthy(); }

Args KeywordEntry::bind(const List& args, const Dict& kwargs) const {
  std::vector<Value> values;
  values.reserve(params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    const Param& p = params[i];
    const Value* given = i < args.size() ? &args[i] : kwargs.find(p.name);
    if (given) {
      values.push_back(accept(i, *given));
    } else if (p.default_fn) {
      values.push_back(p.default_fn());
    } else if (p.default_value) {
      values.push_back(*p.default_value);
    } else {
      throw TypeError("关键字 " + name + " 缺少必需的参数 " + p.name);
    }
  }
  return Args(&params, std::move(values));
}

Value KeywordEntry::accept(std::size_t i, const Value& v) const {
  const Param& p = params.at(i);
  Value out = coerce(name, p, v);
  return p.check ? p.check(out) : out;
}

Value KeywordEntry::invoke(BaseKeyWord& self, const List& args, const Dict& kwargs) const {
  Args bound = bind(args, kwargs);
  if (step.empty()) return method(self, bound);
  std::vector<allure::Parameter> step_params;
  if (allure::current()) {
    const List values = shown(bound.values());
    for (std::size_t i = 0; i < params.size(); ++i) step_params.push_back({params[i].name, repr(values.at(i))});
  }
  return allure::step(step, std::move(step_params), [&] { return method(self, bound); });
}

KeywordClass::KeywordClass(std::string name, std::vector<const KeywordClass*> bases, std::vector<KeywordEntry> own)
    : name_(std::move(name)), bases_(std::move(bases)), own_(std::move(own)) {}

const KeywordEntry* KeywordClass::find(std::string_view keyword) const {
  for (const auto& entry : own_)
    if (entry.name == keyword) return &entry;
  for (const KeywordClass* base : bases_)
    if (const KeywordEntry* entry = base->find(keyword)) return entry;
  return nullptr;
}

const std::vector<std::string>& KeywordClass::all_keyword() const {
  std::call_once(list_once_, [this] {
    std::vector<std::string> names;
    std::vector<const KeywordClass*> todo{this};
    while (!todo.empty()) {
      const KeywordClass* c = todo.back();
      todo.pop_back();
      for (const auto& entry : c->own_) names.push_back(entry.name);
      todo.insert(todo.end(), c->bases_.begin(), c->bases_.end());
    }
    // Byte order of UTF-8 is code point order, so this sorts by character code.
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    all_ = std::move(names);
    List items(all_.begin(), all_.end());
    log::lexa_utils()->info("可用关键字: {}", repr(Value::tuple(std::move(items))));
  });
  return all_;
}

bool KeywordClass::has_keyword(std::string_view keyword) const {
  const auto& names = all_keyword();
  return std::binary_search(names.begin(), names.end(), keyword);
}

void KeywordClass::print_key_doc(std::ostream& out) const {
  out << "关键字及其参数\n";
  out << "====================\n";
  for (const auto& name : all_keyword()) {
    const KeywordEntry* entry = find(name);
    if (!entry || !entry->doc) {
      out << "读取关键字文档出错： " << name << "\n";
      continue;
    }
    out << strip_space(entry->doc) << "\n";
    out << "--------------------\n";
  }
  out.flush();
}

}  // namespace tovik
