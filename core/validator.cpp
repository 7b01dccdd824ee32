#include "core/validator.hpp"

#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"
#include "support/base/value_json.hpp"
#include "support/regex/regex.hpp"
#include "support/schema/schema.hpp"

namespace tovik {

bool contains(const Value& container, const Value& item) {
  switch (container.kind()) {
    case Value::Kind::Str:
      if (!item.is_str())
        throw TypeError("'in <string>' requires string as left operand, not " + item.type_name());
      return container.as_str().find(item.as_str()) != std::string::npos;
    case Value::Kind::List:
    case Value::Kind::Tuple:
      for (const auto& e : container.as_list())
        if (e == item) return true;
      return false;
    case Value::Kind::Dict:
      if (item.is_list() || item.is_dict()) throw TypeError("unhashable type: '" + item.type_name() + "'");
      return item.is_str() && container.as_dict().contains(item.as_str());
    default: throw TypeError("argument of type '" + container.type_name() + "' is not iterable");
  }
}

Validator::Validator(BaseKeyWord& parent_, Value value_, std::string assert_name, Value actual_value_)
    : parent(parent_), value(std::move(value_)), verify_name(std::move(assert_name)), actual_value(std::move(actual_value_)) {
  using Method = void (*)(const Value&, const Value&);
  static const std::pair<const char*, Method> methods[] = {
      {"in", &assert_in}, {"contains", &assert_contains}, {"equal", &assert_equal},
      {"re", &assert_re}, {"scheme", &assert_scheme},
  };
  Method method = nullptr;
  for (const auto& [name, m] : methods)
    if (verify_name == name) method = m;
  if (!method) throw AssertionError("未知的断言方法");
  method(value, actual_value);
  log::lexa_utils()->info("断言通过");
}

void Validator::assert_in(const Value& a, const Value& b) {
  if (!contains(b, a)) throw AssertionError();
}

void Validator::assert_contains(const Value& a, const Value& b) {
  if (!contains(a, b)) throw AssertionError();
}

void Validator::assert_equal(const Value& a, const Value& b) {
  if (!(a == b)) throw AssertionError();
}

void Validator::assert_re(const Value& a, const Value& b) {
  if (!a.is_str()) throw TypeError("first argument must be string or compiled pattern, not " + a.type_name());
  if (!b.is_str()) throw TypeError("expected string or bytes-like object, got '" + b.type_name() + "'");
  if (!Regex(a.as_str()).search(b.as_str()))
    throw AssertionError("Regex didn't match: " + str(a) + " not found in " + str(b));
}

void Validator::assert_scheme(const Value& a, const Value& b) {
  const Value sample = a.is_str() ? parse_json(a.as_str()) : a;
  const Value instance = b.is_str() ? parse_json(b.as_str()) : b;
  const Value schema = schema::infer(sample);
  if (!schema::validate(schema, instance).empty())
    throw AssertionError("Response schema invalid  ( a=" + repr(sample) + " on b=" + repr(instance) + ")");
}

}  // namespace tovik
