#include "support/base/value.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "support/base/errors.hpp"

namespace tovik {

TEST(Value, EqualityFollowsPythonRules) {
  EXPECT_EQ(Value(1), Value(1.0));
  EXPECT_EQ(Value(true), Value(1));
  EXPECT_FALSE(Value("1") == Value(1));
  EXPECT_FALSE(Value::list({Value(1)}) == Value::tuple({Value(1)}));
  EXPECT_EQ(Value(Dict{{"a", Value(1)}, {"b", Value(2)}}), Value(Dict{{"b", Value(2)}, {"a", Value(1)}}));
  EXPECT_FALSE(Value() == Value(0));
  EXPECT_EQ(Value(), Value(nullptr));
}

TEST(Value, TruthAndAccessors) {
  EXPECT_FALSE(Value().truthy());
  EXPECT_FALSE(Value(0.0).truthy());
  EXPECT_FALSE(Value("").truthy());
  EXPECT_FALSE(Value(List{}).truthy());
  EXPECT_TRUE(Value("0").truthy());
  EXPECT_TRUE(Value::list({Value()}).truthy());
  EXPECT_THROW(Value("x").as_int(), TypeError);
  EXPECT_THROW(Value(1).as_str(), TypeError);
  EXPECT_DOUBLE_EQ(Value(3).as_float(), 3.0);
  EXPECT_EQ(Value::tuple({Value(1)}).as_list().size(), 1u);
}

// Integers beyond 64 bits stay exact: made from their digits, compared and written exactly, and
// refused (not wrapped) where a machine integer is needed.
TEST(Value, IntegersBeyond64BitsAreExact) {
  const Value big = Value::integer("12345678901234567890");
  EXPECT_TRUE(big.is_int());
  EXPECT_TRUE(big.is_big_int());
  EXPECT_EQ(big.type_name(), "int");
  EXPECT_EQ(big.int_text(), "12345678901234567890");
  EXPECT_EQ(Value::integer("-0009223372036854775809").int_text(), "-9223372036854775809");
  EXPECT_EQ(Value::integer("+00042"), Value(42));
  EXPECT_FALSE(Value::integer("-9223372036854775808").is_big_int());
  EXPECT_EQ(Value::integer("-0").int_text(), "0");
  for (const char* bad : {"", "-", "1.0", "1e3", " 1", "0x10", "1_0"}) EXPECT_THROW(Value::integer(bad), ValueError) << bad;

  EXPECT_TRUE(big.truthy());
  EXPECT_THROW(big.as_int(), OverflowError);
  EXPECT_DOUBLE_EQ(big.as_float(), 1.2345678901234567e19);
  EXPECT_THROW(Value::integer(std::string(400, '9')).as_float(), OverflowError);

  EXPECT_EQ(big, Value::integer("12345678901234567890"));
  EXPECT_FALSE(big == Value::integer("12345678901234567891"));
  EXPECT_FALSE(big == Value(1.2345678901234567e19));  // the nearest float is another number
  EXPECT_EQ(Value::integer("10000000000000000000"), Value(1e19));
  EXPECT_FALSE(Value::integer("10000000000000000001") == Value(1e19));
  EXPECT_EQ(Value::integer("-10000000000000000000"), Value(-1e19));
}

TEST(Value, NumbersCompareByExactValue) {
  const auto order = [](const Value& a, const Value& b) { return compare_numbers(a, b); };
  const Value two53_plus1(9007199254740993LL);
  EXPECT_EQ(order(two53_plus1, Value(9007199254740992.0)), std::partial_ordering::greater);
  EXPECT_FALSE(two53_plus1 == Value(9007199254740992.0));
  EXPECT_EQ(order(Value(1), Value(1.5)), std::partial_ordering::less);
  EXPECT_EQ(order(Value(-2), Value(-1.5)), std::partial_ordering::less);
  EXPECT_EQ(order(Value(true), Value(0.5)), std::partial_ordering::greater);
  const Value big = Value::integer("-123456789012345678901234567890");
  EXPECT_EQ(order(big, Value(-1e29)), std::partial_ordering::less);
  EXPECT_EQ(order(big, Value(-1.3e29)), std::partial_ordering::greater);
  EXPECT_EQ(order(Value(-1.3e29), big), std::partial_ordering::less);
  EXPECT_EQ(order(big, Value::integer("-123456789012345678901234567891")), std::partial_ordering::greater);
  EXPECT_EQ(order(big, Value(INT64_MIN)), std::partial_ordering::less);
  EXPECT_EQ(order(Value::integer("99999999999999999999"), Value(INT64_MAX)), std::partial_ordering::greater);
  EXPECT_EQ(order(big, Value(-std::numeric_limits<double>::infinity())), std::partial_ordering::greater);
  EXPECT_EQ(order(big, Value(std::nan(""))), std::partial_ordering::unordered);
  EXPECT_THROW(order(Value(1), Value("1")), TypeError);
}

TEST(Dict, KeepsInsertionOrderAndReplacesInPlace) {
  Dict d;
  d.set("b", Value(1));
  d.set("a", Value(2));
  d.set("b", Value(3));
  d["c"] = Value(4);
  std::string order;
  for (const auto& [k, v] : d) order += k;
  EXPECT_EQ(order, "bac");
  EXPECT_EQ(d.at("b"), Value(3));
  EXPECT_THROW(d.at("missing"), KeyError);
  try {
    d.at("missing");
  } catch (const KeyError& e) {
    EXPECT_STREQ(e.what(), "'missing'");
  }
  EXPECT_TRUE(d.erase("a"));
  EXPECT_FALSE(d.erase("a"));
  EXPECT_EQ(d.size(), 2u);
}

TEST(Errors, KindsAndDescriptions) {
  EXPECT_STREQ(NoSuchElementException("x").kind(), "NoSuchElementException");
  EXPECT_EQ(describe_error(AssertionError()), "AssertionError");
  EXPECT_EQ(describe_error(ValueError("bad")), "ValueError: bad");
  EXPECT_EQ(describe_error(std::runtime_error("boom")), "Error: boom");
  const WebDriverException& base = NoSuchElementException("gone");
  EXPECT_STREQ(error_kind(base), "NoSuchElementException");
  const JsonDecodeError decode("j");
  EXPECT_TRUE(dynamic_cast<const ValueError*>(static_cast<const Error*>(&decode)) != nullptr);
}

}  // namespace tovik
