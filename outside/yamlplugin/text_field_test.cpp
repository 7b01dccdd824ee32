#include "outside/yamlplugin/text_field.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik::yamlplugin {
namespace {

using ::testing::HasSubstr;

// The message of the error form_asserts raises for data, checking its kind.
template <class E>
std::string form_error(const Value& data) {
  try {
    (void)TextField::form_asserts("token", data);
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong kind: ") + describe_error(e);
  }
  return "no error";
}

bool passes(const Dict& fields, const std::string& text) {
  return TextField::form_asserts("token", Value(fields)).validate(text);
}

TEST(TextField, EachRuleAndAllTogether) {
  EXPECT_TRUE(passes({{"equals", Value("abc")}}, "abc"));
  EXPECT_FALSE(passes({{"equals", Value("abc")}}, "abcd"));
  EXPECT_FALSE(passes({{"contains", Value("x")}}, "abc"));
  EXPECT_FALSE(passes({{"startswith", Value("bc")}}, "abc"));
  EXPECT_FALSE(passes({{"endswith", Value("abcd")}}, "abc"));
  EXPECT_TRUE(passes({{"contains", Value("")}, {"startswith", Value("")}, {"endswith", Value("")}}, ""));

  const Dict all{{"startswith", Value("Bearer ")}, {"regex", Value("^Bearer [0-9a-f]+$")}, {"min_length", Value(11)},
                 {"max_length", Value(13)}, {"contains", Value("0a")}, {"endswith", Value("9")}};
  EXPECT_TRUE(passes(all, "Bearer 0af9"));
  EXPECT_FALSE(passes(all, "Bearer 0a9"));     // too short
  EXPECT_FALSE(passes(all, "Bearer 0afz9"));   // pattern
  EXPECT_FALSE(passes(all, "Bearer 0afa0a9")); // too long
}

TEST(TextField, RegexSearchesAnywhereAndLengthsCountCharacters) {
  EXPECT_TRUE(passes({{"regex", Value("\\d{3}")}}, "code 200 ok"));
  EXPECT_FALSE(passes({{"regex", Value("^\\d{3}$")}}, "code 200 ok"));
  EXPECT_TRUE(passes({{"regex", Value("^用户\\w+$")}}, "用户张三"));
  EXPECT_TRUE(passes({{"length", Value(4)}}, "用户张三"));
  EXPECT_TRUE(passes({{"max_length", Value(4)}}, "用户张三"));
  EXPECT_TRUE(passes({{"length", Value(0)}}, ""));
  EXPECT_FALSE(passes({{"min_length", Value(3)}}, "ab"));
}

TEST(TextField, NumbersAndBooleansCompareByTheirTextForm) {
  EXPECT_TRUE(passes({{"equals", Value(200)}}, "200"));
  EXPECT_TRUE(passes({{"equals", Value(1.0)}}, "1.0"));
  EXPECT_TRUE(passes({{"equals", Value(true)}}, "True"));
  EXPECT_TRUE(passes({{"startswith", Value(2)}}, "200"));
  // a plain scalar is short for equals
  EXPECT_TRUE(TextField::form_asserts("code", Value(200)).validate("200"));
  EXPECT_FALSE(TextField::form_asserts("code", Value("ok")).validate("OK"));
  EXPECT_EQ(str(Value(TextField::form_asserts("code", Value(200)).to_dict())), "{'name': 'code', 'equals': '200'}");
}

// Response times and counts: the text must read as a number within the bounds, both inclusive.
TEST(TextField, NumericBoundsReadTheTextAsANumber) {
  const Dict bounds{{"min_value", Value(1)}, {"max_value", Value(500.5)}};
  EXPECT_TRUE(passes(bounds, "1"));
  EXPECT_TRUE(passes(bounds, " 500.5 "));
  EXPECT_TRUE(passes(bounds, "3e2"));
  EXPECT_FALSE(passes(bounds, "0.99"));
  EXPECT_FALSE(passes(bounds, "501"));
  EXPECT_FALSE(passes(bounds, "12ms"));
  EXPECT_FALSE(passes(bounds, ""));
  EXPECT_FALSE(passes(bounds, "nan"));
  EXPECT_EQ(repr(Value(TextField::form_asserts("ms", Value(bounds)).to_dict())),
            "{'name': 'ms', 'min_value': 1.0, 'max_value': 500.5}");
  EXPECT_THROW(TextField::form_asserts("ms", Value(Dict{{"max_value", Value("500")}})), TypeError);
}

TEST(TextField, DictListsTheGivenFieldsInAFixedOrder) {
  const TextField f = TextField::form_asserts(
      "token", Value(Dict{{"msg", Value("令牌不对")}, {"max_length", Value(40)}, {"regex", Value("^\\w+$")},
                          {"contains", Value("a")}, {"min_length", Value(1)}}));
  EXPECT_EQ(repr(Value(f.to_dict())),
            "{'name': 'token', 'contains': 'a', 'regex': '^\\\\w+$', 'min_length': 1, 'max_length': 40, 'msg': '令牌不对'}");
  ASSERT_TRUE(f.msg());
  EXPECT_EQ(*f.msg(), "令牌不对");
  EXPECT_EQ(f.name(), "token");

  const TextField plain = TextField::form_asserts("t", Value(Dict{{"length", Value(3)}, {"msg", Value()}}));
  EXPECT_FALSE(plain.msg());  // "msg:" left empty in YAML
  EXPECT_EQ(repr(Value(plain.to_dict())), "{'name': 't', 'length': 3}");
}

TEST(TextField, BadShapesAreTypeErrors) {
  EXPECT_THAT(form_error<TypeError>(Value()), HasSubstr("断言 token 的内容应为字典"));
  EXPECT_THAT(form_error<TypeError>(Value::list({Value("a")})), HasSubstr("实际为 list: ['a']"));
  EXPECT_THAT(form_error<TypeError>(Value(Dict{{"equals", Value::list({Value(1)})}})),
              HasSubstr("断言 token 的字段 equals 应为文本，实际为 list: [1]"));
  EXPECT_THAT(form_error<TypeError>(Value(Dict{{"msg", Value(Dict{})}, {"length", Value(1)}})), HasSubstr("字段 msg"));
  EXPECT_THAT(form_error<TypeError>(Value(Dict{{"length", Value("3")}})),
              HasSubstr("字段 length 应为非负整数，实际为 str: '3'"));
  EXPECT_THAT(form_error<TypeError>(Value(Dict{{"max_length", Value(true)}})), HasSubstr("实际为 bool: True"));
}

TEST(TextField, BadContentIsAValueErrorNamingIt) {
  EXPECT_EQ(form_error<ValueError>(Value(Dict{{"equal", Value("x")}})),
            "断言 token 中有未知的字段 equal，可用的字段: equals, contains, startswith, endswith, regex, length, "
            "min_length, max_length, min_value, max_value, msg");
  EXPECT_THAT(form_error<ValueError>(Value(Dict{})), HasSubstr("断言 token 没有任何检查字段"));
  EXPECT_THAT(form_error<ValueError>(Value(Dict{{"msg", Value("only a message")}})), HasSubstr("没有任何检查字段"));
  EXPECT_THAT(form_error<ValueError>(Value(Dict{{"length", Value(-1)}})), HasSubstr("字段 length 应为非负整数，实际为 -1"));
  EXPECT_THAT(form_error<ValueError>(Value(Dict{{"min_length", Value(5)}, {"max_length", Value(3)}})),
              HasSubstr("min_length (5) 大于 max_length (3)"));
  const std::string bad_regex = form_error<ValueError>(Value(Dict{{"regex", Value("(unclosed")}}));
  EXPECT_THAT(bad_regex, HasSubstr("断言 token 的字段 regex 不是有效的正则表达式"));
  EXPECT_THAT(bad_regex, HasSubstr("(unclosed"));
}

TEST(TextField, RegexOverBrokenUtf8IsAnErrorNotACrash) {
  const TextField f = TextField::form_asserts("t", Value(Dict{{"regex", Value("a")}}));
  EXPECT_THROW((void)f.validate("a\xff"), ValueError);
  // other rules decide first, so a failing one answers without looking at the encoding
  const TextField g = TextField::form_asserts("t", Value(Dict{{"startswith", Value("b")}, {"regex", Value("a")}}));
  EXPECT_FALSE(g.validate("a\xff"));
  EXPECT_TRUE(TextField::form_asserts("t", Value(Dict{{"length", Value(2)}})).validate("a\xff"));
}

}  // namespace
}  // namespace tovik::yamlplugin
