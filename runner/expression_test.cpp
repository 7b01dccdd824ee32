#include "runner/expression.hpp"

#include <set>

#include <gtest/gtest.h>

#include "runner/options.hpp"

namespace tovik::runner {

TEST(Expression, PrecedenceAndParentheses) {
  const std::set<std::string> names{"smoke", "login"};
  const auto has = [&](const std::string& n) { return names.count(n) > 0; };
  const auto eval = [&](const char* e) { return Expression::compile(e, "-m").evaluate(has); };
  EXPECT_TRUE(eval("smoke"));
  EXPECT_FALSE(eval("slow"));
  EXPECT_TRUE(eval("not slow"));
  EXPECT_TRUE(eval("slow or smoke and login"));   // and binds tighter
  EXPECT_FALSE(eval("(slow or smoke) and not login"));
  EXPECT_TRUE(eval("not not smoke"));
  EXPECT_TRUE(eval(""));                            // an empty expression selects everything
  EXPECT_TRUE(eval("  (smoke)  "));
}

// A -k list in addopts can name thousands of cases; evaluating or dropping it must not recurse
// once per name (this one overflowed the stack before).
TEST(Expression, LongChainsOfAndOr) {
  constexpr int kNames = 200000;
  std::string any, all;
  for (int i = 0; i < kNames; ++i) {
    any += (i ? " or n" : "n") + std::to_string(i);
    all += (i ? " and n" : "n") + std::to_string(i);
  }
  const std::string last = "n" + std::to_string(kNames - 1);
  EXPECT_TRUE(Expression::compile(any, "-k").evaluate([&](const std::string& n) { return n == last; }));
  EXPECT_FALSE(Expression::compile(all, "-k").evaluate([&](const std::string& n) { return n != last; }));
  EXPECT_TRUE(Expression::compile("x or " + all, "-k").evaluate([&](const std::string& n) { return n != "x"; }));
}

TEST(Expression, MalformedExpressionsNameOptionAndColumn) {
  const auto message = [](const char* e) {
    try {
      Expression::compile(e, "-k");
    } catch (const UsageError& err) {
      return std::string(err.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("a and"), "传给 '-k' 的表达式有误: a and: 第 6 列: 应为 not、( 或名称，实际为表达式结尾");
  EXPECT_EQ(message("(a or b"), "传给 '-k' 的表达式有误: (a or b: 第 8 列: 缺少 ')'");
  EXPECT_EQ(message("a b"), "传给 '-k' 的表达式有误: a b: 第 3 列: 此处不应出现 'b'");
  EXPECT_EQ(message(")"), "传给 '-k' 的表达式有误: ): 第 1 列: 应为 not、( 或名称，实际为 ')'");
  EXPECT_NE(message(std::string(1000, '(').c_str()).find("表达式嵌套过深"), std::string::npos);
}

}  // namespace tovik::runner
