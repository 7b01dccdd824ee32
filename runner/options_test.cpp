#include "runner/options.hpp"

#include <gtest/gtest.h>

#include "runner/config.hpp"

namespace tovik::runner {

namespace {
OptionParser parser() {
  using A = OptionDecl::Action;
  OptionParser p;
  p.add({{"-k"}, "keyword", A::Store, Value(""), "EXPR", ""});
  p.add({{"-x", "--exitfirst"}, "exitfirst", A::StoreTrue, Value(false), "", ""});
  p.add({{"-v", "--verbose"}, "verbose", A::Count, Value(0), "", ""});
  p.add({{"--maxfail"}, "maxfail", A::Store, Value(0), "num", "", OptionDecl::Type::Integer});
  p.add({{"-o"}, "override_ini", A::Append, Value(), "", ""});
  return p;
}
}  // namespace

TEST(Options, ShortLongCombinedAndPositional) {
  const auto r = parser().parse({"cases", "-vvx", "-klogin", "--maxfail=3", "-o", "a=1", "-o", "b=2", "--", "-odd"});
  EXPECT_EQ(r.values.at("verbose"), Value(2));
  EXPECT_EQ(r.values.at("exitfirst"), Value(true));
  EXPECT_EQ(r.values.at("keyword"), Value("login"));
  EXPECT_EQ(r.values.at("maxfail"), Value(3));
  EXPECT_EQ(r.values.at("override_ini"), Value::list({Value("a=1"), Value("b=2")}));
  EXPECT_EQ(r.paths, (std::vector<std::string>{"cases", "-odd"}));
  const auto d = parser().parse({"-k", "not slow", "--maxfail", "2"});
  EXPECT_EQ(d.values.at("keyword"), Value("not slow"));
  EXPECT_EQ(d.values.at("verbose"), Value(0));  // defaults for options not given
  EXPECT_EQ(d.values.at("maxfail"), Value(2));
}

TEST(Options, MistakesAreUsageErrorsNamingTheOption) {
  const auto message = [](std::vector<std::string> args) {
    try {
      parser().parse(args);
    } catch (const UsageError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message({"--nope"}), "未知的选项: --nope");
  EXPECT_EQ(message({"-z"}), "未知的选项: -z");
  EXPECT_EQ(message({"--maxfail", "many"}), "选项 --maxfail 的值应为整数，实际为 'many'");
  EXPECT_EQ(message({"-k"}), "选项 -k 需要一个值");
  EXPECT_EQ(message({"--exitfirst=yes"}), "选项 --exitfirst 不接受值，却给出了 'yes'");
}

TEST(Options, GetoptionRefusesUnregisteredDestinations) {
  Config c;
  c.options = parser().parse({}).values;
  EXPECT_EQ(c.getoption("maxfail"), Value(0));
  EXPECT_THROW(c.getoption("allure_report_dir"), ValueError);
}

}  // namespace tovik::runner
