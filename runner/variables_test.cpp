#include "runner/variables.hpp"

#include <gtest/gtest.h>

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

}  // namespace tovik::runner
