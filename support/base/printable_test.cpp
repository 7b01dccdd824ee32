#include "support/base/printable.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace tovik {

TEST(Printable, TextsChooseQuotesAndEscape) {
  EXPECT_EQ(repr(Value("a")), "'a'");
  EXPECT_EQ(repr(Value("")), "''");
  EXPECT_EQ(repr(Value("it's")), "\"it's\"");
  EXPECT_EQ(repr(Value("say \"hi\"")), "'say \"hi\"'");
  EXPECT_EQ(repr(Value("it's \"both\"")), "'it\\'s \"both\"'");
  EXPECT_EQ(repr(Value("back\\slash")), "'back\\\\slash'");
  EXPECT_EQ(repr(Value("a\nb\rc\td")), "'a\\nb\\rc\\td'");
  EXPECT_EQ(repr(Value(std::string("\x00\x01\x1b\x7f", 4))), "'\\x00\\x01\\x1b\\x7f'");
  EXPECT_EQ(repr(Value("\xc2\x85")), "'\\x85'");  // C1 control NEL
  EXPECT_EQ(repr(Value("中文 和 emoji 😀")), "'中文 和 emoji 😀'");
  EXPECT_EQ(repr(Value("\xff")), "'\\xff'");  // a stray byte is shown, not passed on
  // every C0 control character is escaped
  for (int c = 1; c < 0x20; ++c) {
    const std::string r = repr(Value(std::string(1, static_cast<char>(c))));
    EXPECT_EQ(r[1], '\\') << c;
  }
}

TEST(Printable, NumbersNoneAndBooleans) {
  EXPECT_EQ(repr(Value(0)), "0");
  EXPECT_EQ(repr(Value(-42)), "-42");
  EXPECT_EQ(repr(Value(static_cast<long long>(9223372036854775807LL))), "9223372036854775807");
  EXPECT_EQ(repr(Value(std::numeric_limits<long long>::min())), "-9223372036854775808");
  EXPECT_EQ(repr(Value()), "None");
  EXPECT_EQ(repr(Value(true)), "True");
  EXPECT_EQ(repr(Value(false)), "False");
}

TEST(Printable, FloatsLikePythonRepr) {
  EXPECT_EQ(format_float(0.1), "0.1");
  EXPECT_EQ(format_float(1.0), "1.0");
  EXPECT_EQ(format_float(-0.0), "-0.0");
  EXPECT_EQ(format_float(0.0), "0.0");
  EXPECT_EQ(format_float(1e16), "1e+16");
  EXPECT_EQ(format_float(1e15), "1000000000000000.0");
  EXPECT_EQ(format_float(123456789.0), "123456789.0");
  EXPECT_EQ(format_float(1e-7), "1e-07");
  EXPECT_EQ(format_float(0.0001), "0.0001");
  EXPECT_EQ(format_float(0.00001), "1e-05");
  EXPECT_EQ(format_float(1.5e300), "1.5e+300");
  EXPECT_EQ(format_float(-2.5e-300), "-2.5e-300");
  EXPECT_EQ(format_float(0.30000000000000004), "0.30000000000000004");
  EXPECT_EQ(format_float(3.14), "3.14");
  EXPECT_EQ(format_float(1.7976931348623157e308), "1.7976931348623157e+308");
  EXPECT_EQ(format_float(5e-324), "5e-324");
  EXPECT_EQ(format_float(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(format_float(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(format_float(std::nan("")), "nan");
}

TEST(Printable, ContainersAndTextForm) {
  EXPECT_EQ(repr(Value::tuple({})), "()");
  EXPECT_EQ(repr(Value::tuple({Value("a")})), "('a',)");
  EXPECT_EQ(repr(Value::tuple({Value("a"), Value(1)})), "('a', 1)");
  EXPECT_EQ(repr(Value(List{})), "[]");
  EXPECT_EQ(repr(Value::list({Value(1), Value(2.5), Value()})), "[1, 2.5, None]");
  Dict d{{"z", Value(1)}, {"a", Value::list({Value::tuple({Value("x")})})}};
  EXPECT_EQ(repr(Value(d)), "{'z': 1, 'a': [('x',)]}");
  EXPECT_EQ(repr(Value(Dict{})), "{}");
  // text form: only a top-level text loses its quotes
  EXPECT_EQ(str(Value("it's")), "it's");
  EXPECT_EQ(str(Value(Dict{{"k", Value("v")}})), "{'k': 'v'}");
  EXPECT_EQ(str(Value(2.0)), "2.0");
}

}  // namespace tovik
