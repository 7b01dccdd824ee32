#include "support/base/value.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

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

Value Value::integer(std::string_view decimal) {
  std::string_view s = decimal;
  const bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  if (s.empty() || s.find_first_not_of("0123456789") != std::string_view::npos)
    throw ValueError("invalid literal for int() with base 10: " + repr(Value(decimal)));
  while (s.size() > 1 && s[0] == '0') s.remove_prefix(1);
  std::string digits = negative && s != "0" ? "-" : "";
  digits += s;
  std::int64_t n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec == std::errc() && end == digits.data() + digits.size()) return Value(static_cast<long long>(n));
  Value v;
  v.kind_ = Kind::Int;
  v.data_ = BigInt{std::move(digits)};
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
  if (const auto* big = std::get_if<BigInt>(&data_))
    throw OverflowError("int too large to convert to a 64-bit integer: " + big->digits);
  if (kind_ == Kind::Int) return std::get<std::int64_t>(data_);
  if (kind_ == Kind::Bool) return std::get<bool>(data_) ? 1 : 0;
  wrong_kind(*this, "int");
}

double Value::as_float() const {
  if (kind_ == Kind::Float) return std::get<double>(data_);
  if (const auto* big = std::get_if<BigInt>(&data_)) {
    const double d = std::strtod(big->digits.c_str(), nullptr);
    if (!std::isfinite(d)) throw OverflowError("int too large to convert to float");
    return d;
  }
  if (kind_ == Kind::Int) return static_cast<double>(std::get<std::int64_t>(data_));
  if (kind_ == Kind::Bool) return std::get<bool>(data_) ? 1.0 : 0.0;
  wrong_kind(*this, "float");
}

std::string Value::int_text() const {
  if (const auto* big = std::get_if<BigInt>(&data_)) return big->digits;
  if (kind_ == Kind::Int || kind_ == Kind::Bool) return std::to_string(as_int());
  wrong_kind(*this, "int");
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
    case Kind::Int: return std::holds_alternative<BigInt>(data_) || std::get<std::int64_t>(data_) != 0;
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
  if (num_a && num_b) return compare_numbers(*this, other) == 0;
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

namespace {

bool is_numeric(const Value& v) { return v.is_bool() || v.is_number(); }

// Order of two integers given as normalised decimal texts.
std::strong_ordering compare_decimal(std::string_view a, std::string_view b) {
  const bool neg_a = a[0] == '-', neg_b = b[0] == '-';
  if (neg_a != neg_b) return neg_a ? std::strong_ordering::less : std::strong_ordering::greater;
  if (neg_a) {
    a.remove_prefix(1);
    b.remove_prefix(1);
  }
  std::strong_ordering by_magnitude = a.size() <=> b.size();
  if (by_magnitude == 0) by_magnitude = a.compare(b) <=> 0;
  return neg_a ? 0 <=> by_magnitude : by_magnitude;
}

// An integer against a finite float, exactly: the float's whole part written out in full
// (printf gives every digit of an integral double) and then its fraction.
std::partial_ordering compare_int_float(const std::string& digits, double d) {
  const double whole = std::floor(d);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.0f", whole);
  const std::string_view w = std::string_view(buf) == "-0" ? "0" : buf;
  const std::strong_ordering by_whole = compare_decimal(digits, w);
  if (by_whole != 0) return by_whole;
  return whole == d ? std::partial_ordering::equivalent : std::partial_ordering::less;
}

constexpr std::int64_t kExactInDouble = std::int64_t{1} << 53;  // every int up to 2**53 is a double

}  // namespace

std::partial_ordering compare_numbers(const Value& a, const Value& b) {
  if (!is_numeric(a) || !is_numeric(b))
    throw TypeError("'<' not supported between instances of '" + a.type_name() + "' and '" + b.type_name() + "'");
  if (!a.is_float() && !b.is_float()) {
    if (!a.is_big_int() && !b.is_big_int()) return a.as_int() <=> b.as_int();
    return compare_decimal(a.int_text(), b.int_text());
  }
  if (a.is_float() && b.is_float()) return a.as_float() <=> b.as_float();
  const bool flipped = a.is_float();
  const Value& i = flipped ? b : a;
  const double d = (flipped ? a : b).as_float();
  std::partial_ordering r = std::partial_ordering::unordered;
  if (std::isnan(d)) return r;
  if (std::isinf(d)) {
    r = d > 0 ? std::partial_ordering::less : std::partial_ordering::greater;
  } else if (!i.is_big_int() && i.as_int() >= -kExactInDouble && i.as_int() <= kExactInDouble) {
    r = static_cast<double>(i.as_int()) <=> d;
  } else {
    r = compare_int_float(i.int_text(), d);
  }
  return flipped ? 0 <=> r : r;
}

}  // namespace tovik
