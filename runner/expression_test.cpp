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

TEST(Expression, MalformedExpressionsNameOptionAndColumn) {
  const auto message = [](const char* e) {
    try {
      Expression::compile(e, "-k");
    } catch (const UsageError& err) {
      return std::string(err.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("a and"), "Wrong expression passed to '-k': a and: at column 6: expected not, ( or a name; got end of input");
  EXPECT_NE(message("(a or b").find("expected ')'"), std::string::npos);
  EXPECT_NE(message("a b").find("unexpected 'b'"), std::string::npos);
  EXPECT_NE(message(")").find("column 1"), std::string::npos);
  EXPECT_NE(message(std::string(1000, '(').c_str()).find("too deeply"), std::string::npos);
}

}  // namespace tovik::runner
