#include "core/validator.hpp"

#include <gtest/gtest.h>

#include "core/base_keyword.hpp"
#include "support/base/errors.hpp"
#include "support/base/log.hpp"

namespace tovik {

namespace {

struct AssertFixture : ::testing::Test {
  AssertFixture() : kw(std::make_shared<Exchange>("/nonexistent-dir/v.yaml"), Value(Dict{})) {
    (void)kw.all_keyword();
    sink->set_pattern("%v");
    log::add_sink(sink);
  }
  ~AssertFixture() override { log::remove_sink(sink); }
  // The message of the AssertionError the keyword raised, or "passed".
  std::string run(List args) {
    try {
      kw.member("_key_assert")(args);
      return "passed";
    } catch (const AssertionError& e) {
      return std::string("AssertionError:") + e.what();
    }
  }
  BaseKeyWord kw;
  std::shared_ptr<log::CaptureSink> sink = std::make_shared<log::CaptureSink>();
};

}  // namespace

TEST_F(AssertFixture, InAndContainsLogTheCallAndTheSuccess) {
  EXPECT_EQ(run({Value("ok"), Value("in"), Value("it is ok")}), "passed");
  const auto msgs = sink->messages();
  ASSERT_EQ(msgs.size(), 4u);
  EXPECT_EQ(msgs[1], "正在断言 value='ok', assert_name='in', actual_value='it is ok'");
  EXPECT_EQ(msgs[2], "断言通过");
  sink->clear();
  EXPECT_EQ(run({Value("ok"), Value("contains"), Value("it is ok")}), "AssertionError:");
  for (const auto& m : sink->messages()) EXPECT_NE(m, "断言通过");
  EXPECT_EQ(run({Value("it is ok"), Value("contains"), Value("ok")}), "passed");
  // membership in lists and mapping keys
  EXPECT_EQ(run({Value(2), Value("in"), Value::list({Value(1), Value(2)})}), "passed");
  EXPECT_EQ(run({Value("k"), Value("in"), Value(Dict{{"k", Value(1)}})}), "passed");
  EXPECT_EQ(run({Value("v"), Value("in"), Value(Dict{{"k", Value("v")}})}), "AssertionError:");
  // only the expected value and the name: compared with the empty text
  EXPECT_EQ(run({Value(""), Value("in")}), "passed");
  EXPECT_EQ(run({Value("x"), Value("equal")}), "AssertionError:");
}

TEST_F(AssertFixture, EqualIncludesTheKind) {
  EXPECT_EQ(run({Value("1"), Value("equal"), Value(1)}), "AssertionError:");
  EXPECT_EQ(run({Value(1), Value("equal"), Value(1)}), "passed");
  EXPECT_EQ(run({Value(Dict{{"a", Value::list({Value(1)})}}), Value("equal"), Value(Dict{{"a", Value::list({Value(1)})}})}),
            "passed");
}

TEST_F(AssertFixture, RegularExpressions) {
  EXPECT_EQ(run({Value("^\\d+$"), Value("re"), Value("12345")}), "passed");
  EXPECT_EQ(run({Value("^\\d+$"), Value("re"), Value("123a5")}),
            "AssertionError:Regex didn't match: ^\\d+$ not found in 123a5");
  EXPECT_EQ(run({Value("用户\\w+"), Value("re"), Value("欢迎 用户张三")}), "passed");
  EXPECT_THROW(run({Value("(unclosed"), Value("re"), Value("x")}), ValueError);
  EXPECT_THROW(run({Value("\\d"), Value("re"), Value(5)}), TypeError);
}

TEST_F(AssertFixture, SchemaInferredFromTheSample) {
  const Value sample(R"({"code": 0, "data": ["a", "b"]})");
  EXPECT_EQ(run({sample, Value("scheme"), Value(R"({"code": 7, "data": [], "extra": true})")}), "passed");
  EXPECT_EQ(run({sample, Value("scheme"), Value(Dict{{"code", Value(1)}, {"data", Value::list({Value("x")})}})}),
            "passed");
  EXPECT_EQ(run({sample, Value("scheme"), Value(R"({"data": ["a"]})")}),
            "AssertionError:Response schema invalid  ( a={'code': 0, 'data': ['a', 'b']} on b={'data': ['a']})");
  EXPECT_NE(run({sample, Value("scheme"), Value(R"({"code": "0", "data": ["a"]})")}), "passed");
  EXPECT_NE(run({sample, Value("scheme"), Value(R"({"code": 0, "data": [1]})")}), "passed");
  EXPECT_THROW(run({sample, Value("scheme"), Value("{not json")}), JsonDecodeError);

  // integers past 64 bits are integers, of either sign; the sample's own floats ask for numbers
  const Value n(R"({"n": 1})");
  for (const char* whole : {R"({"n": 1e19})", R"({"n": -1e19})", R"({"n": 1e300})", R"({"n": 123456789012345678901234567890})"})
    EXPECT_EQ(run({n, Value("scheme"), Value(whole)}), "passed") << whole;
  EXPECT_EQ(run({n, Value("scheme"), Value(R"({"n": 1.5})")}),
            "AssertionError:Response schema invalid  ( a={'n': 1} on b={'n': 1.5})");
  EXPECT_EQ(run({Value(R"({"n": 1e19})"), Value("scheme"), Value(R"({"n": 0.5})")}), "passed");
  EXPECT_EQ(run({Value(R"({"n": -98765432109876543210})"), Value("scheme"), Value(R"({"n": 0.5})")}),
            "AssertionError:Response schema invalid  ( a={'n': -98765432109876543210} on b={'n': 0.5})");
}

TEST_F(AssertFixture, UnknownMethodsAndUncomparableKinds) {
  EXPECT_EQ(run({Value(1), Value("Equal"), Value(1)}), "AssertionError:未知的断言方法");
  EXPECT_EQ(run({Value(1), Value(""), Value(1)}), "AssertionError:未知的断言方法");
  EXPECT_THROW(run({Value(1), Value("in"), Value(5)}), TypeError);
  EXPECT_THROW(run({Value(1), Value("in"), Value("123")}), TypeError);
  // the comparison runs when the validator is built
  EXPECT_THROW(Validator(kw, Value("a"), "in", Value("b")), AssertionError);
  Validator ok(kw, Value("a"), "in", Value("abc"));
  EXPECT_EQ(ok.verify_name, "in");
  EXPECT_EQ(ok.actual_value, Value("abc"));
}

}  // namespace tovik
