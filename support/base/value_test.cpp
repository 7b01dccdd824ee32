#include "support/base/value.hpp"

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
