#include "yamlcase/assertion.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "outside/allure/model.hpp"
#include "outside/allure/step.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records the report steps and the assertion logger's lines of one check.
class AssertionTest : public ::testing::Test {
 protected:
  AssertionTest() {
    sink_->set_pattern("%l|%v");
    log::add_sink(sink_);
    log::set_level(spdlog::level::debug);
  }
  ~AssertionTest() override {
    log::set_level(spdlog::level::info);
    log::remove_sink(sink_);
  }

  // "passed" or "Kind: message" of what the check raised, with its steps recorded in test_.
  template <class F>
  std::string run(F&& check) {
    allure::ScopedTest scope(test_);
    try {
      check();
      return "passed";
    } catch (const Error& e) {
      return describe_error(e);
    }
  }
  std::string assertion(const std::string& kind, Dict data) {
    return run([&] { Assertion(kind, Value(std::move(data))); });
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& r : sink_->records())
      if (r.logger == "tovik.assertion") out.push_back(std::string(spdlog::level::to_string_view(r.level).data()) + "|" + r.message);
    return out;
  }
  std::vector<allure::Status> statuses() const {
    std::vector<allure::Status> out;
    for (const auto& s : test_.steps) out.push_back(s.status);
    return out;
  }

  allure::TestResult test_;
  std::shared_ptr<log::CaptureSink> sink_ = std::make_shared<log::CaptureSink>();
};

Value pair(Value a, Value b) { return Value::list({std::move(a), std::move(b)}); }

TEST_F(AssertionTest, EveryPairPassesInOrderEachInItsStep) {
  EXPECT_EQ(assertion("equals", {{"状态码", pair(Value(200), Value(200))}, {"", pair(Value("ok"), Value("ok"))},
                                 {"extra ignored", Value::list({Value(1), Value(1.0), Value("x")})}}),
            "passed");
  ASSERT_EQ(test_.steps.size(), 3u);
  const auto& first = test_.steps[0];
  EXPECT_EQ(first.name, "执行断言");
  ASSERT_EQ(first.parameters.size(), 4u);
  std::vector<std::string> shown;
  for (const auto& p : first.parameters) shown.push_back(p.name + "=" + p.value);
  EXPECT_THAT(shown, ElementsAre("msg='状态码'", "a=200", "assert_type='equals'", "b=200"));
  EXPECT_EQ(test_.steps[1].parameters[1].value, "'ok'");
  EXPECT_THAT(statuses(), ElementsAre(allure::Status::Passed, allure::Status::Passed, allure::Status::Passed));
  // texts unquoted, joined as written
  EXPECT_THAT(lines(), ElementsAre("info|assert 200 == 200, 状态码", "info|assert ok == ok, ", "info|assert 1 == 1.0, extra ignored"));
}

TEST_F(AssertionTest, FirstFailureEndsTheCheckWithItsMessage) {
  EXPECT_EQ(assertion("equals", {{"code 不对", pair(Value("200"), Value(200))}, {"never", pair(Value(1), Value(2))}}),
            "AssertionError: code 不对");
  EXPECT_THAT(statuses(), ElementsAre(allure::Status::Failed));
  EXPECT_EQ(test_.steps[0].statusDetails.message, "AssertionError: code 不对");
  EXPECT_THAT(lines(), ElementsAre("info|assert 200 == 200, code 不对"));
  EXPECT_EQ(assertion("equals", {{"", pair(Value(1), Value(2))}}), "AssertionError");  // no message of its own
}

TEST_F(AssertionTest, NotEqualsAndNotInHaveTwoSpellings) {
  for (const char* kind : {"not equals", "not_equals"}) {
    EXPECT_EQ(assertion(kind, {{"m", pair(Value(1), Value("1"))}}), "passed") << kind;
    EXPECT_EQ(assertion(kind, {{"same", pair(Value(1), Value(1.0))}}), "AssertionError: same") << kind;
  }
  for (const char* kind : {"not in", "not_in"}) {
    EXPECT_EQ(assertion(kind, {{"m", pair(Value("x"), Value("abc"))}}), "passed") << kind;
    EXPECT_EQ(assertion(kind, {{"inside", pair(Value("b"), Value("abc"))}}), "AssertionError: inside") << kind;
  }
  const auto logged = lines();
  ASSERT_EQ(logged.size(), 8u);
  EXPECT_EQ(logged[1], "info|assert 1 != 1.0, same");
  EXPECT_EQ(logged[7], "info|assert b not in abc, inside");
}

TEST_F(AssertionTest, InTestsSubstringMembershipAndKeys) {
  EXPECT_EQ(assertion("in", {{"part", pair(Value("成功"), Value("登录成功了"))}}), "passed");
  EXPECT_EQ(assertion("in", {{"member", pair(Value("b"), Value::list({Value("a"), Value("b")}))}}), "passed");
  EXPECT_EQ(assertion("in", {{"no part", pair(Value("b"), Value::list({Value("abc")}))}}), "AssertionError: no part");
  EXPECT_EQ(assertion("in", {{"tuple", pair(Value(2), Value::tuple({Value(1), Value(2)}))}}), "passed");
  EXPECT_EQ(assertion("in", {{"key", pair(Value("id"), Value(Dict{{"id", Value(7)}}))}}), "passed");
  EXPECT_EQ(assertion("in", {{"value", pair(Value(7), Value(Dict{{"id", Value(7)}}))}}), "AssertionError: value");
  EXPECT_THAT(lines().back(), "info|assert 7 in {'id': 7}, value");
}

TEST_F(AssertionTest, InWithABThatCannotContainBreaksTheStep) {
  EXPECT_EQ(assertion("in", {{"m", pair(Value(1), Value(123))}}), "TypeError: argument of type 'int' is not iterable");
  EXPECT_EQ(assertion("not in", {{"m", pair(Value(1), Value("123"))}}),
            "TypeError: 'in <string>' requires string as left operand, not int");
  EXPECT_THAT(statuses(), ElementsAre(allure::Status::Broken, allure::Status::Broken));
  // logged before the comparison fails
  EXPECT_THAT(lines(), ElementsAre("info|assert 1 in 123, m", "info|assert 1 not in 123, m"));
}

TEST_F(AssertionTest, UnknownKindsFailAtTheFirstPairAndLetterCaseCounts) {
  EXPECT_EQ(assertion("Equals", {{"m", pair(Value(1), Value(1))}, {"n", pair(Value(2), Value(2))}}),
            "AssertionError: 未知的断言方式: Equals");
  EXPECT_EQ(assertion("contains", {{"m", pair(Value(1), Value(1))}}), "AssertionError: 未知的断言方式: contains");
  EXPECT_THAT(statuses(), ElementsAre(allure::Status::Failed, allure::Status::Failed));
  EXPECT_THAT(lines(), ElementsAre("warning|未知的断言方式: Equals", "warning|未知的断言方式: contains"));
}

TEST_F(AssertionTest, EmptyOrMissingDataOpensNoStep) {
  EXPECT_EQ(assertion("anything", {}), "passed");
  EXPECT_EQ(run([] { Assertion("equals", Value()); }), "AttributeError: 'NoneType' object has no attribute 'items'");
  EXPECT_EQ(run([] { Assertion("equals", Value::list({Value(1), Value(1)})); }).rfind("TypeError: 断言数据应为字典", 0), 0u);
  EXPECT_THAT(test_.steps, IsEmpty());
  EXPECT_THAT(lines(), IsEmpty());
}

TEST_F(AssertionTest, BadPairsFailBeforeTheirStep) {
  EXPECT_EQ(assertion("equals", {{"ok", pair(Value(1), Value(1))}, {"short", Value::list({Value(1)})}}),
            "IndexError: 断言 'short' 的值应至少有两个元素 [实际值, 预期值]，实际为 [1]");
  EXPECT_EQ(test_.steps.size(), 1u);  // only the pair before it
  EXPECT_EQ(assertion("equals", {{"empty", Value(List{})}}).rfind("IndexError: 断言 'empty'", 0), 0u);
  EXPECT_EQ(assertion("equals", {{"scalar", Value("ab")}}),
            "TypeError: 断言 'scalar' 的值应为列表 [实际值, 预期值]，实际为 str: 'ab'");
  EXPECT_EQ(assertion("equals", {{"none", Value()}}).rfind("TypeError: 断言 'none'", 0), 0u);
  EXPECT_EQ(test_.steps.size(), 1u);
}

// new_assertion ---------------------------------------------------------------------------------

class NewAssertionTest : public AssertionTest {
 protected:
  std::string check(const std::string& name, Value data) {
    return run([&] { new_assertion(name, data, globals_); });
  }
  yamlplugin::TemplateGlobals globals_;
};

TEST_F(NewAssertionTest, ChecksTheTextFormOfTheVariable) {
  globals_.add_globals({{"code", Value(200)}, {"token", Value("ab'c")}});
  EXPECT_EQ(check("code", Value(Dict{{"regex", Value("^2\\d\\d$")}})), "passed");
  EXPECT_EQ(check("token", Value(Dict{{"length", Value(4)}})), "passed");
  EXPECT_THAT(lines(), ElementsAre("debug|text_assert = {'name': 'code', 'regex': '^2\\\\d\\\\d$'}", "debug|text_value='200'",
                                   "info|    code: is_passed=True", "debug|text_assert = {'name': 'token', 'length': 4}",
                                   "debug|text_value=\"ab'c\"", "info|    token: is_passed=True"));
  EXPECT_THAT(test_.steps, IsEmpty());
}

TEST_F(NewAssertionTest, FailureUsesTheCaseMessageOrQuotesValueAndRule) {
  globals_.add_globals({{"user", Value(Dict{{"id", Value(1)}})}});
  EXPECT_EQ(check("user", Value(Dict{{"contains", Value("'id': 2")}, {"msg", Value("")}})),
            "AssertionError: user is '{'id': 1}' and does not match the pattern "
            "'{'name': 'user', 'contains': \"'id': 2\", 'msg': ''}'.");
  EXPECT_EQ(lines().back(), "error|    user: is_passed=False");
  EXPECT_EQ(check("user", Value(Dict{{"startswith", Value("[")}, {"msg", Value("用户信息不对")}})), "AssertionError: 用户信息不对");
}

TEST_F(NewAssertionTest, ANameThatIsNoVariableIsCheckedItself) {
  globals_.add_globals({{"other", Value("x")}});
  EXPECT_EQ(check("literal", Value("literal")), "passed");
  EXPECT_EQ(check("abc", Value(Dict{{"length", Value(2)}})),
            "AssertionError: abc is 'abc' and does not match the pattern '{'name': 'abc', 'length': 2}'.");
  EXPECT_THAT(lines(), ::testing::Contains("debug|text_value='abc'"));
}

TEST_F(NewAssertionTest, ABadRuleFailsBeforeAnyLine) {
  EXPECT_EQ(check("x", Value(Dict{{"equal", Value("x")}})).rfind("ValueError: 断言 x 中有未知的字段 equal", 0), 0u);
  EXPECT_EQ(check("x", Value()).rfind("TypeError: 断言 x 的内容应为字典", 0), 0u);
  EXPECT_THAT(lines(), IsEmpty());
}

}  // namespace
}  // namespace tovik
