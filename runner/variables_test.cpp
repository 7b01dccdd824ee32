#include "runner/variables.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"

namespace tovik::runner {

TEST(Variables, WholeReferencesKeepTheKindInnerOnesBecomeText) {
  const Dict vars{{"token", Value("abc")}, {"code", Value(200)}, {"用户", Value("张三")},
                  {"ids", Value::list({Value(1), Value(2)})}, {"none", Value()}};
  const VariableLookup lookup = [&](const std::string& n) { return vars.find(n); };
  EXPECT_EQ(resolve(Value("{code}"), lookup), Value(200));
  EXPECT_TRUE(resolve(Value("{code}"), lookup).is_int());
  EXPECT_EQ(resolve(Value("{ids}"), lookup), Value::list({Value(1), Value(2)}));
  EXPECT_TRUE(resolve(Value("{none}"), lookup).is_none());
  EXPECT_EQ(resolve(Value("Bearer {token}"), lookup), Value("Bearer abc"));
  EXPECT_EQ(resolve(Value("{用户}-{code}-{ids}"), lookup), Value("张三-200-[1, 2]"));
  // unknown names and JSON stay as written
  EXPECT_EQ(resolve(Value("{unknown}"), lookup), Value("{unknown}"));
  EXPECT_EQ(resolve(Value("x {unknown} {token}"), lookup), Value("x {unknown} abc"));
  EXPECT_EQ(resolve(Value(R"({"code": "{code}"})"), lookup), Value(R"({"code": "200"})"));
  EXPECT_EQ(resolve(Value("{}"), lookup), Value("{}"));
  EXPECT_EQ(resolve(Value("{{token}}"), lookup), Value("{abc}"));
  EXPECT_EQ(resolve(Value("{token"), lookup), Value("{token"));
  // containers item by item; other kinds unchanged
  EXPECT_EQ(repr(resolve(Value::list({Value("{code}"), Value(1.5)}), lookup)), "[200, 1.5]");
  EXPECT_EQ(resolve(Value(7), lookup), Value(7));
}

TEST(Templates, DollarReferencesKeepKindsAndUnknownNamesFail) {
  const Dict vars{{"code", Value(200)}, {"token", Value("abc")}, {"obj", Value(Dict{{"a", Value(1)}})}, {"none", Value()}};
  const VariableLookup lookup = [&](const std::string& n) { return vars.find(n); };
  EXPECT_TRUE(expand_templates(Value("${code}"), lookup).is_int());
  EXPECT_EQ(expand_templates(Value("${obj}"), lookup), Value(Dict{{"a", Value(1)}}));
  EXPECT_TRUE(expand_templates(Value("${none}"), lookup).is_none());
  EXPECT_EQ(expand_templates(Value("Bearer ${token}/${code}${code}"), lookup), Value("Bearer abc/200200"));
  EXPECT_EQ(expand_templates(Value("${token}-${obj}"), lookup), Value("abc-{'a': 1}"));
  // "$$" spells a literal "${"; braces without "$" and lone dollars are plain text
  EXPECT_EQ(expand_templates(Value("$${token} costs $5 {token}"), lookup), Value("${token} costs $5 {token}"));
  EXPECT_EQ(expand_templates(Value("$${token}"), lookup), Value("${token}"));
  EXPECT_EQ(expand_templates(Value("$.data[0]"), lookup), Value("$.data[0]"));
  // containers are expanded item by item, keys stay
  const Value nested = expand_templates(Value(Dict{{"${code}", Value::list({Value("${code}"), Value("x${token}")})}}), lookup);
  EXPECT_EQ(repr(nested), "{'${code}': [200, 'xabc']}");
  // an unknown name is an error naming it; an unclosed or empty reference too
  try {
    expand_templates(Value::list({Value("ok"), Value("id=${nobody}")}), lookup);
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_NE(std::string(e.what()).find("${nobody}"), std::string::npos) << e.what();
  }
  EXPECT_THROW(expand_templates(Value("${token"), lookup), ValueError);
  EXPECT_THROW(expand_templates(Value("a ${} b"), lookup), ValueError);
}

}  // namespace tovik::runner
