#include "support/base/value.hpp"

#include <cmath>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik {

std::string Object::repr() const { return '<' + type_name() + " object>"; }

Dict::Dict(std::initializer_list<Entry> entries) {
  for (const auto& e : entries) set(e.first, e.second);
}

const Value* Dict::find(std::string_view key) const {
  for (const auto& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

Value* Dict::find(std::string_view key) {
  for (auto& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

const Value& Dict::at(std::string_view key) const {
  if (const Value* v = find(key)) return *v;
  throw KeyError(repr(Value(key)));
}

Value& Dict::at(std::string_view key) {
  if (Value* v = find(key)) return *v;
  throw KeyError(repr(Value(key)));
}

Value& Dict::operator[](std::string_view key) {
  if (Value* v = find(key)) return *v;
  entries_.emplace_back(std::string(key), Value());
  return entries_.back().second;
}

void Dict::set(std::string key, Value value) {
  if (Value* v = find(key)) {
    *v = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

bool Dict::erase(std::string_view key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == key) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

void Dict::update(const Dict& other) {
  for (const auto& e : other) set(e.first, e.second);
}

bool Dict::operator==(const Dict& other) const {
  if (size() != other.size()) return false;
  for (const auto& e : entries_) {
    const Value* v = other.find(e.first);
    if (!v || !(*v == e.second)) return false;
  }
  return true;
}

Value::Value(std::shared_ptr<Object> o) {
  if (o) {
    kind_ = Kind::Object;
    data_ = std::move(o);
  }
}

Value Value::tuple(List items) {
  Value v(std::move(items));
  v.kind_ = Kind::Tuple;
  return v;
}

std::string Value::type_name() const {
  switch (kind_) {
    case Kind::None: return "NoneType";
    case Kind::Bool: return "bool";
    case Kind::Int: return "int";
    case Kind::Float: return "float";
    case Kind::Str: return "str";
    case Kind::List: return "list";
    case Kind::Tuple: return "tuple";
    case Kind::Dict: return "dict";
    case Kind::Object: return std::get<std::shared_ptr<Object>>(data_)->type_name();
  }
  return "object";
}

namespace {
[[noreturn]] void wrong_kind(const Value& v, const char* wanted) {
  throw TypeError("expected " + std::string(wanted) + ", got " + v.type_name() + ": " + repr(v));
}
}  // namespace

bool Value::as_bool() const {
  if (kind_ != Kind::Bool) wrong_kind(*this, "bool");
  return std::get<bool>(data_);
}

std::int64_t Value::as_int() const {
  if (kind_ == Kind::Int) return std::get<std::int64_t>(data_);
  if (kind_ == Kind::Bool) return std::get<bool>(data_) ? 1 : 0;
  wrong_kind(*this, "int");
}

double Value::as_float() const {
  if (kind_ == Kind::Float) return std::get<double>(data_);
  if (kind_ == Kind::Int) return static_cast<double>(std::get<std::int64_t>(data_));
  if (kind_ == Kind::Bool) return std::get<bool>(data_) ? 1.0 : 0.0;
  wrong_kind(*this, "float");
}

const std::string& Value::as_str() const {
  if (kind_ != Kind::Str) wrong_kind(*this, "str");
  return std::get<std::string>(data_);
}

const List& Value::as_list() const {
  if (kind_ != Kind::List && kind_ != Kind::Tuple) wrong_kind(*this, "list");
  return std::get<List>(data_);
}

List& Value::as_list() {
  if (kind_ != Kind::List && kind_ != Kind::Tuple) wrong_kind(*this, "list");
  return std::get<List>(data_);
}

const Dict& Value::as_dict() const {
  if (kind_ != Kind::Dict) wrong_kind(*this, "dict");
  return std::get<Dict>(data_);
}

Dict& Value::as_dict() {
  if (kind_ != Kind::Dict) wrong_kind(*this, "dict");
  return std::get<Dict>(data_);
}

const std::shared_ptr<Object>& Value::as_object() const {
  if (kind_ != Kind::Object) wrong_kind(*this, "object");
  return std::get<std::shared_ptr<Object>>(data_);
}

bool Value::truthy() const {
  switch (kind_) {
    case Kind::None: return false;
    case Kind::Bool: return std::get<bool>(data_);
    case Kind::Int: return std::get<std::int64_t>(data_) != 0;
    case Kind::Float: return std::get<double>(data_) != 0.0;
    case Kind::Str: return !std::get<std::string>(data_).empty();
    case Kind::List:
    case Kind::Tuple: return !std::get<List>(data_).empty();
    case Kind::Dict: return !std::get<Dict>(data_).empty();
    case Kind::Object: return true;
  }
  return false;
}

bool Value::operator==(const Value& other) const {
  const bool num_a = kind_ == Kind::Bool || is_number();
  const bool num_b = other.kind_ == Kind::Bool || other.is_number();
  if (num_a && num_b) {
    if (kind_ != Kind::Float && other.kind_ != Kind::Float) return as_int() == other.as_int();
    return as_float() == other.as_float();
  }
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::None: return true;
    case Kind::Str: return std::get<std::string>(data_) == std::get<std::string>(other.data_);
    case Kind::List:
    case Kind::Tuple: return std::get<List>(data_) == std::get<List>(other.data_);
    case Kind::Dict: return std::get<Dict>(data_) == std::get<Dict>(other.data_);
    case Kind::Object:
      return std::get<std::shared_ptr<Object>>(data_) == std::get<std::shared_ptr<Object>>(other.data_);
    default: return false;
  }
}

}  // namespace tovik
