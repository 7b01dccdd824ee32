#include "outside/allure/model_wire.hpp"

#include <gtest/gtest.h>

#include "support/base/errors.hpp"

namespace tovik::allure {
namespace {

// What a worker recorded comes back whole in the controller: nested steps with their own
// attachments and statuses, a picture's bytes, masked parameters still masked.
TEST(ModelWire, ARecordedCaseComesBackWhole) {
  TestResult t;
  t.name = "登录";
  t.fullName = "test_a.xlsx::登录";
  t.status = Status::Broken;
  t.statusDetails = {"TypeError: x", "test_a.xlsx 第 3 行", true};
  StepResult outer;
  outer.name = "打开页面";
  outer.status = Status::Failed;
  outer.parameters.push_back(Parameter("password", "secret-value", ParameterMode::Masked));
  StepResult inner;
  inner.name = "点击";
  inner.stage = Stage::Interrupted;
  inner.attachments.push_back({"失败截图", "image/png", "", std::string("\x89PNG\0\r\n", 7)});
  inner.start = 5;
  inner.stop = 9;
  outer.steps.push_back(inner);
  t.steps.push_back(outer);
  t.labels.push_back({"tag", "smoke"});
  t.links.push_back({"bug", "http://127.0.0.1/1", "issue"});
  t.start = 1;
  t.stop = 2;

  const TestResult back = from_wire(to_wire(t));
  EXPECT_EQ(to_json_text(back), to_json_text(t));  // everything the report reads
  EXPECT_EQ(back.uuid, t.uuid);
  ASSERT_EQ(back.steps.at(0).steps.at(0).attachments.size(), 1u);
  EXPECT_EQ(back.steps[0].steps[0].attachments[0].content, std::string("\x89PNG\0\r\n", 7));
  EXPECT_EQ(back.steps[0].parameters.at(0).value, kMaskedValue);
  EXPECT_TRUE(back.statusDetails.flaky);

  const std::string bytes = to_wire(t);
  EXPECT_THROW(from_wire(std::string_view(bytes).substr(0, bytes.size() - 3)), ValueError);
  EXPECT_THROW(from_wire(bytes + "x"), ValueError);
}

}  // namespace
}  // namespace tovik::allure
