#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "outside/allure/model.hpp"
#include "outside/allure/step.hpp"
#include "support/base/errors.hpp"

namespace tovik::allure {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> names(const std::vector<StepResult>& steps) {
  std::vector<std::string> out;
  for (const auto& s : steps) out.push_back(s.name);
  return out;
}

TEST(AllureSteps, NestInOrderTimedAndScopesRestore) {
  TestResult outer_test, test;
  const std::int64_t before = now_ms();
  {
    ScopedTest outer(outer_test);
    TestContext* outer_ctx = current();
    {
      ScopedTest scope(test);
      EXPECT_EQ(&current()->result(), &test);
      {
        Step a("a", {{"user", "bob"}});
        { Step b("b"); }
        Step c("c");
        Step d("d");
        EXPECT_EQ(current()->innermost()->stage, Stage::Running);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      Step e("e");
    }
    EXPECT_EQ(current(), outer_ctx);
  }
  EXPECT_EQ(current(), nullptr);
  EXPECT_TRUE(outer_test.steps.empty());

  EXPECT_THAT(names(test.steps), ElementsAre("a", "e"));
  const StepResult& a = test.steps[0];
  EXPECT_THAT(names(a.steps), ElementsAre("b", "c"));
  EXPECT_THAT(names(a.steps[1].steps), ElementsAre("d"));
  EXPECT_EQ(a.parameters.at(0).value, "bob");
  const StepResult& d = a.steps[1].steps[0];
  EXPECT_EQ(d.status, Status::Passed);
  EXPECT_EQ(d.stage, Stage::Finished);
  EXPECT_GE(a.start, before);
  EXPECT_LE(a.start, d.start);
  EXPECT_GE(d.stop - d.start, 20);
  EXPECT_GE(a.stop, d.stop);
  EXPECT_LE(a.stop, test.steps[1].start);
}

struct CustomFailure : AssertionError {
  using AssertionError::AssertionError;
  int code = 7;
};

TEST(AllureSteps, StatusFollowsErrorKindAndScope) {
  EXPECT_EQ(status_of(CustomFailure("x")), Status::Failed);
  EXPECT_EQ(status_of(TypeError("x")), Status::Broken);
  EXPECT_EQ(status_of(std::runtime_error("x")), Status::Broken);

  TestResult test;
  {
    ScopedTest scope(test);
    // Passing two step() scopes marks both; the error arrives as thrown, not sliced.
    try {
      step("outer", {}, [] { step("inner", [] { throw CustomFailure("1 != 2"); }); });
      ADD_FAILURE() << "swallowed";
    } catch (const CustomFailure& e) {
      EXPECT_EQ(e.code, 7);
    }
    step("parent", {}, [] {
      try {
        step("child", [] { throw TypeError("bad kind"); });
      } catch (const TypeError&) {
      }
    });
    EXPECT_THROW(step("int", [] { throw 42; }), int);
    try {
      Step raw("raw");
      throw AssertionError("left by exception");
    } catch (const AssertionError&) {
    }
    {
      Step marked("marked");
      marked.broken("gave up");
    }
    EXPECT_EQ(step("value", [] { return 5; }), 5);
  }
  const auto& s = test.steps;
  ASSERT_THAT(names(s), ElementsAre("outer", "parent", "int", "raw", "marked", "value"));
  EXPECT_EQ(s[0].status, Status::Failed);
  EXPECT_EQ(s[0].steps.at(0).status, Status::Failed);
  EXPECT_EQ(s[0].steps.at(0).statusDetails.message, "AssertionError: 1 != 2");
  EXPECT_EQ(s[1].status, Status::Passed);  // caught inside: only the child is marked
  EXPECT_EQ(s[1].steps.at(0).status, Status::Broken);
  EXPECT_EQ(s[1].steps.at(0).statusDetails.message, "TypeError: bad kind");
  EXPECT_EQ(s[2].status, Status::Broken);
  EXPECT_EQ(s[3].status, Status::Broken);
  EXPECT_EQ(s[4].statusDetails.message, "gave up");
  EXPECT_EQ(s[5].status, Status::Passed);
}

TEST(AllureSteps, WithoutCurrentTestOnlyTheCodeRuns) {
  ASSERT_EQ(current(), nullptr);
  int runs = 0;
  EXPECT_EQ(step("s", {{"p", "v"}}, [&] { return ++runs; }), 1);
  EXPECT_THROW(step("s", [&] { ++runs; throw AssertionError("x"); }), AssertionError);
  EXPECT_EQ(runs, 2);
  Step lone("lone");
  lone.attach("a", "text/plain", "x");
  lone.parameter("p", "v");
  lone.fail(AssertionError("x"));
  attach("a", "text/plain", "x");
  EXPECT_EQ(current(), nullptr);
}

TEST(AllureSteps, AttachmentsGoToTheInnermostStep) {
  TestResult test;
  {
    ScopedTest scope(test);
    attach("on test", "text/plain", "t");
    Step outer("outer");
    {
      Step inner("inner");
      attach("in inner", "image/png", std::string("\x89PNG\0", 5));
      outer.attach("outer's own", "text/plain", "x");  // a step attaches to itself
      inner.parameter("password", "hunter2", ParameterMode::Masked);
    }
    attach("outer again", "text/plain", "o2");
  }
  ASSERT_EQ(test.attachments.size(), 1u);
  EXPECT_EQ(test.attachments[0].name, "on test");
  const StepResult& outer = test.steps.at(0);
  ASSERT_EQ(outer.attachments.size(), 2u);
  EXPECT_EQ(outer.attachments[0].name, "outer's own");
  EXPECT_EQ(outer.attachments[1].name, "outer again");
  const StepResult& inner = outer.steps.at(0);
  ASSERT_EQ(inner.attachments.size(), 1u);
  EXPECT_EQ(inner.attachments[0].type, "image/png");
  EXPECT_EQ(inner.attachments[0].content.size(), 5u);
  EXPECT_EQ(inner.parameters.at(0).value, kMaskedValue);
}

TEST(AllureSteps, OpenStepsCloseWithTheirScope) {
  TestResult test;
  std::optional<Step> outer, inner, next, left_open;
  {
    ScopedTest scope(test);
    outer.emplace("outer");
    inner.emplace("inner");
    outer.reset();  // ends before the step opened inside it
    inner.reset();  // already closed: no effect
    next.emplace("next");  // goes to the test, not under the closed steps
    left_open.emplace("left open");
  }
  left_open->fail(AssertionError("late"));  // the test is gone: ignored
  left_open.reset();
  next.reset();

  ASSERT_THAT(names(test.steps), ElementsAre("outer", "next"));
  EXPECT_EQ(test.steps[0].status, Status::Passed);
  EXPECT_EQ(test.steps[0].steps.at(0).status, Status::Broken);
  EXPECT_THAT(test.steps[0].steps.at(0).statusDetails.message, HasSubstr("parent step ended"));
  for (const StepResult* s : {&test.steps[1], &test.steps[1].steps.at(0)}) {
    EXPECT_EQ(s->status, Status::Broken);
    EXPECT_EQ(s->stage, Stage::Finished);
    EXPECT_THAT(s->statusDetails.message, HasSubstr("test ended"));
  }
}

TEST(AllureSteps, ThreadsRecordTheirOwnTest) {
  TestResult a, b;
  auto record = [](TestResult& test, std::string tag) {
    ScopedTest scope(test);
    for (int i = 0; i < 200; ++i)
      step(tag, [&] {
        Step inner(tag);
        attach(tag, "text/plain", tag);
      });
  };
  std::thread ta(record, std::ref(a), "a"), tb(record, std::ref(b), "b");
  ta.join();
  tb.join();
  for (auto [test, tag] : {std::pair{&a, "a"}, std::pair{&b, "b"}}) {
    ASSERT_EQ(test->steps.size(), 200u);
    for (const auto& s : test->steps) {
      ASSERT_EQ(s.steps.size(), 1u);
      EXPECT_EQ(s.steps[0].attachments.at(0).content, tag);
    }
  }
}

TEST(AllureModel, JsonShape) {
  const Json e = Json::parse(to_json_text(TestResult()));
  for (const char* key : {"steps", "attachments", "parameters", "labels", "links"})
    EXPECT_EQ(e.at(key), Json::array()) << key;
  EXPECT_EQ(e["statusDetails"], Json::object());
  EXPECT_FALSE(e.contains("historyId"));

  TestResult test;
  test.name = "login";
  test.historyId = "h1";
  test.status = Status::Failed;
  test.statusDetails = {"AssertionError: no", "trace"};
  test.labels.push_back({"suite", "login"});
  test.parameters.emplace_back("password", "hunter2", ParameterMode::Masked);
  test.parameters.push_back(Parameter("later", "x", ParameterMode::Masked));
  test.parameters.back().value = "assigned-later";
  test.attachments.push_back({"log", "text/plain", "a-attachment.txt", "raw content"});
  {
    ScopedTest scope(test);
    Step s("open page");
  }

  const Json j = Json::parse(to_json_text(test));
  std::vector<std::string> keys;
  for (const auto& [k, _] : j.items()) keys.push_back(k);
  EXPECT_THAT(keys, ElementsAre("uuid", "historyId", "name", "fullName", "status", "statusDetails",
                                "stage", "steps", "attachments", "parameters", "labels", "links",
                                "start", "stop"));
  EXPECT_EQ(j["statusDetails"], (Json{{"message", "AssertionError: no"}, {"trace", "trace"}}));
  EXPECT_EQ(j["labels"][0], (Json{{"name", "suite"}, {"value", "login"}}));
  EXPECT_EQ(j["parameters"][0], (Json{{"name", "password"}, {"value", "******"}, {"mode", "masked"}}));
  EXPECT_EQ(j["attachments"][0],
            (Json{{"name", "log"}, {"source", "a-attachment.txt"}, {"type", "text/plain"}}));
  const Json& step = j["steps"].at(0);
  EXPECT_EQ(step["status"], "passed");
  EXPECT_EQ(step["steps"], Json::array());
  EXPECT_EQ(step["parameters"], Json::array());
  EXPECT_FALSE(step.contains("labels"));
  for (const char* secret : {"hunter2", "assigned-later", "raw content"})
    EXPECT_THAT(j.dump(), Not(HasSubstr(secret))) << secret;
}

TEST(AllureModel, UuidsAreRandomVersion4) {
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::string id = new_uuid();
    ASSERT_EQ(id.size(), 36u);
    for (std::size_t k = 0; k < id.size(); ++k) {
      const bool dash = k == 8 || k == 13 || k == 18 || k == 23;
      ASSERT_EQ(dash, id[k] == '-') << id;
      if (!dash) {
        ASSERT_TRUE((id[k] >= '0' && id[k] <= '9') || (id[k] >= 'a' && id[k] <= 'f')) << id;
      }
    }
    ASSERT_EQ(id[14], '4') << id;
    ASSERT_NE(std::string_view("89ab").find(id[19]), std::string_view::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

}  // namespace
}  // namespace tovik::allure
