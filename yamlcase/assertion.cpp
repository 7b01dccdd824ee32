#include "yamlcase/assertion.hpp"

#include <vector>

#include "core/validator.hpp"
#include "outside/allure/step.hpp"
#include "outside/yamlplugin/text_field.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"
#include "support/base/printable.hpp"

namespace tovik {

namespace {

enum class Kind { Equals, NotEquals, In, NotIn, Unknown };

Kind kind_of(const std::string& assert_type) {
  if (assert_type == "equals") return Kind::Equals;
  if (assert_type == "not_equals" || assert_type == "not equals") return Kind::NotEquals;
  if (assert_type == "in") return Kind::In;
  if (assert_type == "not_in" || assert_type == "not in") return Kind::NotIn;
  return Kind::Unknown;
}

void check_pair(Kind kind, const std::string& assert_type, const std::string& msg, const Value& a, const Value& b) {
  const auto logged = [&](const char* op) {
    log::assertion()->info("{}", "assert " + str(a) + op + str(b) + ", " + msg);
  };
  bool ok = false;
  switch (kind) {
    case Kind::Equals:
      logged(" == ");
      ok = a == b;
      break;
    case Kind::NotEquals:
      logged(" != ");
      ok = !(a == b);
      break;
    case Kind::In:
      logged(" in ");
      ok = contains(b, a);
      break;
    case Kind::NotIn:
      logged(" not in ");
      ok = !contains(b, a);
      break;
    case Kind::Unknown: {
      const std::string message = "未知的断言方式: " + assert_type;
      log::assertion()->warn("{}", message);
      throw AssertionError(message);
    }
  }
  if (!ok) throw AssertionError(msg);
}

}  // namespace

Assertion::Assertion(const std::string& assert_type, const Value& assert_data) {
  if (assert_data.is_none()) throw AttributeError("'NoneType' object has no attribute 'items'");
  if (!assert_data.is_dict())
    throw TypeError("断言数据应为字典（消息到 [实际值, 预期值] 的映射），实际为 " + assert_data.type_name() + ": " +
                    repr(assert_data));
  const Kind kind = kind_of(assert_type);
  for (const auto& [msg, pair] : assert_data.as_dict()) {
    if (!pair.is_sequence())
      throw TypeError("断言 " + repr_text(msg) + " 的值应为列表 [实际值, 预期值]，实际为 " + pair.type_name() + ": " +
                      repr(pair));
    if (pair.as_list().size() < 2)
      throw IndexError("断言 " + repr_text(msg) + " 的值应至少有两个元素 [实际值, 预期值]，实际为 " + repr(pair));
    const Value& a = pair.as_list()[0];
    const Value& b = pair.as_list()[1];
    std::vector<allure::Parameter> params;
    if (allure::current())  // the printable forms cost something only when a report records them
      params = {{"msg", repr(Value(msg))}, {"a", repr(a)}, {"assert_type", repr(Value(assert_type))}, {"b", repr(b)}};
    allure::step("执行断言", std::move(params), [&, &msg = msg] { check_pair(kind, assert_type, msg, a, b); });
  }
}

void new_assertion(const std::string& assert_name, const Value& assert_data, const yamlplugin::TemplateGlobals& globals) {
  const auto text_assert = yamlplugin::TextField::form_asserts(assert_name, assert_data);
  const std::string fields = str(Value(text_assert.to_dict()));
  const auto logger = log::assertion();
  logger->debug("{}", "text_assert = " + fields);
  const Value* variable = globals.env_globals().find(assert_name);
  const std::string text_value = variable ? str(*variable) : assert_name;
  logger->debug("{}", "text_value=" + repr_text(text_value));
  const bool is_passed = text_assert.validate(text_value);
  logger->log(is_passed ? spdlog::level::info : spdlog::level::err, "{}",
              "    " + assert_name + ": is_passed=" + (is_passed ? "True" : "False"));
  if (is_passed) return;
  const auto& own = text_assert.msg();
  if (own && !own->empty()) throw AssertionError(*own);
  throw AssertionError(assert_name + " is '" + text_value + "' and does not match the pattern '" + fields + "'.");
}

}  // namespace tovik
